// The tidy drawing of a game tree: where each node, label and information-set line goes, in
// pixels, for the writers in draw/. Plain C++ over the model (tree/); the writers only print.
//
// The tree is drawn once per occurrence of a node (a node attached under several parents is
// drawn under each). Levels come from the longest path, with the members of each information
// set merged onto one level and the edges above them stretched; a stretched edge bends once
// below its parent and runs straight down to the child. A set with a member below another
// member keeps its members' depths. Horizontal places follow Walker's algorithm in the
// linear-time form of Buchheim, Juenger and Leipert (2002), without recursion: children in
// order, each parent centred over its first and last child, and every two neighbours on a
// level (of any subtrees) at least `gap` apart, counting the estimated width of their labels.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "tree/game.hpp"

namespace kelvora::layout {

// Text is set in DejaVu Sans (or Verdana, which is as wide) at 12 px; text_width estimates
// from that font's advance widths, rounded up (see layout.cpp).
constexpr double font_size = 12;
constexpr double ascent = 11;  // of a text box, above the baseline
constexpr double descent = 3;  // below it
constexpr double dot_radius = 4;
constexpr double level_distance = 72;
constexpr double gap = 12;          // between the boxes of two neighbours on a level
constexpr double label_offset = 7;  // from a node's centre to a label beside it
// Baselines relative to a node's centre: the action that leads to it (highest), the player
// who moves there, a leaf's payoff (below). A line joining set members that detours round
// other nodes runs at `detour`, between a level's payoffs and the next level's actions.
constexpr double action_baseline = -26;
constexpr double player_baseline = -9;
constexpr double payoff_baseline = 19;
constexpr double detour = 28;
constexpr double margin = 8;  // round the drawing

// The estimated width in pixels of a UTF-8 text.
double text_width(std::string_view text);

// "(3, 2, 2)": every entry of a payoff, integers in decimal, variables by name.
void payoff_text(const Payoff& payoff, std::string& out);

enum class Anchor : std::uint8_t { start, middle, end };
// Where a node's labels stand: beside a child left of its parent they go left (its edge comes
// from the upper right), otherwise right; the root's go in the middle.
enum class Side : std::uint8_t { middle, left, right };

struct Label {
  std::string_view text;  // empty: no label
  double dx;              // of the anchor, from the node's centre
  double baseline;        // from the node's centre
  Anchor anchor;
};

// The labels of a node: the action that leads to it (none at the root), above it the player
// who moves there (its first child's; a node with children and a payoff shows both), below a
// leaf its payoff. `scratch` holds the texts that are made rather than read.
struct Labels {
  Label action, player, payoff;
};
Labels labels_of(const Decision& node, bool root, Side side, std::string (&scratch)[2]);

// One place of the drawing: a node occurrence, or the bend of a stretched edge (no node). The
// places are so ordered that each comes after its parent, a place's children consecutive.
struct Place {
  const Decision* node;  // null for a bend
  std::uint32_t parent;  // of the root: itself
  std::uint32_t first_child;
  std::uint32_t child_count;
  std::uint32_t level;
  float left, right;  // the room its dot and labels take on each side of its centre
  double x;
  Side side;
  double y() const { return level * level_distance; }
};
static_assert(std::is_trivially_copyable_v<Place>);

// The places, in one block that grows in place where the system can (realloc), so that the
// places of a large tree are neither copied nor written afresh each time the block grows.
class Places {
 public:
  Places() = default;
  Places(Places&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Places& operator=(Places&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~Places() { std::free(data_); }

  std::size_t size() const { return size_; }
  Place& operator[](std::size_t i) { return data_[i]; }
  const Place& operator[](std::size_t i) const { return data_[i]; }
  const Place* begin() const { return data_; }
  const Place* end() const { return data_ + size_; }
  Place& back() { return data_[size_ - 1]; }
  void push_back(const Place& place) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = place;
  }
  // Makes room for `count` places in all (std::bad_alloc when there is none).
  void grow(std::size_t count);

 private:
  Place* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Whether place `v` is a child between the first and the last of three or more: the edges to
// those pass where its labels stand, which are then set on a white ground.
inline bool between_siblings(const Places& places, std::size_t v) {
  const Place& parent = places[places[v].parent];
  return parent.child_count > 2 && v != parent.first_child &&
         v != parent.first_child + parent.child_count - 1;
}

// A dashed line joining two members of an information set: straight at their height, or
// (`around`) below the nodes between them, or straight between members on different levels.
struct Link {
  std::uint32_t from, to;  // places
  bool around;
};

struct Drawing {
  Places places;
  std::vector<Link> links;
  double left, top, right, bottom;  // the box holding everything drawn, margin included
};

// What a caller may choose about a drawing (layout/scene.hpp); this layout draws every tree
// downwards with lines joining set members, whatever is chosen.
struct Options;

// Lays out the game's tree. A node among its own descendants is a cycle; a tree too large for
// this machine's memory, or Ctrl-C, stops it (each thrown as RenderFailure).
Drawing lay_out(const Game& game, const Options& options);

// The number of node occurrences in the game's tree, counted up to `bound` (a cycle counts
// without end, and so reaches it).
std::size_t count_occurrences(const Game& game, std::size_t bound);

}  // namespace kelvora::layout
