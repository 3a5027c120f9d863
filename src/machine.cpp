// Facts about the machine the module runs on.
#include "machine.hpp"

#include <unistd.h>

#include <limits>

namespace kelvora {
namespace {

std::uint64_t read_physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

}  // namespace

std::uint64_t physical_memory() {
  static const std::uint64_t bytes = read_physical_memory();
  return bytes;
}

}  // namespace kelvora
