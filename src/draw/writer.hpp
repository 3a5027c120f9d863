// The text of a drawing, written straight into its destination's buffer: texts, characters and
// numbers in a fixed form that does not depend on the locale. A writer asks for room once per
// piece (a dot, a label) and puts its bytes there, numbers made digit by digit in place.
#pragma once

#include <sys/mman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "layout/scene.hpp"
#include "text.hpp"
#include "write/destination.hpp"

namespace kelvora::draw {

// A number rounded to `Places` decimals (at most 9), written without trailing zeros: "12",
// "-3.5", "0.25".
template <int Places>
struct Fixed {
  double value;
};

// The pairs of decimal digits "00" to "99".
inline constexpr struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
} digit_pairs;

// The number of decimal digits of `value`: from its bit length, then one comparison.
inline std::size_t digit_count(std::uint64_t value) {
  static constexpr std::uint64_t powers[] = {0,
                                             10,
                                             100,
                                             1000,
                                             10000,
                                             100000,
                                             1000000,
                                             10000000,
                                             100000000,
                                             1000000000,
                                             10000000000,
                                             100000000000,
                                             1000000000000,
                                             10000000000000,
                                             100000000000000,
                                             1000000000000000,
                                             10000000000000000,
                                             100000000000000000,
                                             1000000000000000000,
                                             10000000000000000000U};
  const int bits = 64 - __builtin_clzll(value | 1);
  const int guess = (bits * 1233) >> 12;  // log10 of 2**bits, rounded down
  return static_cast<std::size_t>(guess + (value >= powers[guess]));
}

// Writes the decimal digits of `value` just before `end`, from the last.
template <class Unsigned>
void put_digits_before(char* end, Unsigned value) {
  // Four digits at a time, each pair of them found apart from the other.
  while (value >= 10000) {
    const Unsigned rest = value / 10000;
    const auto four = static_cast<std::uint32_t>(value - rest * 10000);
    const std::uint32_t high = four / 100, low = four - high * 100;
    end -= 4;
    std::memcpy(end, digit_pairs.text + high * 2, 2);
    std::memcpy(end + 2, digit_pairs.text + low * 2, 2);
    value = rest;
  }
  while (value >= 100) {
    const Unsigned rest = value / 100;
    end -= 2;
    std::memcpy(end, digit_pairs.text + (value - rest * 100) * 2, 2);
    value = rest;
  }
  if (value >= 10) {
    std::memcpy(end - 2, digit_pairs.text + value * 2, 2);
  } else {
    end[-1] = static_cast<char>('0' + value);
  }
}

// Writes the decimal digits of `value` at `at`; returns the end.
inline char* put_digits(char* at, std::uint64_t value) {
  char* const end = at + digit_count(value);
  if (value >> 32 == 0) {
    put_digits_before(end, static_cast<std::uint32_t>(value));
  } else {
    put_digits_before(end, value);
  }
  return end;
}

// The most bytes that put_fixed writes.
constexpr std::size_t fixed_size = 32;

// Writes `value` rounded to `Places` decimals (half away from zero, as std::llround), without
// trailing zeros; returns the end. A number that rounds to zero has no sign.
template <int Places>
char* put_fixed(char* at, double value) {
  constexpr std::int64_t scale = [] {
    std::int64_t power = 1;
    for (int i = 0; i < Places; ++i) power *= 10;
    return power;
  }();
  const double scaled = value * static_cast<double>(scale);
  const double magnitude = std::fabs(scaled);
  std::uint64_t units;
  if (magnitude < 9e18) {
    // Truncation, then a half up: the difference of a double and its whole part is exact.
    units = static_cast<std::uint64_t>(magnitude);
    units += magnitude - static_cast<double>(units) >= 0.5;
  } else {
    const std::int64_t rounded = std::llround(scaled);
    units =
        rounded < 0 ? 0 - static_cast<std::uint64_t>(rounded) : static_cast<std::uint64_t>(rounded);
  }
  if (scaled < 0 && units != 0) *at++ = '-';
  std::uint64_t whole, fraction;
  if (units >> 32 == 0) {
    const auto small = static_cast<std::uint32_t>(units);
    whole = small / static_cast<std::uint32_t>(scale);
    fraction = small - static_cast<std::uint32_t>(whole) * static_cast<std::uint32_t>(scale);
  } else {
    whole = units / scale;
    fraction = units % scale;
  }
  at = put_digits(at, whole);
  if (fraction != 0) {
    *at++ = '.';
    char* end = at + Places;
    char* digit = end;
    for (auto rest = static_cast<std::uint32_t>(fraction); digit != at; rest /= 100) {
      if (digit - at == 1) {
        *--digit = static_cast<char>('0' + rest);
        break;
      }
      digit -= 2;
      std::memcpy(digit, digit_pairs.text + rest % 100 * 2, 2);
    }
    while (end[-1] == '0') --end;
    at = end;
  }
  return at;
}

// The texts of the numbers written last, by their values' bits: a drawing writes the same
// coordinates over and over (every node of a level at one height, an edge's start at its node).
template <int Places>
class Numbers {
 public:
  Numbers() { std::memset(size_, 0, sizeof size_); }

  // Writes put_fixed<Places>(value) at `at`, which has room for fixed_size bytes; returns the
  // end.
  char* put(char* at, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::size_t k = (bits * 0x9E3779B97F4A7C15ULL) >> (64 - log_size);
    if (size_[k] != 0 && bits_[k] == bits) {
      std::memcpy(at, text_[k], sizeof text_[k]);
      return at + size_[k];
    }
    char* const end = put_fixed<Places>(at, value);
    const auto size = static_cast<std::size_t>(end - at);
    if (size <= sizeof text_[k]) {
      bits_[k] = bits;
      size_[k] = static_cast<std::uint8_t>(size);
      std::memcpy(text_[k], at, sizeof text_[k]);
    }
    return end;
  }

 private:
  static constexpr int log_size = 8;
  // An entry is valid once its size is set; only the sizes start cleared.
  std::uint8_t size_[1 << log_size];
  std::uint64_t bits_[1 << log_size];
  char text_[1 << log_size][24];
};

// Copies a text; returns the end.
inline char* put(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
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

// Gives back to the system the pages of a scene's array that have been written out and will not
// be read again, so that a large drawing does not hold its scene and its text in full at once.
class Release {
 public:
  // Frees the whole array, its pages given back first: a block that the allocator keeps for
  // reuse would still count as the process's.
  template <class T>
  static void all(std::vector<T>& items) {
    Release release;
    release.before(items, items.data() + items.size(), 0);
    std::vector<T>().swap(items);
  }
  // The items of `items` before `done` are written out: their pages are given back a few MiB
  // at a time.
  template <class T>
  void before(const std::vector<T>& items, const T* done, std::uintptr_t least = step) {
    const auto begin = reinterpret_cast<std::uintptr_t>(items.data());
    const auto end = reinterpret_cast<std::uintptr_t>(done) & ~(page - 1);
    if (released_ < begin) released_ = (begin + page - 1) & ~(page - 1);
    if (end <= released_ || end - released_ < least) return;
    madvise(reinterpret_cast<void*>(released_), end - released_, MADV_DONTNEED);
    released_ = end;
  }

 private:
  static constexpr std::uintptr_t page = 4096, step = std::uintptr_t{4} << 20;
  std::uintptr_t released_ = 0;
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

  Writer& operator<<(std::string_view text) {
    advance(put(room(text.size()), text));
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
