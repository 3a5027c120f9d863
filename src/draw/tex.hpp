// Names and payoffs as TeX text: what the TikZ writer puts inside its labels.
#pragma once

#include <string_view>

#include "draw/writer.hpp"
#include "tree/node.hpp"

namespace kelvora::draw {

// Whether a name is one formula, $...$: every dollar sign inside is escaped (\$), and a
// backslash just before the last one does not escape it.
bool wholly_math(std::string_view text);

// A name as TeX text that prints as written, in any font that has its characters (pdfLaTeX
// with only tikz has Latin, Greek and the common typographic characters); a name wholly
// enclosed in $...$ goes through as math. Control characters become spaces.
void tex_text(Writer<3>& out, std::string_view text);

}  // namespace kelvora::draw
