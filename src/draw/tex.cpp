// Names and payoffs as TeX text, for the TikZ writer.
#include "draw/tex.hpp"

#include <cstdint>

namespace kelvora::draw {

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
void tex_text(Writer<3>& out, std::string_view text) {
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
void tex_payoff(Writer<3>& out, const Payoff& payoff) {
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

}  // namespace kelvora::draw
