// Facts about the machine the module runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvora {

// The machine's physical memory in bytes (the largest value when it cannot be read). Read once
// per process: asking the system costs hundreds of nanoseconds.
std::uint64_t physical_memory();

// Asks the system to back the memory block that starts at `block` and holds the bytes up to
// `end` with huge pages when they are first touched: writing a large fresh buffer then takes a
// few hundred page faults instead of one per 4 KiB. The advice covers every page of the block
// and the few bytes that an allocator keeps after it: advice on part of a block splits its
// mapping, which the allocator can then no longer remap when the block grows, and copies. A
// hint only: where the system declines, nothing changes.
void advise_huge_pages(const void* block, const void* end);

}  // namespace kelvora
