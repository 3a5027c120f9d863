// The tidy drawing of a game tree: where each node, edge, label and information-set line goes,
// in pixels, as a Scene for the writers in draw/. Plain C++ over the model (tree/).
//
// The tree is drawn once per occurrence of a node (a node attached under several parents is
// drawn under each). Levels come from the longest path, with the members of each information
// set merged onto one level and the edges above them stretched; a stretched edge bends once
// below its parent and runs straight down to the child. A set with a member below another
// member keeps its members' depths. Positions across the levels follow Walker's algorithm in
// the linear-time form of Buchheim, Juenger and Leipert (2002), without recursion: children in
// order, each parent centred over its first and last child, and every two neighbours on a
// level (of any subtrees) at least `gap` apart, counting the room their labels take on that
// level and, for the labels between two levels, on both. The distance between two levels is
// as large as the labels and set lanes between them need.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "layout/scene.hpp"
#include "tree/game.hpp"

namespace kelvora::layout {

// Text is set in DejaVu Sans (or Verdana, which is as wide) at 12 px; text_width estimates
// from that font's advance widths, rounded up (see layout.cpp).
constexpr double font_size = 12;
constexpr double ascent = 11;  // of a text box, above the baseline
constexpr double descent = 3;  // below it
constexpr double dot_radius = 4;
constexpr double chance_radius = 6;  // of a chance node's hollow circle
constexpr double gap = 12;           // between the boxes of two neighbours on a level
constexpr double margin = 8;         // round the drawing

// The estimated width in pixels of a UTF-8 text.
double text_width(std::string_view text);

// Which side of its edge a node's labels stand on: left of the parent's centre they go left,
// right of it right; a child between the first and the last is decided by where it lands.
enum class Side : std::uint8_t { middle, left, right };
// A place is a node occurrence, a bend of a stretched edge, or a phantom: the room a leaf's
// payoff takes on the level below the leaf, so that no edge of a neighbour runs through it.
enum class PlaceKind : std::uint8_t { node, bend, phantom };

// What measure() keeps of a place's labels, whose texts it appends in this order to the texts'
// block: the sizes of the action's name, of the probability of its move, of its own label's text
// (the player's name and payoff, or the payoff) and of the name in that (kept just before the
// own label's text); the widest character of each; what the payoff is made of. A payoff of names
// is followed by the sizes of its entries (see for_each_entry in scene.hpp). They are kept in the
// place, apart from the texts, which become the scene's: the writers never read them.
struct Texts {
  std::uint32_t action, probability, own, name;
  std::uint8_t action_widest, probability_widest, own_widest;
  Entries entries;
};

// One place of the drawing. The places are so ordered that each comes after its parent, a
// place's children consecutive. Sizes are across the levels and along them.
struct Place {
  const Decision* node;  // of a bend, the node below it; of a phantom, its leaf
  std::uint64_t text;    // where the texts of its labels begin in the texts' block
  std::uint32_t parent;  // of the root: itself
  std::uint32_t first_child;
  std::uint32_t child_count;
  std::uint32_t level;
  float left, right;  // the room it takes on each side of its centre, on its level
  double x;           // across the levels
  Side side;
  PlaceKind kind;
  bool action;      // whether the edge into it carries its node's action
  bool own_payoff;  // whether its own label is a leaf's payoff (else its player's name)
  bool chance;      // whether its node's children carry probabilities
  bool leaf;        // whether its node has no children
  bool edge;        // whether an edge path of its own ends at it (its parent is no bend)
  float action_across, action_along, own_across, own_along;
  Texts texts;  // of its labels, where it has any

  float player_across() const { return own_payoff ? 0 : own_across; }
  float player_along() const { return own_payoff ? 0 : own_along; }
  float payoff_across() const { return own_payoff ? own_across : 0; }
  float payoff_along() const { return own_payoff ? own_along : 0; }
};
static_assert(std::is_trivially_copyable_v<Place>);

// The places, in one block that grows in place where the system can, so that the places of a
// large tree are neither copied nor written afresh each time the block grows.
using Places = Block<Place, 64>;

// Lays out the game's tree. A node among its own descendants is a cycle; a tree too large for
// this machine's memory, or Ctrl-C, stops it (each thrown as RenderFailure).
Scene lay_out(const Game& game, const Options& options = {});

// The number of node occurrences in the game's tree, counted up to `bound` (a cycle counts
// without end, and so reaches it).
std::size_t count_occurrences(const Game& game, std::size_t bound);

}  // namespace kelvora::layout
