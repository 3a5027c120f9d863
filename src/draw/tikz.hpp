// A laid-out game tree as a bare LaTeX tikzpicture that fits a given width.
#pragma once

#include <string_view>

#include "export/destination.hpp"
#include "layout/layout.hpp"

namespace kelvora::draw {

// Whether `width` reads as a TeX length that the picture can fit: a decimal factor and a unit
// ("12cm", "3.5in"), or a factor, which may be left out, and a length register or macro
// ("\linewidth", "0.8\textwidth"). Spaces may stand around either part.
bool is_tex_length(std::string_view width);

// The picture: the information-set lines (dashed), the edges, the nodes (decision nodes
// filled, leaves hollow) and the labels, set as text in the document's font with TeX's special
// characters escaped (a name wholly enclosed in $...$ goes through as math). The horizontal
// distances are scaled so that the picture, text included, is `width` wide (a TeX length); text
// keeps its size, and levels are 6 to 9 em apart. Written into `destination` as the exports
// write theirs.
void tikz(const layout::Scene& scene, std::string_view width, Destination& destination);

}  // namespace kelvora::draw
