#include "draw/tikz.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <vector>

#include "draw/writer.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
using TexWriter = Writer<3>;  // lengths in em, to the thousandth

// The layout's lengths are pixels of its 12 px text: a twelfth of an em. Lengths that go with
// the text (label offsets, dots) are written in em, so that they follow the document's font.
constexpr double em(double pixels) { return pixels / layout::font_size; }

// --- Text ---

// Whether a name is one formula, $...$: every dollar sign inside is escaped (\$), and a
// backslash just before the last one does not escape it.
bool wholly_math(std::string_view text) {
  if (text.size() < 3 || text.front() != '$' || text.back() != '$') return false;
  std::size_t i = 1;
  while (i < text.size() - 1) {
    if (text[i] == '$') return false;
    i += text[i] == '\\' ? 2 : 1;
  }
  return i == text.size() - 1;
}

// A name as TeX text: the characters that TeX treats specially as commands that print them;
// those that the default font encoding sets as other glyphs (<, >, |) likewise. A name wholly
// enclosed in $...$ goes through as math. Control characters, which would end the line or upset
// TeX, become spaces either way.
void tex_text(TexWriter& out, std::string_view text) {
  out.note_width(text);
  const bool math = wholly_math(text);
  std::size_t done = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::string_view replacement;
    if (byte < 0x20 || byte == 0x7F) {
      replacement = " ";
    } else if (math) {
      continue;
    } else {
      switch (byte) {
        case '#': replacement = "\\#"; break;
        case '$': replacement = "\\$"; break;
        case '%': replacement = "\\%"; break;
        case '&': replacement = "\\&"; break;
        case '_': replacement = "\\_"; break;
        case '{': replacement = "\\{"; break;
        case '}': replacement = "\\}"; break;
        case '~': replacement = "\\textasciitilde{}"; break;
        case '^': replacement = "\\textasciicircum{}"; break;
        case '\\': replacement = "\\textbackslash{}"; break;
        case '<': replacement = "\\textless{}"; break;
        case '>': replacement = "\\textgreater{}"; break;
        case '|': replacement = "\\textbar{}"; break;
        default: continue;
      }
    }
    out << text.substr(done, i - done) << replacement;
    done = i + 1;
  }
  out << text.substr(done);
}

// "(3, $-2$, x)": every entry of a payoff, a negative number with a minus sign.
void tex_payoff(TexWriter& out, const Payoff& payoff) {
  out << '(';
  if (payoff.is_numeric()) {
    const auto numbers = payoff.numbers();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      if (i > 0) out << ", ";
      const std::int64_t number = numbers[i];
      if (number < 0)
        out << '$' << number << '$';
      else
        out << number;
    }
  } else {
    const Symbolic& variables = payoff.variables();
    for (std::size_t i = 0; i < variables.size(); ++i) {
      if (i > 0) out << ", ";
      tex_text(out, variables[i].name);
    }
  }
  out << ')';
}

// --- The picture ---

// A point of the scene in em, y upwards: "(1.5em,-2.25em)".
void tex_point(TexWriter& out, layout::Point at) {
  out << '(' << em(at.x) << "em," << -em(at.y) << "em)";
}

// The scene at its natural size, a pixel being a twelfth of an em: the paths (set lines dashed,
// highlighted edges thick), the dots and the labels, actions in italics.
void write_scene(TexWriter& out, const layout::Scene& scene) {
  for (const layout::Path& path : scene.paths) {
    switch (path.kind) {
      case layout::PathKind::edge: out << "\\draw "; break;
      case layout::PathKind::thick_edge: out << "\\draw[very thick] "; break;
      case layout::PathKind::set_line:
      case layout::PathKind::set_outline: out << "\\draw[dashed] "; break;
    }
    tex_point(out, path.start);
    for (std::uint32_t k = 0; k < path.segment_count; ++k) {
      const layout::Segment& segment = scene.segments[path.first_segment + k];
      const layout::Point* points = &scene.points[segment.first];
      if (segment.curve) {
        out << " .. controls ";
        tex_point(out, points[0]);
        out << " and ";
        tex_point(out, points[1]);
        out << " .. ";
        tex_point(out, points[2]);
      } else {
        out << " -- ";
        tex_point(out, points[0]);
      }
    }
    out << (path.closed ? " -- cycle;\n" : ";\n");
  }
  for (const layout::Dot& dot : scene.dots) {
    out << (dot.kind == layout::DotKind::leaf ? "\\filldraw[fill=white] " : "\\fill ");
    tex_point(out, dot.at);
    out << " circle[radius=" << std::floor(em(layout::dot_radius) * 1000) / 1000 << "em];\n";
  }
  for (const layout::Label& label : scene.labels) {
    out << "\\node[anchor=base"
        << (label.anchor == Anchor::start ? " west"
            : label.anchor == Anchor::end ? " east"
                                          : "")
        << "] at ";
    tex_point(out, label.at);
    out << " {";
    const Decision& node = *label.node;
    switch (label.kind) {
      case layout::LabelKind::action:
        out << "\\textit{";
        tex_text(out, node.name);
        out << '}';
        break;
      case layout::LabelKind::player:
        tex_text(out, walk::first_child_player(node));
        if (node.payoff) {
          out << ' ';
          tex_payoff(out, node.payoff);
        }
        break;
      case layout::LabelKind::payoff: tex_payoff(out, node.payoff); break;
    }
    out << "};\n";
  }
}

}  // namespace

bool is_tex_length(std::string_view width) {
  std::size_t i = 0;
  auto spaces = [&] {
    while (i < width.size() && width[i] == ' ') ++i;
  };
  auto digits = [&] {
    const std::size_t from = i;
    while (i < width.size() && std::isdigit(static_cast<unsigned char>(width[i]))) ++i;
    return i - from;
  };
  spaces();
  std::size_t factor = digits();
  if (i < width.size() && width[i] == '.') {
    ++i;
    factor += digits();
  }
  spaces();
  const std::string_view rest = width.substr(i);
  std::size_t unit = 0;
  if (rest.size() > 1 && rest[0] == '\\') {
    unit = 1;
    while (unit < rest.size() && std::isalpha(static_cast<unsigned char>(rest[unit]))) ++unit;
    if (unit == 1) return false;
  } else if (factor > 0 && rest.size() >= 2) {
    static constexpr std::array<std::string_view, 12> units = {"pt", "pc", "in", "bp", "cm", "mm",
                                                               "dd", "cc", "sp", "em", "ex", "px"};
    if (std::find(units.begin(), units.end(), rest.substr(0, 2)) == units.end()) return false;
    unit = 2;
  } else {
    return false;
  }
  i += unit;
  spaces();
  return i == width.size();
}

void tikz(const layout::Scene& scene, std::string_view width, Destination& destination) {
  walk::Out out(destination);
  TexWriter writer(out);
  // Natural size, shrunk (text included) only where that is wider than `width`; the factor is
  // the width in em over the natural width in em (less 3% for the strokes, which do not
  // shrink), which stays within TeX's arithmetic.
  writer << "\\begin{tikzpicture}[inner sep=0pt,line cap=round]\n"
         << "\\pgfmathsetlengthmacro\\kelvoraem{1em}%\n"
         << "\\pgfmathsetlengthmacro\\kelvorawidth{" << width << "}%\n"
         << "\\pgfmathsetmacro\\kelvorascale{min(1,0.97*\\kelvorawidth/\\kelvoraem/"
         << std::max(em(scene.right - scene.left), 0.001) << ")}%\n"
         << "\\begin{scope}[scale=\\kelvorascale,transform shape]\n";
  write_scene(writer, scene);
  writer << "\\end{scope}\n\\end{tikzpicture}\n";
  out.finish();
}

}  // namespace kelvora::draw
