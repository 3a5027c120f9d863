// The text of a drawing, written straight into its destination's buffer: texts, characters and
// numbers in a fixed form that does not depend on the locale. A writer asks for room once per
// piece (a dot, a label) and puts its bytes there, numbers made digit by digit in place.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "digits.hpp"
#include "layout/scene.hpp"
#include "text.hpp"
#include "write/destination.hpp"

namespace kelvora::draw {

using layout::Release;

// A number rounded to `Places` decimals (at most 9), written without trailing zeros: "12",
// "-3.5", "0.25".
template <int Places>
struct Fixed {
  double value;
};

// The most bytes that put_fixed writes.
constexpr std::size_t fixed_size = 32;

// Writes the `Places` decimals of `fraction` (less than 10**Places) after a point, without
// trailing zeros, or nothing when it is 0; returns the end. Two and three places (the drawings'
// lengths) are written whole and then cut, the others digit by digit.
template <int Places>
char* put_fraction(char* at, std::uint32_t fraction) {
  if constexpr (Places == 2) {
    // ".dd", less its last digit when that is 0, or nothing at all.
    at[0] = '.';
    std::memcpy(at + 1, digit_pairs.text + fraction * 2, 2);
    return at + (fraction == 0 ? 0 : fraction % 10 == 0 ? 2 : 3);
  } else if constexpr (Places == 3) {
    const std::uint32_t high = fraction / 100, low = fraction - high * 100;
    at[0] = '.';
    at[1] = static_cast<char>('0' + high);
    std::memcpy(at + 2, digit_pairs.text + low * 2, 2);
    return at + (fraction == 0 ? 0 : low == 0 ? 2 : low % 10 == 0 ? 3 : 4);
  } else {
    if (fraction == 0) return at;
    *at++ = '.';
    char* end = at + Places;
    char* digit = end;
    for (std::uint32_t rest = fraction; digit != at; rest /= 100) {
      if (digit - at == 1) {
        *--digit = static_cast<char>('0' + rest);
        break;
      }
      digit -= 2;
      std::memcpy(digit, digit_pairs.text + rest % 100 * 2, 2);
    }
    while (end[-1] == '0') --end;
    return end;
  }
}

// 10**Places.
template <int Places>
constexpr std::uint32_t power_of_ten = [] {
  std::uint32_t power = 1;
  for (int i = 0; i < Places; ++i) power *= 10;
  return power;
}();

// put_fixed of a value (times 10**Places: `scaled`) whose units need more than 32 bits, or of a
// value that is not a number: apart, so that the common case keeps to few registers.
template <int Places>
[[gnu::noinline]] char* put_large_fixed(char* at, double scaled) {
  constexpr std::uint32_t scale = power_of_ten<Places>;
  const double magnitude = std::fabs(scaled);
  std::uint64_t units;
  if (magnitude < 9e18) {
    units = static_cast<std::uint64_t>(magnitude);
    units += magnitude - static_cast<double>(units) >= 0.5;
  } else {
    const std::int64_t rounded = std::llround(scaled);
    units =
        rounded < 0 ? 0 - static_cast<std::uint64_t>(rounded) : static_cast<std::uint64_t>(rounded);
  }
  if (scaled < 0 && units != 0) *at++ = '-';
  at = put_digits(at, units / scale);
  return put_fraction<Places>(at, static_cast<std::uint32_t>(units % scale));
}

// Writes `value` rounded to `Places` decimals (half away from zero, as std::llround), without
// trailing zeros; returns the end. A number that rounds to zero has no sign.
template <int Places>
char* put_fixed(char* at, double value) {
  static_assert(Places >= 1 && Places <= 9);
  constexpr std::uint32_t scale = power_of_ten<Places>;
  const double scaled = value * static_cast<double>(scale);
  const double magnitude = std::fabs(scaled);
  if (magnitude < 4294967295.0) {
    // Truncation, then a half up: the difference of a double and its whole part is exact, and
    // the sum stays within 32 bits.
    auto units = static_cast<std::uint32_t>(magnitude);
    units += magnitude - static_cast<double>(units) >= 0.5;
    if (scaled < 0 && units != 0) *at++ = '-';
    if constexpr (Places <= 3) {
      // The units' last eight digits as one word, written whole from the first digit that
      // counts (the digits above them first, if any), then the point and the decimals, cut
      // after the last that is not 0.
      static_assert(std::endian::native == std::endian::little);
      constexpr int whole_bytes = 8 - Places;
      constexpr std::uint32_t eight = 100000000;
      std::uint32_t low = units;
      int skip = 0;
      if (units >= eight) {
        const std::uint32_t top = units / eight;  // at most 42
        low = units - top * eight;
        if (top >= 10) {
          std::memcpy(at, digit_pairs.text + 2 * top, 2);
          at += 2;
        } else {
          *at++ = static_cast<char>('0' + top);
        }
      }
      const std::uint64_t digits = eight_digits(low);
      const std::uint64_t text = digits + 0x3030303030303030ULL;
      if (units < eight) {
        // Zeros before the whole part's first digit, which may itself be 0.
        skip = __builtin_ctzll(digits | std::uint64_t{1} << (8 * (whole_bytes - 1))) / 8;
      }
      const std::uint64_t whole = text >> (8 * skip);
      std::memcpy(at, &whole, 8);
      at += whole_bytes - skip;
      const auto point = static_cast<std::uint32_t>(text >> (8 * whole_bytes)) << 8 | '.';
      std::memcpy(at, &point, 4);
      const int decimals = (std::bit_width(digits >> (8 * whole_bytes)) + 7) / 8;
      return at + decimals + (decimals != 0);
    }
    const std::uint32_t whole = units / scale;
    char* const end = at + digit_count(whole);
    put_digits_before(end, whole);
    return put_fraction<Places>(end, units - whole * scale);
  }
  return put_large_fixed<Places>(at, scaled);
}

// The texts of the numbers written last, by their values' bits: a drawing writes the same
// coordinates over and over (every node of a level at one height, an edge's start at its node).
template <int Places>
class Numbers {
 public:
  // The cache of every drawing: a number's text never changes, and drawings are written one
  // at a time under the interpreter lock, so it is made once and kept.
  static Numbers& kept() {
    static Numbers numbers;
    return numbers;
  }

  // Every entry starts as the number +0 (its bits all 0), written "0", so that any entry may be
  // taken as it stands.
  Numbers() {
    for (Entry& entry : entries_) {
      entry.bits = 0;
      std::memset(entry.text, 0, sizeof entry.text);
      entry.text[0] = '0';
      entry.size = 1;
    }
  }

  // Writes put_fixed<Places>(value) at `at`, which has room for fixed_size bytes; returns the
  // end.
  char* put(char* at, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Entry& entry = entries_[(bits * 0x9E3779B97F4A7C15ULL) >> (64 - log_size)];
    if (entry.bits == bits) {
      std::memcpy(at, entry.text, sizeof entry.text);
      return at + entry.size;
    }
    char* const end = put_fixed<Places>(at, value);
    const auto size = static_cast<std::size_t>(end - at);
    if (size <= sizeof entry.text) {
      entry.bits = bits;
      entry.size = static_cast<std::uint8_t>(size);
      std::memcpy(entry.text, at, sizeof entry.text);
    }
    return end;
  }

 private:
  static constexpr int log_size = 9;
  // A number's bits and text (a longer one is not kept), in one cache line.
  struct Entry {
    std::uint64_t bits;
    char text[16];
    std::uint8_t size;
  };
  static_assert(fixed_size >= sizeof(Entry::text));
  Entry entries_[1 << log_size];
};

// Copies a text; returns the end.
inline char* put(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}
// Copies a literal, in a size known when compiling.
template <std::size_t Size>
char* put(char* at, const char (&text)[Size]) {
  std::memcpy(at, text, Size - 1);
  return at + Size - 1;
}
// Copies one of two literals, as `first` chooses, each in a size known when compiling.
template <std::size_t A, std::size_t B>
char* put_either(char* at, bool first, const char (&a)[A], const char (&b)[B]) {
  return first ? put(at, a) : put(at, b);
}

// Copies a text that is followed by at least `Slack` readable bytes, into room for as many
// more: a short one as a block of that size, in a few moves rather than a call.
template <std::size_t Slack>
char* put_short(char* at, std::string_view text) {
  if (text.size() <= Slack) {
    std::memcpy(at, text.data(), Slack);
  } else {
    std::memcpy(at, text.data(), text.size());
  }
  return at + text.size();
}

// Where the texts of paths' last points lie in the text written (its offset and sizes, packed
// into 64 bits), so that the dots at those points copy them rather than write their numbers
// again.
class PathEnds {
 public:
  explicit PathEnds(std::size_t paths) { ends_.grow(paths); }
  // A line of the path being written ends at a point written at `offset`, of `first` and
  // `second` bytes (the two numbers of an SVG point, or a TikZ point whole and 0).
  void line(std::size_t offset, std::size_t first, std::size_t second) {
    last_ = offset << 16 | first << 8 | second;
  }
  // A curve of the path being written: its end is not kept.
  void curve() { last_ = 0; }
  // The path is written: its end is the last line's, if its last segment is one.
  void end_path() {
    ends_.push_back(last_);
    last_ = 0;
  }
  std::size_t offset(std::uint32_t path) const { return ends_[path] >> 16; }
  std::size_t first(std::uint32_t path) const { return ends_[path] >> 8 & 0xFF; }
  std::size_t second(std::uint32_t path) const { return ends_[path] & 0xFF; }
  // No end is read again.
  void release() { Release::all(ends_); }

 private:
  layout::Block<std::uint64_t, 64> ends_;
  std::uint64_t last_ = 0;
};

// Copies `size` bytes from earlier in the same text, into room for `Least` more: a short one
// as a block of that size where the text goes on for as long from there.
template <std::size_t Least>
char* put_again(char* at, const char* from, std::size_t size) {
  if (size <= Least && from + Least <= at) {
    std::memcpy(at, from, Least);
  } else {
    std::memcpy(at, from, size);
  }
  return at + size;
}

// Gives back the pages of a scene's text as its labels are written out in order, where their
// texts lie in that order (a player's label reads the size of its name just before its text).
class TextRelease {
 public:
  explicit TextRelease(const layout::Scene& scene)
      : text_(scene.text), next_(scene.text_in_order ? 0 : UINT64_MAX) {}
  void before(const layout::Scene& scene, const layout::Label& label) {
    if (label.text < next_) return;
    next_ = label.text + step;
    text_.before(scene.text,
                 scene.text.data() + label.text - std::min<std::uint64_t>(label.text, 4), 0);
  }

 private:
  static constexpr std::uint64_t step = std::uint64_t{1} << 20;
  Release text_;
  std::uint64_t next_;  // the least offset of a text at which pages are given back again
};

// Gives back the pages of a scene's paths, and of their segments and points, as the paths are
// written out in order.
class PathRelease {
 public:
  explicit PathRelease(const layout::Scene& scene)
      : paths_(scene.paths), segments_(scene.segments), points_(scene.points) {}
  // The paths before `path`, and what they alone hold, are written out. Their segments and
  // points go back with the paths, a MiB of paths at a time.
  void before(const layout::Scene& scene, const layout::Path& path) {
    if (!paths_.before(scene.paths, &path)) return;
    segments_.before(scene.segments, scene.segments.data() + path.first_segment, 0);
    if (path.segment_count > 0) {
      points_.before(scene.points, scene.points.data() + scene.segments[path.first_segment].first,
                     0);
    }
  }

 private:
  Release paths_, segments_, points_;
};

// Numbers given as doubles are written as Fixed<Decimals>; integers as they are.
template <int Decimals>
class Writer {
 public:
  explicit Writer(Destination& destination) : destination_(destination) {
    const std::span<char> buffer = destination.grow(0, 0);
    begin_ = at_ = buffer.data();
    end_ = buffer.data() + buffer.size();
  }

  // Room for `size` bytes at the end of the text, to be written and then handed back with
  // advance().
  char* room(std::size_t size) {
    if (static_cast<std::size_t>(end_ - at_) < size + spare) grow(size);
    return at_;
  }
  // The text now ends at `end`, within the room asked for.
  void advance(char* end) { at_ = end; }
  // Where a byte written at `at` lies in the text, and the bytes from there: what is written
  // stays, though the buffer may move as it grows.
  std::size_t offset(const char* at) const { return static_cast<std::size_t>(at - begin_); }
  const char* written(std::size_t offset) const { return begin_ + offset; }

  Writer& operator<<(std::string_view text) {
    advance(put(room(text.size()), text));
    return *this;
  }
  // A literal, copied in a size known when compiling.
  template <std::size_t Size>
  Writer& operator<<(const char (&text)[Size]) {
    char* at = room(Size - 1);
    std::memcpy(at, text, Size - 1);
    advance(at + Size - 1);
    return *this;
  }
  Writer& operator<<(char c) {
    char* at = room(1);
    *at = c;
    advance(at + 1);
    return *this;
  }
  template <int Places>
  Writer& operator<<(Fixed<Places> number) {
    advance(put_fixed<Places>(room(fixed_size), number.value));
    return *this;
  }
  Writer& operator<<(std::int64_t value) {
    char* at = room(fixed_size);
    if (value < 0) *at++ = '-';
    const auto magnitude = static_cast<std::uint64_t>(value);
    advance(put_digits(at, value < 0 ? 0 - magnitude : magnitude));
    return *this;
  }
  Writer& operator<<(double value) { return *this << Fixed<Decimals>{value}; }
  // Text from the user, as UTF-8: the output learns its widest character.
  void note_width(std::string_view text) { note_width(Text::width_of(text)); }
  void note_width(unsigned width) { widest_ = width > widest_ ? width : widest_; }

  // Hands the text to the destination.
  void finish() { destination_.finish(static_cast<std::size_t>(at_ - begin_), widest_); }

 private:
  static constexpr std::size_t spare = 32;

  void grow(std::size_t size) {
    const auto used = static_cast<std::size_t>(at_ - begin_);
    const auto capacity = static_cast<std::size_t>(end_ - begin_);
    const std::size_t wanted = used + size + spare;
    const std::span<char> buffer =
        destination_.grow(used, wanted > 2 * capacity ? wanted : 2 * capacity);
    begin_ = buffer.data();
    at_ = begin_ + used;
    end_ = begin_ + buffer.size();
  }

  Destination& destination_;
  char* begin_;
  char* at_;
  char* end_;
  unsigned widest_ = 0;
};

// The text of the point where the last path began: the edges from one node follow each other
// and all begin at the node, so that point is written out once. `put_point` writes a point in
// at most `PointSize` bytes.
template <int Places, std::size_t PointSize>
class PathStart {
 public:
  template <class PutPoint>
  char* put(char* at, layout::Point point, Numbers<Places>& numbers, PutPoint put_point) {
    if (size_ == 0 || std::memcmp(&point, &point_, sizeof point) != 0) {
      point_ = point;
      size_ = static_cast<std::size_t>(put_point(text_, point, numbers) - text_);
    }
    return put_short<64>(at, std::string_view(text_, size_));
  }

 private:
  layout::Point point_{0, 0};
  std::size_t size_ = 0;
  char text_[PointSize + fixed_size + 64];
};

}  // namespace kelvora::draw
