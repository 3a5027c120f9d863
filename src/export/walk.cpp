// The failures that both renderers share, and the memory that their texts grow in.
#include "export/walk.hpp"

#include <sys/mman.h>

#include <new>

#include "machine.hpp"

namespace kelvora {

MemoryDestination::~MemoryDestination() {
  if (data_ != local_) munmap(data_, capacity_);
}

std::span<char> MemoryDestination::grow(std::size_t used, std::size_t size) {
  if (size <= capacity_) return {data_, capacity_};
  void* data = data_ == local_
                   ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                   : mremap(data_, capacity_, size, MREMAP_MAYMOVE);
  if (data == MAP_FAILED) throw std::bad_alloc();
  if (data_ == local_) std::memcpy(data, local_, used);
  data_ = static_cast<char*>(data);
  capacity_ = size;
  // The whole mapping, so that it stays one piece that can be remapped.
  madvise(data_, capacity_, MADV_HUGEPAGE);
  return {data_, capacity_};
}

void MemoryDestination::release_before(std::size_t offset) {
  constexpr std::size_t page = 4096;
  offset = std::min(offset, size_) / page * page;
  if (data_ != local_ && offset > 0) madvise(data_, offset, MADV_DONTNEED);
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
