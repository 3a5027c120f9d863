// A laid-out game tree as an SVG 1.1 document.
#pragma once

#include <string_view>

#include "layout/layout.hpp"
#include "write/destination.hpp"

namespace kelvora::draw {

// The document: its title, a white ground, the information-set lines and outlines (dashed),
// the edges (highlighted ones thick), the nodes (decision nodes filled, leaves hollow) and the
// labels (actions in italics), every text escaped for XML. Numbers have at most two decimals,
// so the same scene always gives the same text. Written into `destination` as the exports
// write theirs; the scene is given back to the system as it is written out.
void svg(layout::Scene&& scene, std::string_view title, Destination& destination);

}  // namespace kelvora::draw
