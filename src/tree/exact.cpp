// Exact numbers: reading them from their text, and adding fractions exactly, over numbers of
// as many 32-bit limbs as they need.
#include "tree/exact.hpp"

#include <algorithm>
#include <numeric>
#include <string>

namespace kelvora {
namespace {

using Limbs = std::vector<std::uint32_t>;
using Wide = unsigned __int128;

// More significant digits than any number of 64-bit parts can be written with: a numerator
// below 2**64 over 10**k with k <= 64 after reducing has fewer than 20 + 45 of them.
constexpr std::size_t max_digits = 100;
// The largest exponent read; beyond it nothing but 0 fits, and 0 written so is refused too.
constexpr long max_exponent = 400;

void trim(Limbs& a) {
  while (a.size() > 1 && a.back() == 0) a.pop_back();
}

void multiply(Limbs& a, std::uint64_t m) {
  Wide carry = 0;
  for (std::uint32_t& limb : a) {
    const Wide t = Wide{limb} * m + carry;
    limb = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  for (; carry != 0; carry >>= 32) a.push_back(static_cast<std::uint32_t>(carry));
  trim(a);
}

void add(Limbs& a, const Limbs& b) {
  if (a.size() < b.size()) a.resize(b.size(), 0);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::uint64_t t = std::uint64_t{a[i]} + (i < b.size() ? b[i] : 0) + carry;
    a[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) a.push_back(static_cast<std::uint32_t>(carry));
}

// Divides `a` by d (> 0) in place and returns the remainder.
std::uint64_t divide(Limbs& a, std::uint64_t d) {
  Wide rest = 0;
  for (std::size_t i = a.size(); i-- > 0;) {
    const Wide t = rest << 32 | a[i];
    a[i] = static_cast<std::uint32_t>(t / d);
    rest = t % d;
  }
  trim(a);
  return static_cast<std::uint64_t>(rest);
}

std::uint64_t remainder(const Limbs& a, std::uint64_t d) {
  Wide rest = 0;
  for (std::size_t i = a.size(); i-- > 0;) rest = (rest << 32 | a[i]) % d;
  return static_cast<std::uint64_t>(rest);
}

int compare(const Limbs& a, const Limbs& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

std::optional<std::uint64_t> to_u64(const Limbs& a) {
  if (a.size() > 2) return std::nullopt;
  return std::uint64_t{a[0]} | (a.size() == 2 ? std::uint64_t{a[1]} << 32 : 0);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The digits at the front of `text`, taken off it.
std::string_view take_digits(std::string_view& text) {
  std::size_t n = 0;
  while (n < text.size() && is_digit(text[n])) ++n;
  const std::string_view digits = text.substr(0, n);
  text.remove_prefix(n);
  return digits;
}

std::optional<std::uint64_t> parse_u64(std::string_view digits) {
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (__builtin_mul_overflow(value, 10u, &value) ||
        __builtin_add_overflow(value, static_cast<unsigned>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

ParsedExact too_large() { return ParsedExact{std::nullopt, ExactProblem::too_large}; }

// The value of the decimal `digits` / 10**scale, with `text` as its written form.
ParsedExact decimal_value(bool negative, std::string_view digits, std::size_t scale,
                          std::string text) {
  // Trailing zeros after the point and leading zeros change nothing of the value.
  while (scale > 0 && !digits.empty() && digits.back() == '0') {
    digits.remove_suffix(1);
    --scale;
  }
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  if (digits.empty()) scale = 0;
  if (digits.size() > max_digits) return too_large();
  Limbs number{0};
  for (const char c : digits) {
    multiply(number, 10);
    add(number, Limbs{static_cast<std::uint32_t>(c - '0')});
  }
  // number / (2**twos * 5**fives), reduced: what is not a factor of number stays below.
  std::size_t twos = scale, fives = scale;
  while (twos > 0 && (number[0] & 1u) == 0) {
    divide(number, 2);
    --twos;
  }
  while (fives > 0 && remainder(number, 5) == 0) {
    divide(number, 5);
    --fives;
  }
  std::uint64_t denominator = 1;
  for (std::size_t i = 0; i < twos + fives; ++i) {
    if (__builtin_mul_overflow(denominator, i < twos ? 2u : 5u, &denominator)) return too_large();
  }
  const std::optional<std::uint64_t> numerator = to_u64(number);
  if (!numerator) return too_large();
  Exact exact{*numerator, denominator, negative && *numerator != 0, Text()};
  if (exact.negative) text.insert(text.begin(), '-');
  exact.text = std::move(text);
  return ParsedExact{std::move(exact)};
}

}  // namespace

int Exact::compare(std::uint64_t num, std::uint64_t den) const noexcept {
  if (negative) return -1;
  const Wide mine = Wide{numerator} * den, theirs = Wide{num} * denominator;
  return mine < theirs ? -1 : mine > theirs ? 1 : 0;
}

std::optional<Exact> exact_fraction(bool negative, std::uint64_t n, std::uint64_t d) {
  if (d == 0) return std::nullopt;
  const std::uint64_t g = std::gcd(n, d);
  n /= g;
  d /= g;
  std::string text = negative && n != 0 ? "-" : "";
  text += std::to_string(n);
  if (d != 1) text.append(1, '/').append(std::to_string(d));
  return Exact{n, d, negative && n != 0, Text(text)};
}

ParsedExact parse_exact(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const std::string_view whole = take_digits(text);
  if (!text.empty() && text[0] == '/') {
    text.remove_prefix(1);
    const std::string_view below = take_digits(text);
    if (whole.empty() || below.empty() || !text.empty()) return {};
    const auto n = parse_u64(whole), d = parse_u64(below);
    if (!n || !d) return too_large();
    return ParsedExact{exact_fraction(negative, *n, *d)};
  }
  std::string_view fraction;
  if (!text.empty() && text[0] == '.') {
    text.remove_prefix(1);
    fraction = take_digits(text);
  }
  if (whole.empty() && fraction.empty()) return {};
  long exponent = 0;
  if (!text.empty() && (text[0] == 'e' || text[0] == 'E')) {
    text.remove_prefix(1);
    bool down = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
      down = text[0] == '-';
      text.remove_prefix(1);
    }
    std::string_view power = take_digits(text);
    if (power.empty()) return {};
    while (power.size() > 1 && power.front() == '0') power.remove_prefix(1);
    if (power.size() > 3) return text.empty() ? too_large() : ParsedExact{};
    exponent = std::stol(std::string(power));
    if (down) exponent = -exponent;
  }
  if (!text.empty()) return {};
  if (exponent > max_exponent || exponent < -max_exponent) return too_large();
  // The digits with the point moved by the exponent: where it stands, counted from the left.
  std::string digits;
  digits.append(whole).append(fraction);
  const long point = static_cast<long>(whole.size()) + exponent;
  std::string written;
  if (point <= 0) {
    written.append("0.").append(static_cast<std::size_t>(-point), '0').append(digits);
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    written.append(digits).append(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    written.append(digits, 0, static_cast<std::size_t>(point))
        .append(1, '.')
        .append(digits, static_cast<std::size_t>(point));
  }
  const std::size_t point_at = std::min(written.find('.'), written.size());
  std::size_t zeros = 0;
  while (zeros + 1 < point_at && written[zeros] == '0') ++zeros;
  written.erase(0, zeros);
  const std::size_t dot = written.find('.');
  const std::size_t scale = dot == std::string::npos ? 0 : written.size() - dot - 1;
  std::string all_digits = written;
  if (dot != std::string::npos) all_digits.erase(dot, 1);
  return decimal_value(negative, all_digits, scale, std::move(written));
}

void Sum::add(std::uint64_t numerator, std::uint64_t denominator) {
  // common * f is the least common multiple of common and denominator.
  const std::uint64_t g = std::gcd(remainder(common_, denominator), denominator);
  const std::uint64_t f = denominator / g;
  Limbs part = common_;
  divide(part, g);
  multiply(part, numerator);
  multiply(total_, f);
  kelvora::add(total_, part);
  multiply(common_, f);
}

int Sum::compare_to_one() const { return compare(total_, common_); }

}  // namespace kelvora
