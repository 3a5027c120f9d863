// The check of a whole game: whether its tree is a sound game tree with chance moves, its
// information sets consistent and its payoffs complete. Plain C++ over the model.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tree/game.hpp"

namespace kelvora::check {

// What is wrong with a game: the first `limit` problems found, each "<path>: <what>", and how
// many there are in all.
// Also the players whom the payoffs are for, in the order of their entries (by the rule below;
// views of the game's names, valid while the game and its tree are unchanged).
struct Problems {
  std::vector<std::string> messages;
  std::size_t count = 0;
  std::vector<std::string_view> players;
};

// Checks the game in pre-order, without recursion, visiting a node shared under several
// parents once (under the first) and reporting a node met again below itself as a cycle. A
// node is named by the names of the nodes from the root down to it, joined by " > " ("root >
// In > Fight"; the middle of a path deeper than 40 nodes is left out).
//
// Players and payoff entries: the player of a node is the one who moved at its parent; Nature
// (the game's first player, by name) has no entry. When any mover bears the name of one of the
// game's other players, or Nature is the only mover, entry i of a payoff is game.player[i + 1],
// and every payoff has one entry per player of the game; otherwise (trees of players of one's own,
// such as Player("Ann")) entry i is the i-th mover other than Nature in order of first appearance
// in pre-order, and every payoff has one entry per mover.
//
// Found: children of one node moved by different players; a node with some children with a
// probability and some without; children's probabilities that do not add up to exactly 1; a
// node with a probability whose player is not Nature; a mover who is not one of the game's
// players (under the first rule); members of one information set with different movers, or
// different actions (names and order); a leaf without payoff; a payoff whose length is not the
// number of players; a cycle. Needs the interpreter lock; runs no Python code.
Problems validate(const Game& game, std::size_t limit = 20);

// The name of a node given the names of the nodes from the root down to it: joined by " > ",
// with the middle of a path deeper than 40 nodes left out, as validate's messages name nodes.
std::string path_text(const std::vector<std::string_view>& names);

// "the game has 3 problems:\n  <message>\n  ..." with "  ... and N more" after the shown.
std::string describe(const Problems& problems);

}  // namespace kelvora::check
