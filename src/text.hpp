// Text: a string in 16 bytes, for the names that every node and player carries. Up to 15 bytes
// are kept inside the object (most names are a word or two); longer texts live on the heap.
// A std::string takes 32 bytes, which in a tree of a million nodes is 32 MB of names alone.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora {

class Text {
 public:
  Text() noexcept { inline_[last] = 0; }
  Text(std::string_view text) { assign(text); }  // NOLINT: converts like std::string
  Text(const std::string& text) : Text(std::string_view(text)) {}
  Text(const char* text) : Text(std::string_view(text)) {}
  Text(const Text& other) : Text(other.view()) {}
  Text(Text&& other) noexcept {
    std::memcpy(inline_, other.inline_, sizeof inline_);
    other.inline_[last] = 0;
  }
  Text& operator=(Text other) noexcept {
    release();
    std::memcpy(inline_, other.inline_, sizeof inline_);
    other.inline_[last] = 0;
    return *this;
  }
  ~Text() { release(); }

  std::string_view view() const noexcept {
    if (on_heap()) return {heap_.data, heap_.size & size_mask};
    return {inline_, static_cast<std::size_t>(static_cast<unsigned char>(inline_[last]))};
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT

 private:
  static constexpr std::size_t last = 15;
  // The last byte holds the inline size (0-15), or heap_tag when the text is on the heap. On
  // the heap that byte is the top byte of `size`, so a heap text holds less than 2**56 bytes.
  static constexpr unsigned char heap_tag = 0xFF;
  static constexpr std::uint64_t size_mask = (std::uint64_t{1} << 56) - 1;

  bool on_heap() const noexcept { return static_cast<unsigned char>(inline_[last]) == heap_tag; }

  void assign(std::string_view text) {
    if (text.size() <= last) {
      std::memcpy(inline_, text.data(), text.size());
      inline_[last] = static_cast<char>(text.size());
      return;
    }
    if (text.size() > size_mask) throw std::length_error("text too long");
    char* data = new char[text.size()];
    std::memcpy(data, text.data(), text.size());
    heap_.data = data;
    heap_.size = text.size() | (std::uint64_t{heap_tag} << 56);
  }

  void release() noexcept {
    if (on_heap()) delete[] heap_.data;
  }

  struct Heap {
    char* data;
    std::uint64_t size;  // little-endian: the top byte is inline_[last]
  };
  union {
    char inline_[16];
    Heap heap_;
  };
};

static_assert(sizeof(Text) == 16);
static_assert(std::endian::native == std::endian::little,
              "Text keeps its tag in a size's top byte");

}  // namespace kelvora
