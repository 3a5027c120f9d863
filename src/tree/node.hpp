// Records of the nodes of a game tree and of the players who move at them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "classes.hpp"
#include "tree/utility.hpp"

namespace kelvora {

// A participant of a game, known only by name. Copied wherever it is handed over.
struct Player {
  std::string name;
};

// What a node pays: symbolic variables or integers. An empty list is still a payoff.
using Symbolic = std::vector<Variable>;
using Numeric = std::vector<std::int32_t>;
using Payoff = std::variant<Symbolic, Numeric>;

// One node of a game tree: the action `name` taken by `player` that leads here. Children are
// shared Python Decision objects, held by strong references.
struct Decision {
  Player player;
  std::string name;
  std::optional<Payoff> payoff;
  std::optional<std::uint64_t> information_set;
  std::vector<Ref> children;
  std::uint64_t node_id;
  // Set while an export walks below this node: meeting it again there means a cycle.
  mutable bool on_path = false;

  // A copy that duplicates texts and payoff and shares the children (one more reference to
  // each); it keeps the node's number. Needs the interpreter lock.
  Decision copy() const;
};

// Makes a node with the next node number and wraps it in a new Decision object.
Ref new_node(Player player, std::string name, std::optional<Numeric> numbers,
             std::optional<Symbolic> variables, std::optional<std::uint64_t> information_set);

// New references to the same children.
std::vector<Ref> share(const std::vector<Ref>& children);

// Appends `child` (a Decision object) to the children of the node `parent`, under a fatal
// exclusive borrow.
void append_child(PyObject* parent, PyObject* child);

template <>
ClassDef& class_def<Player>();
template <>
ClassDef& class_def<Decision>();

}  // namespace kelvora
