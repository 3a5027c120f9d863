// Symbolic payoffs as plain records: variables known only through comparisons with one
// another, and the ids that tell them apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The id of a new variable: the next of a process-wide count, never reused.
std::uint64_t next_variable_id();

}  // namespace kelvora
