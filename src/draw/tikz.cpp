// The TikZ picture of a laid-out tree: at its natural size in em, shrunk by TeX to fit.
#include "draw/tikz.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "draw/tex.hpp"
#include "draw/writer.hpp"
#include "layout/layout.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
using TexWriter = Writer<3>;  // lengths in em, to the thousandth

// The layout's lengths are pixels of its 12 px text: a twelfth of an em. Lengths that go with
// the text (label offsets, dots) are written in em, so that they follow the document's font.
constexpr double em(double pixels) { return pixels / layout::font_size; }

// --- Natural size ---

// The longest length in em that a coordinate may have: within TeX's largest dimension
// (16383.99 pt) up to a 16 pt font. A picture larger than that is far larger than any page, and
// is drawn smaller, text included, before it is fitted.
constexpr double longest = 1000;

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
  // In one piece of room: the register four times at most, the base, the factor and the largest
  // dimension twice each.
  char* at =
      out.room(192 + 4 * reg.size() + 2 * length.base.size() + 2 * largest.size() + 2 * fixed_size);
  const auto factor = static_cast<std::uint64_t>(length.factor);  // at least 1
  auto scaled = [&](char* at) {
    at = put(put(at, "\\dimexpr"), length.base);
    *at++ = '*';
    return put(put_digits(at, factor), "/100000\\relax");
  };
  if (length.factor <= 100000) {
    at = put(at, reg);
    *at++ = '=';
    at = scaled(at);
  } else {
    at = put(put(put(at, "\\ifdim"), length.base), ">\\dimexpr");
    at = put(put(at, largest), "*100000/");
    at = put(put_digits(at, factor), "\\relax");
    at = put(put(at, reg), "=");
    at = put(put(at, largest), "\\relax\\else");
    at = put(put(at, reg), "=");
    at = put(scaled(at), "\\fi");
  }
  at = put(put(at, "\\ifdim"), reg);
  at = put(put(at, "<1sp "), reg);
  out.advance(put(at, "=1sp\\relax\\fi%\n"));
}

void begin_fitting(TexWriter& out) {
  out << "\\begin{tikzpicture}\n\\pgftext[left,base]{\\setbox2=\\hbox{%\n";
}

// Registers, local to the text (each ended by \relax where a space after it would be typeset):
// \box2 the picture, \dimen4 the width, \dimen6 the height,
// \dimen0 the scale (1pt for 1), \dimen8 the picture's height and depth.
void end_fitting(TexWriter& out, const Fit& fit) {
  out << "}%\n";
  set_length(out, "\\dimen4", fit.width);
  out << "\\dimen0=1pt\\relax\\ifdim\\wd2>\\dimen4\\relax"
         "\\dimen0=\\dimexpr1pt*\\dimen4/\\wd2-1sp\\relax\\fi%\n";
  if (fit.height) {
    set_length(out, "\\dimen6", *fit.height);
    out << "\\dimen8=\\dimexpr\\ht2+\\dp2\\relax\\ifdim\\dimen8>\\dimen6\\relax"
           "\\dimen8=\\dimexpr1pt*\\dimen6/\\dimen8-1sp\\relax"
           "\\ifdim\\dimen8<\\dimen0\\relax\\dimen0=\\dimen8\\relax\\fi\\fi%\n";
  }
  out << "\\ifdim\\dimen0<1pt \\ifdim\\dimen0<1sp "
         "\\dimen0=1sp\\relax\\fi\\pgfmathparse{\\the\\dimen0}%\n"
         "\\setbox2=\\hbox{\\scalebox{\\pgfmathresult}{\\box2}}%\n"
         "\\ifdim\\wd2>\\dimen4\\relax\\wd2=\\dimen4\\relax\\fi";
  if (fit.height) {
    out << "\\ifdim\\dimexpr\\ht2+\\dp2\\relax>\\dimen6\\relax\\ht2=\\dimexpr\\dimen6-"
           "\\dp2\\relax\\fi";
  }
  // No space after the picture: one that is as wide as the line would be followed by a break.
  out << "\\fi\\box2}\n\\end{tikzpicture}%\n";
}

// --- The picture ---

// A point of the scene in units of an em (the x and y of the picture), y upwards: "(1.5,-2.25)".
[[gnu::always_inline]] inline char* put_point(char* at, layout::Point point, Numbers<3>& numbers) {
  *at++ = '(';
  at = numbers.put(at, em(point.x));
  *at++ = ',';
  at = numbers.put(at, -em(point.y));
  *at++ = ')';
  return at;
}
constexpr std::size_t point_size = 2 * fixed_size + 3;

using Start = PathStart<3, point_size>;

// The bytes of a name that tex_text() may change: TeX's special characters, those that the
// default font encoding sets as other glyphs, a hyphen or comma (which may be doubled), the
// control characters; the bytes beyond ASCII are told apart by the name's widest character.
constexpr struct Special {
  bool byte[256];
  constexpr Special() : byte() {
    for (int c = 0; c < 0x20; ++c) byte[c] = true;
    byte[0x7F] = true;
    for (const char c : std::string_view("#$%&_{}~^\\<>|\"'`-,")) {
      byte[static_cast<unsigned char>(c)] = true;
    }
  }
} special;

// Whether tex_text() leaves a name as it is.
bool tex_plain(std::string_view text, unsigned widest) {
  bool found = widest != 0;
  for (const char c : text) found |= special.byte[static_cast<unsigned char>(c)];
  return !found;
}

// A name as TeX text (tex_text), at once where nothing in it needs to change.
void name_text(TexWriter& out, std::string_view text, unsigned widest) {
  if (!tex_plain(text, widest)) return tex_text(out, text);
  out.advance(put_short<layout::Bytes::slack>(out.room(text.size() + layout::Bytes::slack), text));
}

// "(3, $-2$)": the label's payoff of numbers, a negative one with a minus sign, at `at`, which
// has room for twice the payoff's bytes and a Text's more (a writer's room keeps that much spare);
// returns the end. The entries stand between "(" and ")", ", " apart (as for_each_entry reads
// them), and hold no comma: a number's text is canonical (see parse_exact). Each is copied in one
// move where it is short: the text goes on for as long after it.
char* put_numbers(char* at, const layout::Scene& scene, const layout::Label& label) {
  const std::string_view text = layout::text_of(scene, label);
  const std::string_view payoff = label.kind == layout::LabelKind::player
                                      ? text.substr(layout::name_size(scene, label) + 1)
                                      : text;
  const char* from = payoff.data() + 1;
  const char* const end = payoff.data() + payoff.size() - 1;
  *at++ = '(';
  while (from < end) {
    const char* stop = from;
    while (stop < end && *stop != ',') ++stop;
    const bool negative = *from == '-';
    *at = '$';
    at += negative;
    at = put_short<layout::Bytes::slack>(
        at, std::string_view(from, static_cast<std::size_t>(stop - from)));
    *at = '$';
    at += negative;
    if (stop == end) break;
    std::memcpy(at, ", ", 2);
    at += 2;
    from = stop + 2;
  }
  *at++ = ')';
  return at;
}

// "(3, $-2$, x)": every entry of the label's payoff, a negative number with a minus sign.
void payoff_text(TexWriter& out, const layout::Scene& scene, const layout::Label& label) {
  if (label.entries == layout::Entries::numbers) {
    out.advance(put_numbers(out.room(2 * label.size), scene, label));
    return;
  }
  out << '(';
  bool first = true;
  layout::for_each_entry(scene, label, [&](std::string_view entry) {
    if (!first) out << ", ";
    first = false;
    if (label.entries == layout::Entries::names) {
      tex_text(out, entry);
    } else if (entry.starts_with('-')) {
      out << '$' << entry << '$';
    } else {
      out << entry;
    }
  });
  out << ')';
}

// The scene at its natural size, a pixel being a twelfth of an em: the paths (set lines dashed,
// highlighted edges thick), the dots and the labels, actions in italics.
void write_scene(TexWriter& out, layout::Scene& scene) {
  Start start;
  Numbers<3>& numbers = Numbers<3>::kept();
  PathEnds ends(scene.paths.size());
  PathRelease release_paths(scene);
  for (const layout::Path& path : scene.paths) {
    release_paths.before(scene, path);
    char* at = out.room(24 + point_size + 64);
    switch (path.kind) {
      case layout::PathKind::edge: at = put(at, "\\draw "); break;
      case layout::PathKind::thick_edge: at = put(at, "\\draw[very thick] "); break;
      case layout::PathKind::set_line:
      case layout::PathKind::set_outline: at = put(at, "\\draw[dashed] "); break;
    }
    out.advance(start.put(
        at, path.start, numbers,
        [](char* to, layout::Point point, Numbers<3>& all) { return put_point(to, point, all); }));
    layout::for_each_segment(
        scene, path,
        [&](layout::Point to) {
          char* const point = put(out.room(4 + point_size), " -- ");
          char* const at = put_point(point, to, numbers);
          ends.line(out.offset(point), static_cast<std::size_t>(at - point), 0);
          out.advance(at);
        },
        [&](layout::Point a, layout::Point b, layout::Point to) {
          char* at = put(out.room(32 + 3 * point_size), " .. controls ");
          at = put(put_point(at, a, numbers), " and ");
          at = put(put_point(at, b, numbers), " .. ");
          out.advance(put_point(at, to, numbers));
          ends.curve();
        });
    ends.end_path();
    out.advance(put_either(out.room(16), path.closed, " -- cycle;\n", ";\n"));
  }
  Release::all(scene.paths);
  Release::all(scene.segments);
  Release::all(scene.points);
  static_assert(layout::dot_radius == 4 && layout::chance_radius == 6,
                "their radii in em are written as literals below");
  Release release_dots(scene.dots);
  for (const layout::Dot& dot : scene.dots) {
    release_dots.before(scene.dots, &dot);
    char* at = out.room(48 + point_size);
    at =
        put_either(at, dot.kind == layout::DotKind::decision, "\\fill ", "\\filldraw[fill=white] ");
    // The centre is the last point of its edge, written there already.
    at = dot.edge != layout::no_path
             ? put_again<32>(at, out.written(ends.offset(dot.edge)), ends.first(dot.edge))
             : put_point(at, dot.at, numbers);
    out.advance(put_either(at, dot.kind == layout::DotKind::chance, " circle[radius=0.5];\n",
                           " circle[radius=0.333];\n"));
  }
  Release::all(scene.dots);
  ends.release();
  Release release(scene.labels);
  TextRelease release_text(scene);
  const auto& labels = scene.labels;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const layout::Label& label = labels[i];
    release.before(labels, &label);
    release_text.before(scene, label);
    // An action's name and the probability after it are set as one text, in the document's
    // font, anchored where the pair is: at the name's start or the probability's end.
    const bool pair = label.paired && i + 1 < labels.size();
    // The whole label in one piece of room where its texts are set as they are (a payoff of
    // numbers at most doubles), else piece by piece.
    const std::string_view text = layout::text_of(scene, label);
    char* at = out.room(64 + point_size + 2 * text.size() + layout::Bytes::slack);
    switch (label.anchor) {
      case Anchor::start: at = put(at, "\\node[anchor=base west] at "); break;
      case Anchor::end: at = put(at, "\\node[anchor=base east] at "); break;
      case Anchor::middle: at = put(at, "\\node[anchor=base] at "); break;
    }
    at = put_point(at, pair && label.anchor == Anchor::end ? labels[i + 1].at : label.at, numbers);
    at = put(at, " {");
    switch (label.kind) {
      case layout::LabelKind::action:
        at = put(at, "\\textit{");
        if (tex_plain(text, label.widest)) {
          at = put(put_short<layout::Bytes::slack>(at, text), "}");
        } else {
          out.advance(at);
          tex_text(out, text);
          at = put(out.room(1), "}");
        }
        if (pair) {
          out.advance(put(at, " "));
          ++i;
          name_text(out, layout::text_of(scene, labels[i]), labels[i].widest);
          at = out.room(8);
        }
        break;
      case layout::LabelKind::player: {
        const std::string_view name = text.substr(0, layout::name_size(scene, label));
        if (tex_plain(name, label.widest)) {
          at = put_short<layout::Bytes::slack>(at, name);
        } else {
          out.advance(at);
          tex_text(out, name);
          at = out.room(8 + 2 * text.size());
        }
        if (label.entries == layout::Entries::numbers) {
          *at++ = ' ';
          at = put_numbers(at, scene, label);
        } else if (label.entries != layout::Entries::none) {
          out.advance(put(at, " "));
          payoff_text(out, scene, label);
          at = out.room(8);
        }
        break;
      }
      case layout::LabelKind::payoff:
        if (label.entries == layout::Entries::numbers) {
          at = put_numbers(at, scene, label);
        } else {
          out.advance(at);
          payoff_text(out, scene, label);
          at = out.room(8);
        }
        break;
      case layout::LabelKind::probability:
        if (tex_plain(text, label.widest)) {
          at = put_short<layout::Bytes::slack>(at, text);
        } else {
          out.advance(at);
          tex_text(out, text);
          at = out.room(8);
        }
        break;
    }
    out.advance(put(at, "};\n"));
  }
}

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

void tikz(layout::Scene&& scene, const Fit& fit, Destination& destination) {
  TexWriter writer(destination);
  // The unit of the coordinates: an em, or less where the scene would reach past `longest`.
  const double extent = std::max(em(scene.right - scene.left), em(scene.bottom - scene.top));
  const double shrink = extent > longest ? longest / extent : 1;
  begin_fitting(writer);
  writer << "\\begin{tikzpicture}[inner sep=0pt,line cap=round]\n"
            "\\pgfmathsetlengthmacro\\kelvoraem{1em}%\n";
  if (shrink < 1) {
    const auto millionths = std::max<std::int64_t>(1, static_cast<std::int64_t>(shrink * 1e6));
    writer << "\\edef\\kelvoraunit{\\the\\dimexpr\\kelvoraem*" << millionths
           << "/1000000\\relax}%\n\\tikzset{x=\\kelvoraunit,y=\\kelvoraunit,every node/.append "
              "style={scale="
           << Fixed<6>{static_cast<double>(millionths) / 1e6} << "}}%\n";
  } else {
    writer << "\\tikzset{x=\\kelvoraem,y=\\kelvoraem}%\n";
  }
  write_scene(writer, scene);
  writer << "\\end{tikzpicture}";
  end_fitting(writer, fit);
  writer.finish();
}

}  // namespace kelvora::draw
