// Where an export puts its text. A renderer writes the text in one walk into a buffer that its
// destination provides and enlarges on request, keeping what has been written: the module's
// own calls write straight into the Python str they return (python/game.cpp).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kelvora {

class Destination {
 public:
  // A buffer of at least `size` bytes that begins with the `used` bytes written so far.
  virtual std::span<char> grow(std::size_t used, std::size_t size) = 0;
  // The text is complete: the first `size` bytes of the buffer, UTF-8 whose widest character
  // is of `width` (as Text::width counts it).
  virtual void finish(std::size_t size, unsigned width) = 0;

 protected:
  ~Destination() = default;
};

// Text in memory of its own: a few KiB inside, then the small block that the last one left or
// one from the allocator, remapped as it grows (paths kept too). Needs the interpreter lock.
class MemoryDestination final : public Destination {
 public:
  MemoryDestination() = default;
  MemoryDestination(const MemoryDestination&) = delete;
  MemoryDestination& operator=(const MemoryDestination&) = delete;
  ~MemoryDestination();
  std::span<char> grow(std::size_t used, std::size_t size) override;
  void finish(std::size_t size, unsigned) override { size_ = size; }
  std::string_view text() const { return {data_, size_}; }
  // The buffer as it stands, which grow() would give for any size within it.
  std::span<char> buffer() { return {data_, capacity_}; }
  // Gives back the pages that hold only bytes before `offset`, which will not be read again.
  void release_before(std::size_t offset);

 private:
  alignas(16) char local_[4096];
  char* data_ = local_;
  std::size_t capacity_ = sizeof local_, size_ = 0;
};

}  // namespace kelvora
