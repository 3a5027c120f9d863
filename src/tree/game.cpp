// Game records: copying a game and making its list of players.
#include "tree/game.hpp"

#include <algorithm>
#include <string>

#include "error.hpp"
#include "machine.hpp"

namespace kelvora {
namespace {

// How many players a game may have: as many as this machine's memory could hold at all.
std::uint64_t player_limit() {
  return std::min<std::uint64_t>(physical_memory() / bytes_per_player,
                                 std::vector<Player>().max_size() - 1);
}

}  // namespace

std::vector<Player> make_players(std::uint64_t count) {
  if (count > player_limit()) {
    throw Error::with_message(
        PyExc_MemoryError, concat({"cannot make a game of ", std::to_string(count),
                                   " players: their list would not fit in this machine's memory"}));
  }
  std::vector<Player> players;
  players.reserve(count + 1);
  players.push_back(Player{"Nature"});
  for (std::uint64_t i = 1; i <= count; ++i) {
    players.push_back(Player{"Player " + std::to_string(i)});
  }
  return players;
}

Game Game::copy() const { return Game{title, player, gametype, root.copy()}; }

}  // namespace kelvora
