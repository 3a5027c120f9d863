// The TikZ picture of a laid-out tree: at its natural size in em, shrunk by TeX to fit.
#include "draw/tikz.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <vector>

#include "draw/tex.hpp"
#include "draw/writer.hpp"
#include "layout/layout.hpp"

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

// --- Natural size ---

// The longest unit length in em that is written: within TeX's largest dimension (16383.99 pt)
// up to a 16 pt font. A picture whose places lie further apart is wider than any page anyway.
constexpr double longest = 1000;

// Sets the units of the picture's coordinates: \kelvorax, the distance between the leftmost
// and the rightmost place, as the layout has it (its pixels are twelfths of an em), and
// \kelvoray, the distance between levels (72 px, 6 em). Inside a picture the font is TeX's null
// font, whose em is 0: the document's em is read with PGF's arithmetic, which sets the font
// first. TeX's lengths end at 16383.99 pt: a tree so deep that its levels would run past that
// is drawn with its levels closer, labels overlapping, rather than not at all.
void natural_units(TexWriter& out, const Extent& extent) {
  const auto thousandths =
      static_cast<std::int64_t>(std::llround(std::min(em(extent.span), longest) * 1000));
  out << "\\pgfmathsetlengthmacro\\kelvoraem{1em}%\n"
      << "\\edef\\kelvorax{\\the\\dimexpr\\kelvoraem*" << thousandths << "/1000\\relax}%\n"
      << "\\edef\\kelvoray{\\the\\dimexpr\\kelvoraem*"
      << static_cast<std::int64_t>(std::llround(em(layout::level_distance))) << "\\relax}%\n";
  if (extent.deepest > 80) {
    const std::int64_t deepest = extent.deepest;
    out << "\\ifdim\\kelvoray>\\dimexpr16000pt/" << deepest
        << "\\relax\\edef\\kelvoray{\\the\\dimexpr16000pt/" << deepest << "\\relax}\\fi%\n";
  }
  out << "\\tikzset{x=\\kelvorax,y=\\kelvoray}%\n";
}

// --- Fitting ---
//
// The picture is set in a box inside the text of an outer picture (\pgftext, which no TikZ style
// touches), and TeX measures it there, in the document's font: when it is wider or taller than
// allowed, the box is scaled by graphicx (which PGF loads) by min(width / its width, height / its
// height and depth), rounded down. Every division is of a length by a larger one, so nothing
// overflows; the box is then given at most the allowed size, lest the rounding of the scaling leave
// it a scaled point too large.

// TeX's largest dimension less a scaled point, which no rounding takes past the largest.
constexpr std::string_view largest = "1073741822sp";

// Sets the dimen register `reg` to `length`: at most `largest`, at least 1sp.
void set_length(TexWriter& out, std::string_view reg, const TexLength& length) {
  auto scaled = [&] {
    out << "\\dimexpr" << length.base << '*' << length.factor << "/100000\\relax";
  };
  if (length.factor <= 100000) {
    out << reg << '=';
    scaled();
  } else {
    out << "\\ifdim" << length.base << ">\\dimexpr" << largest << "*100000/" << length.factor
        << "\\relax" << reg << '=' << largest << "\\relax\\else" << reg << '=';
    scaled();
    out << "\\fi";
  }
  out << "\\ifdim" << reg << "<1sp " << reg << "=1sp\\relax\\fi%\n";
}

void begin_fitting(TexWriter& out) {
  out << "\\begin{tikzpicture}\n\\pgftext[left,base]{\\setbox2=\\hbox{%\n";
}

// Registers, local to the text: \box2 the picture, \dimen4 the width, \dimen6 the height,
// \dimen0 the scale (1pt for 1), \dimen8 the picture's height and depth.
void end_fitting(TexWriter& out, const Fit& fit) {
  out << "}%\n";
  set_length(out, "\\dimen4", fit.width);
  out << "\\dimen0=1pt\\relax\\ifdim\\wd2>\\dimen4 "
         "\\dimen0=\\dimexpr1pt*\\dimen4/\\wd2-1sp\\relax\\fi%\n";
  if (fit.height) {
    set_length(out, "\\dimen6", *fit.height);
    out << "\\dimen8=\\dimexpr\\ht2+\\dp2\\relax\\ifdim\\dimen8>\\dimen6 "
           "\\dimen8=\\dimexpr1pt*\\dimen6/\\dimen8-1sp\\relax"
           "\\ifdim\\dimen8<\\dimen0 \\dimen0=\\dimen8 \\fi\\fi%\n";
  }
  out << "\\ifdim\\dimen0<1pt \\ifdim\\dimen0<1sp "
         "\\dimen0=1sp\\relax\\fi\\pgfmathparse{\\the\\dimen0}%\n"
      << "\\setbox2=\\hbox{\\scalebox{\\pgfmathresult}{\\box2}}%\n"
      << "\\ifdim\\wd2>\\dimen4 \\wd2=\\dimen4 \\fi";
  if (fit.height) {
    out << "\\ifdim\\dimexpr\\ht2+\\dp2\\relax>\\dimen6 \\ht2=\\dimexpr\\dimen6-\\dp2\\relax\\fi";
  }
  out << "\\fi\\box2}\n\\end{tikzpicture}\n";
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

std::optional<TexLength> tex_length(std::string_view text) {
  std::size_t i = 0;
  auto spaces = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  // Reads at most `most` digits into `value`; false when there are more.
  auto digits = [&](std::size_t most, std::int64_t& value, std::size_t& count) {
    count = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      if (++count > most) return false;
      value = value * 10 + (text[i++] - '0');
    }
    return true;
  };
  spaces();
  std::int64_t whole = 0, fraction = 0;
  std::size_t whole_digits = 0, fraction_digits = 0;
  if (!digits(4, whole, whole_digits)) return std::nullopt;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!digits(5, fraction, fraction_digits)) return std::nullopt;
  }
  for (std::size_t k = fraction_digits; k < 5; ++k) fraction *= 10;
  const bool has_factor = whole_digits + fraction_digits > 0;
  std::int64_t factor = whole * 100000 + fraction;
  if (has_factor && factor == 0) return std::nullopt;
  spaces();
  const std::string_view rest = text.substr(i);
  TexLength length{has_factor ? factor : 100000, {}};
  std::size_t end = 0;
  if (!rest.empty() && rest[0] == '\\') {
    static constexpr std::array<std::string_view, 8> registers = {
        "\\linewidth", "\\textwidth", "\\columnwidth", "\\textheight",
        "\\hsize",     "\\vsize",     "\\paperwidth",  "\\paperheight"};
    end = 1;
    while (end < rest.size() && std::isalpha(static_cast<unsigned char>(rest[end]))) ++end;
    const auto known = std::find(registers.begin(), registers.end(), rest.substr(0, end));
    if (known == registers.end()) return std::nullopt;
    length.base = *known;
  } else {
    // A unit and its size in scaled points; 0 for those that depend on the font or engine.
    struct Unit {
      std::string_view name;
      double points;
    };
    static constexpr std::array<Unit, 12> units = {{{"1pt", 65536},
                                                    {"1pc", 786432},
                                                    {"1in", 4736286.72},
                                                    {"1bp", 65781.76},
                                                    {"1cm", 1864679.81},
                                                    {"1mm", 186467.98},
                                                    {"1dd", 70124.09},
                                                    {"1cc", 841489.06},
                                                    {"1sp", 1},
                                                    {"1em", 0},
                                                    {"1ex", 0},
                                                    {"1px", 0}}};
    if (!has_factor || rest.size() < 2) return std::nullopt;
    const auto unit = std::find_if(units.begin(), units.end(), [&](const Unit& unit) {
      return unit.name.substr(1) == rest.substr(0, 2);
    });
    if (unit == units.end()) return std::nullopt;
    if (static_cast<double>(factor) / 100000 * unit->points > 1073741823.5) return std::nullopt;
    length.base = unit->name;
    end = 2;
  }
  i += end;
  spaces();
  if (i != text.size()) return std::nullopt;
  return length;
}

void tikz(const Game& game, const layout::Options& options, const Fit& fit,
          Destination& destination) {
  const Drawing drawing = layout::lay_out(game, options);
  walk::Out out(destination);
  TexWriter writer(out);
  const Extent extent(drawing);
  begin_fitting(writer);
  writer << "\\begin{tikzpicture}[inner sep=0pt,line cap=round]\n";
  natural_units(writer, extent);
  Picture(writer, drawing, extent).write();
  writer << "\\end{tikzpicture}";
  end_fitting(writer, fit);
  out.finish();
}

}  // namespace kelvora::draw
