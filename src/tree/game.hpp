// Games as plain records: a title, the players, the kind of game and the root of the game
// tree; copying a game and making its list of players.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ref.hpp"
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

// The least a player takes: the record, plus room for a name too long to be kept inside the
// string itself (as the names become from "Player 100000000" on).
constexpr std::uint64_t bytes_per_player = sizeof(Player) + 32;

// "Nature", then "Player 1" up to "Player <count>". A count whose list could not be held in
// this machine's memory is refused (MemoryError) before anything is allocated.
std::vector<Player> make_players(std::uint64_t count);

}  // namespace kelvora
