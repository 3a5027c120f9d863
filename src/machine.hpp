// Facts about the machine the module runs on.
#pragma once

#include <cstdint>

namespace kelvora {

// The machine's physical memory in bytes (the largest value when it cannot be read). Read once
// per process: asking the system costs hundreds of nanoseconds.
std::uint64_t physical_memory();

}  // namespace kelvora
