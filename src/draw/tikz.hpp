// A laid-out game tree as a bare LaTeX tikzpicture, at its natural size or shrunk to fit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "layout/scene.hpp"
#include "write/destination.hpp"

namespace kelvora::draw {

// A length that a picture is fitted to: `factor` hundred-thousandths (at least 1) of `base`, a
// unit ("1cm") or one of TeX's length registers ("\linewidth").
struct TexLength {
  std::int64_t factor;
  std::string_view base;
};

// `text` as a TexLength: a decimal factor (at most 4 digits before the point and 5 after, not
// zero) and a unit (pt pc in bp cm mm dd cc sp em ex px), or a factor, which may be left out,
// and one of \linewidth \textwidth \columnwidth \textheight \hsize \vsize \paperwidth
// \paperheight; spaces may stand around either part. A length in a fixed unit must be within
// TeX's largest dimension (16383.99999pt). Anything else gives nothing.
std::optional<TexLength> tex_length(std::string_view text);

// The room a picture may take: at most `width` wide, and at most `height` tall when given.
struct Fit {
  TexLength width;
  std::optional<TexLength> height;
};

// The picture of a laid-out tree: the information-set lines and outlines (dashed), the edges
// (highlighted ones thick), the nodes (decision nodes filled, leaves hollow) and the labels
// (actions in italics), set as text in the document's font (draw/tex.hpp). It is drawn at its
// natural size in the document's em; only when TeX finds the set picture wider or taller than
// `fit` allows does the whole of it, text included, shrink uniformly to fit. Written into
// `destination` as the exports write theirs; the scene is given back to the system as it is
// written out.
void tikz(layout::Scene&& scene, const Fit& fit, Destination& destination);

}  // namespace kelvora::draw
