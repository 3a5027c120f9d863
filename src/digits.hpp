// Decimal digits of unsigned integers, written in place two at a time from the last: what every
// writer of numbers shares (the drawings' coordinates, the layout's payoffs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvora {

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

// Writes the decimal digits of `value` just before `end`, from the last. Inlined: its callers
// write a few numbers each, millions of times.
template <class Unsigned>
[[gnu::always_inline]] inline void put_digits_before(char* end, Unsigned value) {
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

// The eight decimal digits of `value` (less than 10**8), zeros before it included, as the bytes
// of a little-endian word, the first digit lowest: each byte 0 to 9, '0' still to be added. The
// halves, quarters and bytes of the word are split at once, by multiplications that stand for
// divisions by 100 and 10 within their range.
inline std::uint64_t eight_digits(std::uint32_t value) {
  const std::uint32_t high = value / 10000;
  const std::uint64_t halves = high | std::uint64_t{value - high * 10000} << 32;
  const std::uint64_t hundreds_of = (halves * 10486) >> 20 & 0x0000007F0000007FULL;
  const std::uint64_t quarters = (halves - 100 * hundreds_of) << 16 | hundreds_of;
  const std::uint64_t tens = (quarters * 103) >> 10 & 0x000F000F000F000FULL;
  return (quarters - 10 * tens) << 8 | tens;
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

}  // namespace kelvora
