#include "draw/svg.hpp"

#include "draw/writer.hpp"
#include "layout/layout.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
using layout::Drawing;
using layout::Label;
using layout::Place;
using SvgWriter = Writer<2>;  // lengths in pixels, to the hundredth

// A text from the user: &, <, > and " as entities; the characters XML 1.0 forbids (the
// control characters but tab, line feed and carriage return; U+FFFE and U+FFFF) as U+FFFD.
void escaped(SvgWriter& out, std::string_view text) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  out.note_width(text);
  std::size_t done = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::string_view entity;
    std::size_t length = 1;
    switch (byte) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case '\t':
      case '\n':
      case '\r': continue;
      case 0xEF:
        if (text.substr(i + 1, 2) != "\xBF\xBE" && text.substr(i + 1, 2) != "\xBF\xBF") continue;
        entity = replacement;
        length = 3;
        break;
      default:
        if (byte >= 0x20) continue;
        entity = replacement;
        out.note_width(replacement);
    }
    out << text.substr(done, i - done) << entity;
    i += length - 1;
    done = i + 1;
  }
  out << text.substr(done);
}

// A label, on a white ground when `ground`: the labels of a child between its first and last
// sibling lie where the edges to those siblings pass, which then run behind the label.
void put_label(SvgWriter& out, const Label& label, const Place& place, bool ground) {
  if (label.text.empty()) return;
  if (ground) {
    const double width = layout::text_width(label.text);
    const double shift = label.anchor == Anchor::start    ? 0
                         : label.anchor == Anchor::middle ? width / 2
                                                          : width;
    out << "<rect x=\"" << place.x + label.dx - shift << "\" y=\""
        << place.y() + label.baseline - layout::ascent << "\" width=\"" << width << "\" height=\""
        << layout::ascent + layout::descent << "\" fill=\"#fff\"/>\n";
  }
  out << "<text x=\"" << place.x + label.dx << "\" y=\"" << place.y() + label.baseline;
  if (label.anchor == Anchor::middle) out << "\" text-anchor=\"middle";
  if (label.anchor == Anchor::end) out << "\" text-anchor=\"end";
  out << "\">";
  escaped(out, label.text);
  out << "</text>\n";
}

void write(SvgWriter& out, const Drawing& drawing, std::string_view title) {
  const auto& places = drawing.places;
  const double width = drawing.right - drawing.left, height = drawing.bottom - drawing.top;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << width
      << "\" height=\"" << height << "\" viewBox=\"" << drawing.left << ' ' << drawing.top << ' '
      << width << ' ' << height << "\">\n<title>";
  escaped(out, title);
  out << "</title>\n";

  out << "<g fill=\"none\" stroke=\"#000\" stroke-dasharray=\"4 3\">\n";
  for (const layout::Link& link : drawing.links) {
    const Place &a = places[link.from], &b = places[link.to];
    out << "<path d=\"M" << a.x << ' ' << a.y();
    if (link.around) {
      const double below = a.y() + layout::detour;
      out << "V" << below << "H" << b.x << "V" << b.y();
    } else {
      out << "L" << b.x << ' ' << b.y();
    }
    out << "\"/>\n";
  }
  out << "</g>\n<g fill=\"none\" stroke=\"#000\" stroke-linecap=\"round\">\n";
  for (std::size_t v = 1; v < places.size(); ++v) {
    const Place& parent = places[places[v].parent];
    out << "<path d=\"M" << parent.x << ' ' << parent.y() << "L" << places[v].x << ' '
        << places[v].y() << "\"/>\n";
  }
  out << "</g>\n";
  for (const bool leaves : {false, true}) {
    out << (leaves ? "<g fill=\"#fff\" stroke=\"#000\">\n" : "<g fill=\"#000\" stroke=\"#000\">\n");
    for (const Place& place : places) {
      if (place.node == nullptr || (place.child_count == 0) != leaves) continue;
      out << "<circle cx=\"" << place.x << "\" cy=\"" << place.y() << "\" r=\""
          << layout::dot_radius << "\"/>\n";
    }
    out << "</g>\n";
  }
  out << "<g font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"" << layout::font_size
      << "\" fill=\"#000\">\n";
  std::string scratch[2];
  for (std::size_t v = 0; v < places.size(); ++v) {
    const Place& place = places[v];
    if (place.node == nullptr) continue;
    const layout::Labels labels = layout::labels_of(*place.node, v == 0, place.side, scratch);
    const bool inner = layout::between_siblings(places, v);
    put_label(out, labels.action, place, inner);
    put_label(out, labels.player, place, inner);
    put_label(out, labels.payoff, place, false);
  }
  out << "</g>\n</svg>\n";
}

}  // namespace

void svg(const Game& game, const layout::Options& options, Destination& destination) {
  const Drawing drawing = layout::lay_out(game, options);
  walk::Out out(destination);
  SvgWriter writer(out);
  write(writer, drawing, game.title);
  out.finish();
}

std::size_t occurrences(const Game& game, std::size_t bound) {
  return layout::count_occurrences(game, bound);
}

}  // namespace kelvora::draw
