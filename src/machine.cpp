// Facts about the machine the module runs on.
#include "machine.hpp"

#include <sys/mman.h>
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

void advise_huge_pages(const void* block, const void* end) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t page = 4096, huge_page = std::uintptr_t{1} << 21, kept_after = 64;
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(block) & ~(page - 1);
  const std::uintptr_t last =
      (reinterpret_cast<std::uintptr_t>(end) + kept_after + page - 1) & ~(page - 1);
  if (last - first >= huge_page)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)end;
#endif
}

}  // namespace kelvora
