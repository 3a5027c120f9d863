// The pieces of a drawing's text, written through the exports' output: texts, characters and
// numbers in a fixed form that does not depend on the locale.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "export/walk.hpp"

namespace kelvora::draw {

// A number rounded to `Places` decimals (at most 9), written without trailing zeros: "12",
// "-3.5", "0.25".
template <int Places>
struct Fixed {
  double value;
};

// Numbers given as doubles are written as Fixed<Decimals>; integers as they are.
template <int Decimals>
class Writer {
 public:
  explicit Writer(walk::Out& out) : out_(out) {}

  Writer& operator<<(std::string_view text) {
    out_.put(text);
    return *this;
  }
  Writer& operator<<(char c) { return *this << std::string_view(&c, 1); }
  template <int Places>
  Writer& operator<<(Fixed<Places> number) {
    return fixed<Places>(number.value);
  }
  Writer& operator<<(std::int64_t value) {
    if (value < 0) *this << '-';
    const auto magnitude = static_cast<std::uint64_t>(value);
    out_.put_number(value < 0 ? 0 - magnitude : magnitude);
    return *this;
  }
  Writer& operator<<(double value) { return fixed<Decimals>(value); }
  // Text from the user, as UTF-8: the output learns its widest character.
  void note_width(std::string_view text) { out_.note_width(Text::width_of(text)); }

 private:
  // With the number of decimals known here, the divisions become multiplications.
  template <int Places>
  Writer& fixed(double value) {
    constexpr std::int64_t scale = [] {
      std::int64_t power = 1;
      for (int i = 0; i < Places; ++i) power *= 10;
      return power;
    }();
    char digits[40];
    char* at = digits;
    std::int64_t units = std::llround(value * static_cast<double>(scale));
    if (units < 0) {
      *at++ = '-';
      units = -units;
    }
    at = std::to_chars(at, digits + sizeof digits, units / scale).ptr;
    if (std::int64_t fraction = units % scale; fraction != 0) {
      *at++ = '.';
      char* end = at + Places;
      for (char* digit = end; digit != at; fraction /= 10)
        *--digit = static_cast<char>('0' + fraction % 10);
      while (end[-1] == '0') --end;
      at = end;
    }
    return *this << std::string_view(digits, static_cast<std::size_t>(at - digits));
  }

  walk::Out& out_;
};

}  // namespace kelvora::draw
