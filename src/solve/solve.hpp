// Subgame-perfect equilibria in pure strategies: backward induction where every information
// set is a single node, and the enumeration of pure behaviour profiles in the smallest subgames
// that contain larger sets. Plain C++ over the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "check/validate.hpp"
#include "ref.hpp"
#include "tree/game.hpp"

namespace kelvora::solve {

// The most pure behaviour profiles that one subgame may have to be enumerated (the product of
// the numbers of actions of its information sets, and of the numbers of equilibria of the
// subgames below it): a larger one is refused.
constexpr std::uint64_t max_profiles = 1'000'000;

// Why a game cannot be solved: a ValueError, or an OverflowError for an expected payoff whose
// numerator or denominator needs 64 bits or more.
class Refusal : public std::runtime_error {
 public:
  Refusal(bool overflow, const std::string& message)
      : std::runtime_error(message), overflow_(overflow) {}
  bool overflow() const noexcept { return overflow_; }

 private:
  bool overflow_;
};

// An exact rational number of 64-bit parts, reduced.
struct Number {
  std::uint64_t numerator = 0;
  std::uint64_t denominator = 1;
  bool negative = false;  // never set for 0
};

// A subgame-perfect equilibrium.
struct Equilibrium {
  struct Entry {
    bool is_variable = false;
    Number number;      // unless is_variable
    Variable variable;  // a copy of the leaf's, if is_variable
  };
  // One entry per player whom payoffs count, as check::Problems::players orders them: the
  // expected payoff of the play the equilibrium prescribes.
  std::vector<Entry> payoff;
  // The nodes reached with positive probability, in pre-order from the root.
  std::vector<Ref> path;
  // Each node where a player moves, with the child that the equilibrium chooses there; a node
  // under several parents is listed under each.
  std::vector<std::pair<Ref, Ref>> choices;
};

// The pure-strategy subgame-perfect equilibria of a game that check::validate finds sound (with
// `checked` what it found), at most `limit` of them (limit >= 1), in a fixed order: at a node of
// perfect information, the combinations of its children's equilibria in order (the first child's
// varying slowest), each with every maximising action in turn; in an enumerated subgame, its
// profiles in the same order. A node shared under several parents is one decision, as if its
// occurrences formed an information set. A payoff on a node with children adds to every payoff
// below it (as an outcome on an inner node of a game file). Walks the tree without recursion; needs
// the interpreter lock and runs no Python code. Throws Refusal for symbolic payoffs that the
// recorded relations do not order or that would be added to, for Nature moving without
// probabilities, and for a subgame above max_profiles.
std::vector<Equilibrium> backward_induction(const Game& game, const check::Problems& checked,
                                            std::size_t limit);

}  // namespace kelvora::solve
