// Text: a string in 16 bytes, for the names that every node and player carries. Up to 15 bytes
// are kept inside the object (most names are a word or two); longer texts live on the heap.
// A std::string takes 32 bytes, which in a tree of a million nodes is 32 MB of names alone.
// What the exports need to know of a name is learnt once, when it is set: whether it holds a
// character that DOT escapes, and the widest of its characters.
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
    return {inline_, static_cast<std::size_t>(tag() & inline_size)};
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  // The block that holds a text kept on the heap, or null for one kept inside.
  const char* heap_block() const noexcept { return on_heap() ? heap_.data : nullptr; }
  // Copies the text to `at`, which has room for its size or 16 bytes, whichever is more, and
  // returns the end of the copy: a text kept inside is copied as its 16 bytes, a size known
  // when compiling.
  char* copy_to(char* at) const noexcept {
    const std::string_view text = view();
    if (on_heap()) {
      std::memcpy(at, text.data(), text.size());
    } else {
      std::memcpy(at, inline_, sizeof inline_);
    }
    return at + text.size();
  }

  // Whether the text holds a double quote, a backslash or a line feed.
  bool needs_escape() const noexcept { return (tag() & escape_bit) != 0; }
  // The widest character, by the size that a Python str needs for it: 0 ASCII, 1 up to
  // U+00FF, 2 up to U+FFFF, 3 beyond.
  unsigned width() const noexcept { return (tag() >> width_shift) & 3u; }
  // Of UTF-8 text: the width of its widest character, and whether it needs escaping in DOT.
  static unsigned width_of(std::string_view text) noexcept {
    return traits(text) >> width_shift & 3u;
  }

 private:
  static constexpr std::size_t last = 15;
  // The last byte: the inline size (0-15) in its low four bits, or heap_bit when the text is
  // on the heap, whose size is then in the other seven bytes (less than 2**56 bytes); and the
  // traits, which are the same either way.
  static constexpr unsigned inline_size = 0x0F, width_shift = 4, escape_bit = 0x40;
  static constexpr unsigned heap_bit = 0x80;
  static constexpr std::uint64_t size_mask = (std::uint64_t{1} << 56) - 1;

  unsigned tag() const noexcept { return static_cast<unsigned char>(inline_[last]); }
  bool on_heap() const noexcept { return (tag() & heap_bit) != 0; }

  static unsigned traits(std::string_view text) noexcept {
    unsigned width = 0;
    bool escape = false;
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      escape |= c == '"' || c == '\\' || c == '\n';
      // A sequence's first byte tells its width: C2-C3 up to U+00FF, up to EF within U+FFFF.
      const unsigned w = byte < 0x80 ? 0 : byte < 0xC0 ? 0 : byte < 0xC4 ? 1 : byte < 0xF0 ? 2 : 3;
      width = w > width ? w : width;
    }
    return width << width_shift | (escape ? escape_bit : 0);
  }

  void assign(std::string_view text) {
    const unsigned traits_bits = traits(text);
    if (text.size() <= last) {
      std::memcpy(inline_, text.data(), text.size());
      inline_[last] = static_cast<char>(text.size() | traits_bits);
      return;
    }
    if (text.size() > size_mask) throw std::length_error("text too long");
    char* data = new char[text.size()];
    std::memcpy(data, text.data(), text.size());
    heap_.data = data;
    heap_.size = text.size() | (std::uint64_t{heap_bit | traits_bits} << 56);
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
