// The SVG writer: prints a laid-out scene, deciding nothing about where things go.
#include "draw/svg.hpp"

#include <algorithm>

#include "draw/writer.hpp"

namespace kelvora::draw {
namespace {

using layout::Anchor;
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

template <class Point>
void point(SvgWriter& out, Point at) {
  out << at.x << ' ' << at.y;
}

void write(SvgWriter& out, const layout::Scene& scene, std::string_view title) {
  const double width = scene.right - scene.left, height = scene.bottom - scene.top;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << width
      << "\" height=\"" << height << "\" viewBox=\"" << scene.left << ' ' << scene.top << ' '
      << width << ' ' << height << "\">\n<title>";
  escaped(out, title);
  out << "</title>\n<rect x=\"" << scene.left << "\" y=\"" << scene.top << "\" width=\"" << width
      << "\" height=\"" << height << "\" fill=\"#fff\"/>\n";

  out << "<g fill=\"none\" stroke=\"#000\" stroke-linecap=\"round\">\n";
  for (const layout::Path& path : scene.paths) {
    out << "<path d=\"M";
    point(out, path.start);
    layout::for_each_segment(
        scene, path,
        [&](layout::Point to) {
          out << 'L';
          point(out, to);
        },
        [&](layout::Point a, layout::Point b, layout::Point to) {
          out << 'C';
          point(out, a);
          out << ' ';
          point(out, b);
          out << ' ';
          point(out, to);
        });
    if (path.closed) out << 'Z';
    out << '"';
    switch (path.kind) {
      case layout::PathKind::edge: break;
      case layout::PathKind::thick_edge: out << " stroke-width=\"3\""; break;
      case layout::PathKind::set_line:
      case layout::PathKind::set_outline: out << " stroke-dasharray=\"4 3\""; break;
    }
    out << "/>\n";
  }
  out << "</g>\n";
  for (const layout::DotKind kind :
       {layout::DotKind::decision, layout::DotKind::leaf, layout::DotKind::chance}) {
    const bool chance = kind == layout::DotKind::chance;
    if (chance && std::none_of(scene.dots.begin(), scene.dots.end(), [](const layout::Dot& dot) {
          return dot.kind == layout::DotKind::chance;
        })) {
      break;
    }
    out << (kind == layout::DotKind::decision ? "<g fill=\"#000\" stroke=\"#000\">\n"
                                              : "<g fill=\"#fff\" stroke=\"#000\">\n");
    for (const layout::Dot& dot : scene.dots) {
      if (dot.kind != kind) continue;
      out << "<circle cx=\"" << dot.at.x << "\" cy=\"" << dot.at.y << "\" r=\""
          << (chance ? layout::chance_radius : layout::dot_radius) << "\"/>\n";
    }
    out << "</g>\n";
  }
  out << "<g font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"" << layout::font_size
      << "\" fill=\"#000\">\n";
  std::string scratch;
  for (const layout::Label& label : scene.labels) {
    out << "<text x=\"" << label.at.x << "\" y=\"" << label.at.y;
    if (label.anchor == Anchor::middle) out << "\" text-anchor=\"middle";
    if (label.anchor == Anchor::end) out << "\" text-anchor=\"end";
    if (label.kind == layout::LabelKind::action) out << "\" font-style=\"italic";
    out << "\">";
    escaped(out, layout::label_text(label, scratch));
    out << "</text>\n";
  }
  out << "</g>\n</svg>\n";
}

}  // namespace

void svg(const layout::Scene& scene, std::string_view title, Destination& destination) {
  walk::Out out(destination);
  SvgWriter writer(out);
  write(writer, scene, title);
  out.finish();
}

}  // namespace kelvora::draw
