// Exact numbers between Python and the model: the number forms that probabilities and payoffs
// take (int, fractions.Fraction, decimal.Decimal, float, str), and the ints and Fractions they
// read back as.
#pragma once

#include <string_view>

#include "ref.hpp"
#include "tree/exact.hpp"

namespace kelvora {

// What an exact number is read for: its name in messages, and what it must be.
struct ExactTarget {
  std::string_view name;  // "probability", "payoff[2]"
  bool probability;       // from 0 to 1, else any sign
};

// `obj` as an Exact. A bool or any other type raises TypeError; a malformed str, nan, an
// infinity, a value out of range or beyond 64-bit parts raises ValueError; each names
// `target`. Python code that runs in the conversion (a subclass's attributes) may raise too.
Exact to_exact(PyObject* obj, const ExactTarget& target);

// A Fraction, or an int when `integers` is set and the number is one.
Ref exact_to_py(const Exact& number, bool integers);

}  // namespace kelvora
