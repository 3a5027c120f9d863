// The failures that both renderers share, and the memory that their texts grow in.
#include "export/walk.hpp"

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

namespace walk {
namespace {

constexpr std::uintptr_t release_page = std::uintptr_t{2} << 20;

// Gives back the whole 2 MiB pages (huge or not) of [begin, end), bytes that will not be read
// again: written again, they read as zeros first. Returns the part given back, empty (at
// `begin`) if there was none.
std::pair<const char*, const char*> release(const char* begin, const char* end) {
  const auto at = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (at + release_page - 1) & ~(release_page - 1),
                       last = reinterpret_cast<std::uintptr_t>(end) & ~(release_page - 1);
  if (begin >= end || first >= last) return {begin, begin};
  madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
  return {begin + (first - at), begin + (last - at)};
}

// Moves `size` bytes from `from` to `to` a few MiB at a time, in the order that overlapping
// places need, giving back the pages of the old place that lie outside the new one and at or
// beyond `keep` as soon as they have been read: the two places are never both whole in memory.
void move_giving_back(char* to, const char* from, std::size_t size, const char* keep) {
  constexpr std::size_t part = std::size_t{4} << 20;
  if (to < from) {
    const char* free_from = std::max<const char*>({to + size, from, keep});
    for (std::size_t at = 0; at < size; at += part) {
      const std::size_t n = std::min(part, size - at);
      std::memmove(to + at, from + at, n);
      const auto [first, last] = release(free_from, from + at + n);
      if (first != last) free_from = last;
    }
  } else if (to > from) {
    const char* free_to = std::min(from + size, static_cast<const char*>(to));
    for (std::size_t at = size; at > 0;) {
      const std::size_t n = std::min(part, at);
      at -= n;
      std::memmove(to + at, from + at, n);
      const auto [first, last] = release(std::max(from + at, keep), free_to);
      if (first != last) free_to = first;
    }
  }
}

}  // namespace

void out_of_bounds(std::size_t len, std::size_t index) {
  throw RenderFailure(RenderFailure::Kind::fault, "index out of bounds: the len is " +
                                                      std::to_string(len) + " but the index is " +
                                                      std::to_string(index));
}

void Out::grow(std::size_t size) {
  if (parts_ != nullptr) return parts_->make_room(*this, size);
  const std::size_t used = this->size();
  const std::size_t capacity = static_cast<std::size_t>(end_ - begin_);
  const std::span<char> buffer =
      destination_->grow(used, std::max(used + size + spare, capacity * 2));
  begin_ = buffer.data();
  at_ = begin_ + used;
  end_ = begin_ + buffer.size();
}

TwoParts::TwoParts(Destination& destination) : destination_(destination) {
  head.destination_ = &destination;  // which the joined text is finished to
  const std::span<char> buffer = destination.grow(0, 0);
  buffer_ = buffer.data();
  capacity_ = buffer.size();
  head.begin_ = head.at_ = buffer_;
  head.end_ = tail.begin_ = tail.at_ = buffer_ + capacity_ / 2;
  tail.end_ = buffer_ + capacity_;
}

void TwoParts::make_room(const Out& part, std::size_t size) {
  const std::size_t head_size = head.size(), tail_size = tail.size(),
                    tail_at = static_cast<std::size_t>(tail.begin_ - buffer_);
  const std::size_t needed = head_size + tail_size + size + 2 * Out::spare;
  // A buffer at least half free is shared out again as it is; a fuller one grows first.
  if (capacity_ < needed || capacity_ - head_size - tail_size < capacity_ / 2) {
    const std::span<char> buffer =
        destination_.grow(tail_at + tail_size, std::max(needed, capacity_ * 2));
    buffer_ = buffer.data();
    capacity_ = buffer.size();
  }
  // The free room goes to the parts in the proportion of their sizes (half each at first), but
  // at least an eighth to each, so that a part that has only begun does not ask at every line.
  const std::size_t head_need = Out::spare + (&part == &head ? size : 0),
                    tail_need = Out::spare + (&part == &tail ? size : 0);
  const std::size_t free = capacity_ - head_size - tail_size - head_need - tail_need;
  const double head_share =
      std::clamp(head_size + tail_size == 0
                     ? 0.5
                     : static_cast<double>(head_size) / static_cast<double>(head_size + tail_size),
                 0.125, 0.875);
  const std::size_t moved_to = std::min(
      head_size + head_need + static_cast<std::size_t>(static_cast<double>(free) * head_share),
      capacity_ - tail_size - tail_need);
  std::memmove(buffer_ + moved_to, buffer_ + tail_at, tail_size);
  // The tail's old place, where neither part has text now, is given back until written again:
  // the text's memory stays that of its two parts, not of every place the tail has been.
  const char* const old_end = buffer_ + tail_at + tail_size;
  release(buffer_ + std::max(head_size, tail_at),
          std::min<const char*>(old_end, buffer_ + moved_to));
  release(buffer_ + std::max(tail_at, moved_to + tail_size), old_end);
  head.begin_ = buffer_;
  head.at_ = buffer_ + head_size;
  head.end_ = tail.begin_ = buffer_ + moved_to;
  tail.at_ = tail.begin_ + tail_size;
  tail.end_ = buffer_ + capacity_;
}

void TwoParts::join() {
  const std::size_t tail_size = tail.size();
  char* const to = head.at_;
  move_giving_back(to, tail.begin_, tail_size, to);
  head.note_width(tail.widest());
  head.at_ = to + tail_size;
  head.end_ = buffer_ + capacity_;
  tail.begin_ = tail.at_ = tail.end_ = buffer_ + capacity_;
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
