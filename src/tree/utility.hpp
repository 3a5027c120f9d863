// Symbolic payoffs: variables known only through comparisons with one another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classes.hpp"

namespace kelvora {

// A named quantity. Comparing it with another variable records the other's id in one of
// three lists; copies keep the id, so they still stand for the same quantity.
struct Variable {
  std::string name;
  std::vector<std::uint64_t> lower;   // ids of variables this one was found greater than
  std::vector<std::uint64_t> higher;  // ids of variables this one was found less than
  std::vector<std::uint64_t> equal;   // ids of variables this one was found equal to
  std::uint64_t id;
};

template <>
ClassDef& class_def<Variable>();

}  // namespace kelvora
