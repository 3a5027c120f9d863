// The game tree as a Graphviz DOT graph.
#pragma once

#include "tree/node.hpp"
#include "write/destination.hpp"

namespace kelvora {

// The DOT text of the tree below `root` (a Decision object), written to `destination`: nodes
// numbered in pre-order, labelled with the first child's player or the payoff pair, and one edge
// per parent-child link labelled with the child's action. A node lacking what its label needs is
// a fault; a node among its own descendants is a cycle (both thrown as RenderFailure).
void render_dot(PyObject* root, Destination& destination);

}  // namespace kelvora
