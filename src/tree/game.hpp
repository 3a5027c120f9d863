// Games: a title, the players, the kind of game and the root of the game tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classes.hpp"
#include "tree/node.hpp"

namespace kelvora {

// The kind of game, one byte: a Python Type object holds nothing else.
struct Type {
  enum Value : std::uint8_t { Normal = 0, Extensive = 1 };
  Value value;
};

// A game. Its own fields never change after construction; the tree below `root` does, and
// is shared with every other holder of the root node.
struct Game {
  std::string title;
  std::vector<Player> player;  // "Nature" first, then "Player 1", "Player 2", ...
  Type gametype;
  Ref root;  // a Decision object, never null

  // A copy with its own title and players that shares the root (one more reference to it).
  // Needs the interpreter lock.
  Game copy() const;
};

template <>
ClassDef& class_def<Type>();
template <>
ClassDef& class_def<Game>();

}  // namespace kelvora
