// A laid-out game tree as an SVG 1.1 document.
#pragma once

#include <cstddef>
#include <string_view>

#include "export/destination.hpp"
#include "tree/game.hpp"

namespace kelvora::layout {
struct Options;
}

namespace kelvora::draw {

// The game's tree laid out with `options`, as an SVG document: its title, the information-set lines
// (dashed), the edges, the nodes (decision nodes filled, leaves hollow) and the labels, every text
// escaped for XML. Numbers have at most two decimals, so the same drawing always gives the same
// text. Written into `destination` as the exports write theirs.
void svg(const Game& game, const layout::Options& options, Destination& destination);

// The number of node occurrences in the game's tree, counted up to `bound`.
std::size_t occurrences(const Game& game, std::size_t bound);

}  // namespace kelvora::draw
