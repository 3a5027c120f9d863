#include "draw/tikz.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <vector>

#include "draw/envelope.hpp"
#include "draw/tex.hpp"
#include "draw/writer.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
using layout::Drawing;
using layout::Place;
using TexWriter = Writer<3>;  // lengths in em, to the thousandth

// The layout's lengths are pixels of its 12 px text: a twelfth of an em. Lengths that go with
// the text (label offsets, dots) are written in em, so that they follow the document's font.
constexpr double em(double pixels) { return pixels / layout::font_size; }

// Where the places lie: the leftmost one, the distance to the rightmost (0 when all stand in one
// column), and the deepest level.
struct Extent {
  double leftmost = 0, span = 0;
  std::uint32_t deepest = 0;

  explicit Extent(const Drawing& drawing) : leftmost(drawing.places[0].x) {
    double rightmost = leftmost;
    for (const Place& place : drawing.places) {
      leftmost = std::min(leftmost, place.x);
      rightmost = std::max(rightmost, place.x);
      deepest = std::max(deepest, place.level);
    }
    span = rightmost - leftmost;
  }
  // A place's position across, from 0 (leftmost) to 1 (rightmost).
  double position(const Place& place) const { return span > 0 ? (place.x - leftmost) / span : 0; }
};

// --- Fitting the width ---
//
// With the unit length u (the horizontal distance between the leftmost and the rightmost
// place), the picture's width is W(u) = max(p u + right) - min(p u - left) over the places, p
// being a place's position between 0 and 1 and left and right the room its dot and labels take
// (in em, as estimated for DejaVu Sans, wider than most fonts). W is the sum of two upper
// envelopes of lines, so convex and piecewise linear: inverting it, piece by piece, gives the
// u at which the picture is as wide as the given length. The inversion runs in TeX, which
// alone knows that length and the size of an em.

// The pieces of W where it grows (slope above 0); the first starts where W is least.
std::vector<Piece> width_function(const Drawing& drawing, const Extent& extent) {
  std::vector<Line> rights, lefts;
  rights.reserve(drawing.places.size());
  lefts.reserve(drawing.places.size());
  for (const Place& place : drawing.places) {
    const double p = extent.position(place);
    rights.push_back(Line{p, em(place.right)});
    lefts.push_back(Line{-p, em(place.left)});
  }
  std::vector<Piece> pieces = sum(upper_envelope(rights), upper_envelope(lefts));
  const auto growing = std::find_if(pieces.begin(), pieces.end(),
                                    [](const Piece& piece) { return piece.line.slope > 1e-9; });
  pieces.erase(pieces.begin(), growing);
  return pieces;
}

// The longest length in em that is written: within TeX's largest dimension (16383.99 pt) up
// to a 16 pt font. A picture whose texts take more is wider than any page anyway.
constexpr double longest = 1000;

// A length of `value` em, as TeX's integer arithmetic reads it: "\kelvoraem*3966/1000".
// Rounded up or down to the thousandth, whichever narrows the picture.
struct Em {
  double value;
  bool round_up;
};
TexWriter& operator<<(TexWriter& out, Em length) {
  const double value = std::min(length.value, longest);
  const double thousandths = length.round_up ? std::ceil(value * 1000) : std::floor(value * 1000);
  return out << "\\kelvoraem*" << static_cast<std::int64_t>(thousandths) << "/1000";
}

// Defines \kelvorax, the unit length that makes the picture `width` wide (0pt for one column).
// Inside a picture the font is TeX's null font, whose em is 0: the document's em and the width
// are read with PGF's arithmetic, which sets the font first.
void fit_unit(TexWriter& out, const Drawing& drawing, const Extent& extent,
              std::string_view width) {
  out << "\\pgfmathsetlengthmacro\\kelvoraem{1em}%\n"
      << "\\pgfmathsetlengthmacro\\kelvorawidth{" << width << "}%\n";
  if (extent.span <= 0) {
    out << "\\def\\kelvorax{0pt}";
    return;
  }
  const std::vector<Piece> pieces = width_function(drawing, extent);
  // Piece k, W(u) = a u + b, is inverted as u = (width - b) / a, with a written as a fraction
  // of a million (rounded up) for TeX's integer arithmetic, which keeps the product exact.
  auto unit = [&](const Piece& piece) {
    const double millionths = std::ceil(piece.line.slope * 1e6);
    out << "\\edef\\kelvorax{\\the\\dimexpr";
    if (millionths >= 1e6) {
      out << "\\kelvorawidth-" << Em{piece.line.intercept, true};
    } else {
      out << "(\\kelvorawidth-" << Em{piece.line.intercept, true} << ")*1000000/"
          << static_cast<std::int64_t>(millionths);
    }
    out << "\\relax}";
  };
  auto below = [&](double threshold) {
    out << "\\ifdim\\kelvorawidth<\\dimexpr" << Em{threshold, false} << "\\relax";
  };
  unit(pieces.back());
  out << "%\n";
  for (std::size_t k = pieces.size() - 1; k-- > 0;) {
    below(pieces[k + 1].line.at(pieces[k + 1].start));
    unit(pieces[k]);
    out << "\\fi%\n";
  }
  const Piece& least = pieces.front();
  below(least.line.at(least.start));
  out << "\\edef\\kelvorax{\\the\\dimexpr" << Em{least.start, false} << "\\relax}\\fi%\n";
}

// Defines \kelvoray, the distance between levels: the natural distance of the layout (72 px to
// a 12 px text) in proportion to the unit, but at least 6 em, which the labels between two
// levels need, and at most 9 em. TeX's lengths end at 16383.99 pt: a tree so deep that its
// levels would run past that is drawn with its levels closer, labels overlapping, rather than
// not at all.
void fit_levels(TexWriter& out, const Extent& extent) {
  // 72 px for `span` px is 6 em for span / 12 em.
  const double spread = em(extent.span);
  if (spread <= 0 || spread * 1.5 > longest) {
    out << "\\edef\\kelvoray{\\the\\dimexpr\\kelvoraem*6\\relax}%\n";
  } else {
    out << "\\ifdim\\kelvorax>\\dimexpr" << Em{spread * 1.5, false}
        << "\\relax\\edef\\kelvoray{\\the\\dimexpr\\kelvoraem*9\\relax}\\else\\ifdim\\kelvorax>"
           "\\dimexpr"
        << Em{spread, false} << "\\relax\\edef\\kelvoray{\\the\\dimexpr\\kelvorax*6000/"
        << static_cast<std::int64_t>(std::llround(spread * 1000))
        << "\\relax}\\else\\edef\\kelvoray{\\the\\dimexpr\\kelvoraem*6\\relax}\\fi\\fi%\n";
  }
  if (extent.deepest > 80) {
    const std::int64_t deepest = extent.deepest;
    out << "\\ifdim\\kelvoray>\\dimexpr16000pt/" << deepest
        << "\\relax\\edef\\kelvoray{\\the\\dimexpr16000pt/" << deepest << "\\relax}\\fi%\n";
  }
}

// --- The picture ---

class Picture {
 public:
  Picture(TexWriter& out, const Drawing& drawing, const Extent& extent)
      : out_(out), drawing_(drawing), places_(drawing.places), extent_(extent) {}

  // A place's coordinates: its position across, and its level (downwards).
  void at(const Place& place) {
    out_ << '(' << Fixed<5>{extent_.position(place)} << ','
         << -static_cast<std::int64_t>(place.level) << ')';
  }

  void write() {
    for (const layout::Link& link : drawing_.links) {
      const Place &a = places_[link.from], &b = places_[link.to];
      out_ << "\\draw[dashed] ";
      at(a);
      if (link.around) {
        out_ << " -- ++(0," << -em(layout::detour) << "em) -| ";
      } else {
        out_ << " -- ";
      }
      at(b);
      out_ << ";\n";
    }
    for (std::size_t v = 1; v < places_.size(); ++v) {
      out_ << "\\draw ";
      at(places_[places_[v].parent]);
      out_ << " -- ";
      at(places_[v]);
      out_ << ";\n";
    }
    for (const bool leaves : {false, true}) {
      for (const Place& place : places_) {
        if (place.node == nullptr || (place.child_count == 0) != leaves) continue;
        out_ << (leaves ? "\\filldraw[fill=white] " : "\\fill ");
        at(place);
        out_ << " circle[radius=" << std::floor(em(layout::dot_radius) * 1000) / 1000 << "em];\n";
      }
    }
    std::string scratch[2];
    for (std::size_t v = 0; v < places_.size(); ++v) {
      const Place& place = places_[v];
      if (place.node == nullptr) continue;
      const Decision& node = *place.node;
      const layout::Labels labels = layout::labels_of(node, v == 0, place.side, scratch);
      const bool inner = layout::between_siblings(places_, v);
      if (label(place, labels.action, inner)) {
        tex_text(out_, node.name);
        out_ << "};\n";
      }
      if (label(place, labels.player, inner)) {
        tex_text(out_, walk::first_child_player(node));
        if (node.payoff) {
          out_ << ' ';
          tex_payoff(out_, node.payoff);
        }
        out_ << "};\n";
      }
      if (label(place, labels.payoff, false)) {
        tex_payoff(out_, node.payoff);
        out_ << "};\n";
      }
    }
  }

 private:
  // Starts a label's node, up to its text; false when there is no label.
  bool label(const Place& place, const layout::Label& label, bool ground) {
    if (label.text.empty()) return false;
    out_ << "\\path ";
    at(place);
    out_ << " ++(" << em(label.dx) << "em," << -em(label.baseline) << "em) node[anchor=base"
         << (label.anchor == Anchor::start ? " west"
             : label.anchor == Anchor::end ? " east"
                                           : "")
         << (ground ? ",fill=white" : "") << "] {";
    return true;
  }

  TexWriter& out_;
  const Drawing& drawing_;
  const layout::Places& places_;
  const Extent& extent_;
};

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

void tikz(const Drawing& drawing, std::string_view width, Destination& destination) {
  walk::Out out(destination);
  TexWriter writer(out);
  const Extent extent(drawing);
  writer << "\\begin{tikzpicture}[inner sep=0pt,line cap=round]\n";
  fit_unit(writer, drawing, extent, width);
  fit_levels(writer, extent);
  writer << "\\tikzset{x=\\kelvorax,y=\\kelvoray}%\n";
  Picture(writer, drawing, extent).write();
  writer << "\\end{tikzpicture}\n";
  out.finish();
}

}  // namespace kelvora::draw
