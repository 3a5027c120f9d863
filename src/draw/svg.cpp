#include "draw/svg.hpp"

#include <charconv>
#include <cmath>

namespace kelvora::draw {
namespace {

using layout::Anchor;
using layout::Drawing;
using layout::Label;
using layout::Place;

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  Writer& operator<<(std::string_view text) {
    out_ += text;
    return *this;
  }
  Writer& operator<<(char c) {
    out_ += c;
    return *this;
  }
  // A number with at most two decimals, trailing zeros dropped ("12", "-3.5", "0.25").
  Writer& operator<<(double value) {
    const double rounded = std::round(value * 100) / 100;
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, rounded == 0 ? 0 : rounded,
                                      std::chars_format::fixed, 2);
    std::string_view text(digits, result.ptr - digits);
    while (text.back() == '0') text.remove_suffix(1);
    if (text.back() == '.') text.remove_suffix(1);
    out_ += text;
    return *this;
  }
  // A text from the user: &, <, > and " as entities; the characters XML 1.0 forbids (the
  // control characters but tab, line feed and carriage return; U+FFFE and U+FFFF) as U+FFFD.
  void escaped(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const auto byte = static_cast<unsigned char>(c);
      switch (c) {
        case '&': out_ += "&amp;"; break;
        case '<': out_ += "&lt;"; break;
        case '>': out_ += "&gt;"; break;
        case '"': out_ += "&quot;"; break;
        default:
          if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out_ += replacement;
          } else if (byte == 0xEF && text.substr(i + 1, 1) == "\xBF" && i + 2 < text.size() &&
                     (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
            out_ += replacement;
            i += 2;
          } else {
            out_ += c;
          }
      }
    }
  }

 private:
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  std::string& out_;
};

void put_label(Writer& out, const Label& label, const Place& place) {
  if (label.text.empty()) return;
  out << "<text x=\"" << place.x + label.dx << "\" y=\"" << place.y() + label.baseline;
  if (label.anchor == Anchor::middle) out << "\" text-anchor=\"middle";
  if (label.anchor == Anchor::end) out << "\" text-anchor=\"end";
  out << "\">";
  out.escaped(label.text);
  out << "</text>\n";
}

}  // namespace

std::string svg(const Drawing& drawing, std::string_view title) {
  const auto& places = drawing.places;
  std::string text;
  text.reserve(200 + places.size() * 160);
  Writer out(text);
  const double width = drawing.right - drawing.left, height = drawing.bottom - drawing.top;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << width
      << "\" height=\"" << height << "\" viewBox=\"" << drawing.left << ' ' << drawing.top << ' '
      << width << ' ' << height << "\">\n<title>";
  out.escaped(title);
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
      if (place.node == nullptr || place.node->children.empty() != leaves) continue;
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
    put_label(out, labels.action, place);
    put_label(out, labels.player, place);
    put_label(out, labels.payoff, place);
  }
  out << "</g>\n</svg>\n";
  return text;
}

}  // namespace kelvora::draw
