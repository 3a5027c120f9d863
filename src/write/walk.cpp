// The failures that both renderers share, and the memory that their texts grow in.
#include "write/walk.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "machine.hpp"

namespace kelvora {

// A block of up to a MiB kept from one text for the next, whose pages are already there.
static char* spare = nullptr;
static std::size_t spare_size = 0;

MemoryDestination::~MemoryDestination() {
  if (data_ == local_) return;
  if (spare != nullptr || capacity_ > (1 << 20)) {
    std::free(data_);
  } else {
    spare = data_;
    spare_size = capacity_;
  }
}

std::span<char> MemoryDestination::grow(std::size_t used, std::size_t size) {
  if (size <= capacity_) return {data_, capacity_};
  const bool first = data_ == local_, reuse = first && spare != nullptr && size <= spare_size;
  // Past a MiB, a block the allocator maps for itself and remaps; the size asked if that fails.
  const std::size_t wanted = size;
  if (size > (1 << 20)) size = std::max(size, std::size_t{64} << 20);
  void* data = reuse ? std::exchange(spare, nullptr) : std::realloc(first ? nullptr : data_, size);
  if (data == nullptr && size > wanted) data = std::realloc(first ? nullptr : data_, size = wanted);
  if (data == nullptr) throw std::bad_alloc();
  if (first) std::memcpy(data, local_, used);
  data_ = static_cast<char*>(data);
  capacity_ = reuse ? spare_size : size;
  advise_huge_pages(data_, data_ + capacity_);
  return {data_, capacity_};
}

void MemoryDestination::release_before(std::size_t offset) {
  const auto at = reinterpret_cast<std::uintptr_t>(data_), page = std::uintptr_t{4096};
  const auto begin = (at + page - 1) / page * page,
             end = (at + std::min(offset, size_)) / page * page;
  if (data_ != local_ && end > begin)
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

namespace walk {

void out_of_bounds(std::size_t len, std::size_t index) {
  throw RenderFailure(RenderFailure::Kind::fault, "index out of bounds: the len is " +
                                                      std::to_string(len) + " but the index is " +
                                                      std::to_string(index));
}

void Out::grow(std::size_t size) {
  const std::size_t used = this->size();
  const std::size_t capacity = static_cast<std::size_t>(end_ - begin_);
  const std::span<char> buffer =
      destination_.grow(used, std::max(used + size + spare, capacity * 2));
  begin_ = buffer.data();
  at_ = begin_ + used;
  end_ = begin_ + buffer.size();
}

void Progress::check(std::size_t text_size) {
  // Reads and clears the interrupt flag without running any Python code, which could change
  // the nodes being walked.
  if (PyOS_InterruptOccurred()) throw RenderFailure(RenderFailure::Kind::interrupted, "");
  // The text, its Python string and room for the rest of the process.
  if (text_size > physical_memory() / 3) {
    throw RenderFailure(RenderFailure::Kind::too_large,
                        "the exported text would not fit in this machine's memory: " +
                            std::to_string(text_size) + " bytes written so far");
  }
}

void cycle(const Decision& node) {
  throw RenderFailure(RenderFailure::Kind::cycle, "the game tree contains a cycle: node " +
                                                      std::to_string(node.node_id) + " ('" +
                                                      std::string(node.name.view()) +
                                                      "') is among its own descendants");
}

}  // namespace walk
}  // namespace kelvora
