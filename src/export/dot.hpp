// The game tree as a Graphviz DOT graph.
#pragma once

#include "export/destination.hpp"
#include "tree/node.hpp"

namespace kelvora {

// The DOT text of the tree below `root` (a Decision object): nodes numbered in pre-order,
// each labelled with its first child's player or with its payoff pair, and one edge per
// parent-child link labelled with the child's action, written to `destination`. A node
// lacking what its label needs is a fault; a node among its own descendants is a cycle (both
// thrown as RenderFailure).
void render_dot(PyObject* root, Destination& destination);

}  // namespace kelvora
