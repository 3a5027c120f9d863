// The SVG writer: prints a laid-out scene, deciding nothing about where things go.
#include "draw/svg.hpp"

#include "draw/writer.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
using SvgWriter = Writer<2>;  // lengths in pixels, to the hundredth

// The bytes that a text from the user cannot keep as they are: & < > " and the control
// characters but tab, line feed and carriage return, and 0xEF, which may begin U+FFFE or U+FFFF.
constexpr struct Special {
  bool byte[256];
  constexpr Special() : byte() {
    for (int c = 0; c < 0x20; ++c) byte[c] = c != '\t' && c != '\n' && c != '\r';
    for (const char c : std::string_view("&<>\"")) byte[static_cast<unsigned char>(c)] = true;
    byte[0xEF] = true;
  }
} special;

// A text from the user: &, <, > and " as entities; the characters XML 1.0 forbids (the
// control characters but tab, line feed and carriage return; U+FFFE and U+FFFF) as U+FFFD.
// `widest` is its widest character (as Text::width counts it).
void escaped(SvgWriter& out, std::string_view text, unsigned widest) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  out.note_width(widest);
  std::size_t done = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!special.byte[byte]) continue;
    std::string_view entity;
    std::size_t length = 1;
    switch (byte) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case 0xEF:
        if (text.substr(i + 1, 2) != "\xBF\xBE" && text.substr(i + 1, 2) != "\xBF\xBF") continue;
        entity = replacement;
        length = 3;
        break;
      default: entity = replacement; out.note_width(Text::width_of(replacement));
    }
    out << text.substr(done, i - done) << entity;
    i += length - 1;
    done = i + 1;
  }
  out << text.substr(done);
}

// Whether a text holds nothing that escaped() changes.
bool plain(std::string_view text) {
  bool found = false;
  for (const char c : text) found |= special.byte[static_cast<unsigned char>(c)];
  return !found;
}

// "x y"
char* put_point(char* at, layout::Point point, Numbers<2>& numbers) {
  at = numbers.put(at, point.x);
  *at++ = ' ';
  return numbers.put(at, point.y);
}
constexpr std::size_t point_size = 2 * fixed_size + 1;

using Start = PathStart<2, point_size>;

void write(SvgWriter& out, layout::Scene& scene, std::string_view title) {
  const double width = scene.right - scene.left, height = scene.bottom - scene.top;
  // The head's four numbers, each written twice or more: made once (through the cache) and
  // copied, each in a fixed size.
  Numbers<2>& numbers = Numbers<2>::kept();
  struct Written {
    char text[fixed_size];
    std::size_t size;
  } box[4];
  const double values[4] = {scene.left, scene.top, width, height};
  for (int k = 0; k < 4; ++k) {
    box[k].size = static_cast<std::size_t>(numbers.put(box[k].text, values[k]) - box[k].text);
  }
  auto copy = [](char* at, const Written& number) {
    std::memcpy(at, number.text, fixed_size);
    return at + number.size;
  };
  const Written &left = box[0], &top = box[1], &wide = box[2], &high = box[3];
  char* at = out.room(256 + 6 * fixed_size);
  at = put(at,
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"");
  at = put(copy(at, wide), "\" height=\"");
  at = put(copy(at, high), "\" viewBox=\"");
  at = put(copy(at, left), " ");
  at = put(copy(at, top), " ");
  at = put(copy(at, wide), " ");
  at = put(copy(at, high), "\">\n<title>");
  out.advance(at);
  if (plain(title)) {
    out.note_width(title);
    out << title;
  } else {
    escaped(out, title, Text::width_of(title));
  }
  at = put(out.room(160 + 4 * fixed_size), "</title>\n<rect x=\"");
  at = put(copy(at, left), "\" y=\"");
  at = put(copy(at, top), "\" width=\"");
  at = put(copy(at, wide), "\" height=\"");
  at = put(copy(at, high),
           "\" fill=\"#fff\"/>\n<g fill=\"none\" stroke=\"#000\" stroke-linecap=\"round\">\n");
  out.advance(at);
  Start start;
  PathEnds ends(scene.paths.size());
  PathRelease release_paths(scene);
  for (const layout::Path& path : scene.paths) {
    release_paths.before(scene, path);
    char* at = out.room(16 + point_size + 64);
    at = start.put(put(at, "<path d=\"M"), path.start, numbers, put_point);
    out.advance(at);
    layout::for_each_segment(
        scene, path,
        [&](layout::Point to) {
          char* at = out.room(1 + point_size);
          *at++ = 'L';
          char* const x = at;
          char* const y = numbers.put(x, to.x) + 1;
          y[-1] = ' ';
          at = numbers.put(y, to.y);
          ends.line(out.offset(x), static_cast<std::size_t>(y - 1 - x),
                    static_cast<std::size_t>(at - y));
          out.advance(at);
        },
        [&](layout::Point a, layout::Point b, layout::Point to) {
          char* at = out.room(3 + 3 * point_size);
          *at++ = 'C';
          at = put_point(at, a, numbers);
          *at++ = ' ';
          at = put_point(at, b, numbers);
          *at++ = ' ';
          out.advance(put_point(at, to, numbers));
          ends.curve();
        });
    ends.end_path();
    at = out.room(40);
    if (path.closed) *at++ = 'Z';
    *at++ = '"';
    switch (path.kind) {
      case layout::PathKind::edge: break;
      case layout::PathKind::thick_edge: at = put(at, " stroke-width=\"3\""); break;
      case layout::PathKind::set_line:
      case layout::PathKind::set_outline: at = put(at, " stroke-dasharray=\"4 3\""); break;
    }
    out.advance(put(at, "/>\n"));
  }
  Release::all(scene.paths);
  Release::all(scene.segments);
  Release::all(scene.points);
  out << "</g>\n";
  static_assert(layout::dot_radius == 4 && layout::chance_radius == 6 && layout::font_size == 12,
                "written as literals below");
  // The dots by kind, the group of chance nodes only where there are some (counted on the way).
  bool chances = false;
  Release release_dots(scene.dots);
  for (const layout::DotKind kind :
       {layout::DotKind::decision, layout::DotKind::leaf, layout::DotKind::chance}) {
    const bool chance = kind == layout::DotKind::chance;
    if (chance && !chances) break;
    out << (kind == layout::DotKind::decision ? "<g fill=\"#000\" stroke=\"#000\">\n"
                                              : "<g fill=\"#fff\" stroke=\"#000\">\n");
    auto end = [&](char* at) { return put_either(at, chance, "\" r=\"6\"/>\n", "\" r=\"4\"/>\n"); };
    // The last kind's pass (the leaves', or the chance nodes' where there are some) gives the
    // dots back as it goes.
    const bool last = chance || (kind == layout::DotKind::leaf && !chances);
    for (const layout::Dot& dot : scene.dots) {
      if (last) release_dots.before(scene.dots, &dot);
      if (dot.kind != kind) {
        // A chance node is met in the first pass, among the other kinds.
        chances = chances || dot.kind == layout::DotKind::chance;
        continue;
      }
      char* at = put(out.room(32 + 2 * fixed_size), "<circle cx=\"");
      if (dot.edge != layout::no_path) {
        // The centre is the last point of its edge: "x y" there.
        const char* const x = out.written(ends.offset(dot.edge));
        const std::size_t x_size = ends.first(dot.edge);
        at = put(put_again<16>(at, x, x_size), "\" cy=\"");
        out.advance(end(put_again<16>(at, x + x_size + 1, ends.second(dot.edge))));
        continue;
      }
      at = put(numbers.put(at, dot.at.x), "\" cy=\"");
      out.advance(end(numbers.put(at, dot.at.y)));
    }
    out << "</g>\n";
  }
  Release::all(scene.dots);
  ends.release();
  Release release(scene.labels);
  TextRelease release_text(scene);
  out << "<g font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"12\" fill=\"#000\">\n";
  for (const layout::Label& label : scene.labels) {
    release.before(scene.labels, &label);
    release_text.before(scene, label);
    const std::string_view text = layout::text_of(scene, label);
    char* at =
        put(out.room(96 + 2 * fixed_size + layout::Bytes::slack + text.size()), "<text x=\"");
    at = put(numbers.put(at, label.at.x), "\" y=\"");
    at = numbers.put(at, label.at.y);
    if (label.anchor == Anchor::middle) at = put(at, "\" text-anchor=\"middle");
    if (label.anchor == Anchor::end) at = put(at, "\" text-anchor=\"end");
    if (label.kind == layout::LabelKind::action) at = put(at, "\" font-style=\"italic");
    at = put(at, "\">");
    // A payoff of numbers holds digits, signs, points, slashes, parentheses and ", " only.
    const bool numbers =
        label.kind == layout::LabelKind::payoff && label.entries == layout::Entries::numbers;
    if (label.widest == 0 && (numbers || plain(text))) {
      out.advance(put(put_short<layout::Bytes::slack>(at, text), "</text>\n"));
      continue;
    }
    out.advance(at);
    escaped(out, text, label.widest);
    out << "</text>\n";
  }
  out << "</g>\n</svg>\n";
}

}  // namespace

void svg(layout::Scene&& scene, std::string_view title, Destination& destination) {
  SvgWriter writer(destination);
  write(writer, scene, title);
  writer.finish();
}

}  // namespace kelvora::draw
