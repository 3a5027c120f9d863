// The pieces of a drawing's text, written through the exports' output: texts, characters and
// numbers in a fixed form that does not depend on the locale.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "export/walk.hpp"

namespace kelvora::draw {

// A number rounded to `decimals` decimals (at most 9), written without trailing zeros: "12",
// "-3.5", "0.25".
struct Fixed {
  double value;
  int decimals;
};

// Numbers given as doubles are written as Fixed with the writer's number of decimals.
class Writer {
 public:
  Writer(walk::Out& out, int decimals) : out_(out), decimals_(decimals) {}

  Writer& operator<<(std::string_view text) {
    out_.put(text);
    return *this;
  }
  Writer& operator<<(char c) { return *this << std::string_view(&c, 1); }
  Writer& operator<<(Fixed number) {
    char digits[40];
    char* at = digits;
    std::int64_t scale = 1;
    for (int i = 0; i < number.decimals; ++i) scale *= 10;
    std::int64_t units = std::llround(number.value * static_cast<double>(scale));
    if (units < 0) {
      *at++ = '-';
      units = -units;
    }
    at = std::to_chars(at, digits + sizeof digits, units / scale).ptr;
    if (std::int64_t fraction = units % scale; fraction != 0) {
      *at++ = '.';
      for (std::int64_t digit = scale / 10; fraction != 0; digit /= 10) {
        *at++ = static_cast<char>('0' + fraction / digit);
        fraction %= digit;
      }
    }
    return *this << std::string_view(digits, static_cast<std::size_t>(at - digits));
  }
  Writer& operator<<(double value) { return *this << Fixed{value, decimals_}; }
  // Text from the user, as UTF-8: the output learns its widest character.
  void note_width(std::string_view text) { out_.note_width(Text::width_of(text)); }

 private:
  walk::Out& out_;
  int decimals_;
};

}  // namespace kelvora::draw
