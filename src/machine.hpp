// Facts about the machine the module runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvora {

// The machine's physical memory in bytes (the largest value when it cannot be read). Read once
// per process: asking the system costs hundreds of nanoseconds.
std::uint64_t physical_memory();

// Asks the system to back the whole 2 MiB pages within [begin, begin + size) with huge pages
// when they are first touched: writing a large fresh buffer then takes a few hundred page
// faults instead of one per 4 KiB. Call it before the buffer is written. A hint only: where the
// system declines, nothing changes.
void advise_huge_pages(void* begin, std::size_t size);

}  // namespace kelvora
