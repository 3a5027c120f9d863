// Exact numbers as the user wrote them: a reduced rational of 64-bit parts and the text it was
// written as ("0.1", "1/3", "-2"), which drawings and files show unchanged. Probabilities and
// payoffs that are not 32-bit integers are kept this way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text.hpp"

namespace kelvora {

struct Exact {
  std::uint64_t numerator = 0;    // of the magnitude, reduced with the denominator
  std::uint64_t denominator = 1;  // never 0
  bool negative = false;          // never set for 0
  Text text;                      // as written, in the canonical form of parse_exact

  bool is_integer() const noexcept { return denominator == 1; }
  // -1, 0 or 1 as this number is below, at or above the fraction num/den (den > 0).
  int compare(std::uint64_t num, std::uint64_t den) const noexcept;
};

// Why a text is not an Exact.
enum class ExactProblem { malformed, too_large };

struct ParsedExact {
  std::optional<Exact> value;
  ExactProblem problem = ExactProblem::malformed;
};

// Reads a number written as a decimal, "[+-]digits[.digits][(e|E)[+-]digits]" (".5" and "5."
// too), or a fraction, "[+-]digits/digits", with no spaces. Its text becomes: a decimal in
// positional notation, with the digits written after the point kept (trailing zeros too) and
// the exponent applied ("1e-05" is "0.00001"); a fraction reduced ("2/4" is "1/2", "4/2" is
// "2"); a leading "+" and leading zeros dropped, "-" kept unless the value is 0. A value whose
// reduced numerator or denominator needs more than 64 bits (or a fraction with a part of more
// than 64 bits before reducing) is too large.
ParsedExact parse_exact(std::string_view text);

// The number n/d (d > 0), written as a fraction ("3/2", or "3" when d divides n).
std::optional<Exact> exact_fraction(bool negative, std::uint64_t n, std::uint64_t d);

// The exact sum of fractions of 64-bit parts, to be compared with 1.
class Sum {
 public:
  void add(std::uint64_t numerator, std::uint64_t denominator);
  // -1, 0 or 1 as the sum is below, at or above 1.
  int compare_to_one() const;

 private:
  // Σ numerator_i * (common / denominator_i) over common, both as little-endian 32-bit limbs.
  std::vector<std::uint32_t> total_{0};
  std::vector<std::uint32_t> common_{1};
};

}  // namespace kelvora
