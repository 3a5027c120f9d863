// The Python classes Player and Decision, over the records of tree/node.hpp.
#pragma once

#include "classes.hpp"
#include "tree/node.hpp"

namespace kelvora {

// A new Decision object holding make_node's node, numbered once the object exists: a call that
// fails uses no number.
Ref new_node(Player player, Text name, std::optional<std::span<const std::int32_t>> numbers,
             std::optional<Symbolic> variables, std::optional<std::uint64_t> information_set);

template <>
ClassDef& class_def<Player>();
template <>
ClassDef& class_def<Decision>();

}  // namespace kelvora
