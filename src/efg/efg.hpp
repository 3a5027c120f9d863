// Gambit's extensive-form game files (.efg, version 2): reading one into a game, and writing a
// game out as one. Plain C++ over the model: node objects are made through the caller's hook.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ref.hpp"
#include "tree/game.hpp"
#include "write/destination.hpp"

namespace kelvora::efg {

// A file that cannot be read, or a game that cannot be written as one: the message says where
// and why ("line 12, column 5: expected a node type c, p or t, found 'q'").
struct Refusal {
  std::string message;
};

// Makes the object that holds a node record (the module's Decision class).
using MakeNode = Ref (*)(Decision node);

// Reads the game of a .efg text: its title, "Nature" and the file's players (Nature gets a name
// that no player has), and a tree whose root is the file's first node, named "root". Each other
// node is named by the action that leads to it and reached by the player who moves at its parent
// (Nature at a chance node, with the action's probability); an outcome's payoffs stay on the
// node where it stands, one entry per player, each number as written, and the node keeps which
// outcome they came from and its name (set_outcome, with keys unique to this reading). An
// outcome on an inner node stays on that node and is not added into the payoffs below it, yet
// Gambit means it to count at every terminal node below (a player's payoff there is the sum of
// the outcomes on its path): whatever computes with payoffs adds those of the nodes above, as the
// solver does. Information sets of two or more members are numbered 1, 2, ... in order of first
// appearance over all players; a set of one node is none. Text that is not UTF-8 (unless
// `utf8_known`), or not such a file, is refused at its place. Reads in one pass without recursion;
// runs no Python code. `game` is filled in, and the nodes draw their numbers (next_node_id), only
// once nothing can fail.
void read(std::string_view text, bool utf8_known, MakeNode make, Game& game);

// Writes `game` as a .efg text. `players` are the players whom its payoffs are for, in order
// (check::Problems::players of a game that passed the check). A node's mover is its first
// child's player: Nature's nodes are chance nodes, whose children need probabilities.
// Information sets are numbered per player in order of first appearance; outcomes in order of
// first appearance by the outcome kept for a node (outcome_of) and its payoff as written, so
// nodes read from one outcome share it while their payoffs agree. A kept outcome gives its
// name, the others are named "". A later member of a set and a later use of an outcome leave
// out their bracketed part. A node that no .efg file can hold (a
// payoff of Variables, a chance node without probabilities, a name with a backslash before a
// double quote or at its end) is refused; a cycle or a text too large is a RenderFailure.
void write(const Game& game, const std::vector<std::string_view>& players,
           Destination& destination);

}  // namespace kelvora::efg
