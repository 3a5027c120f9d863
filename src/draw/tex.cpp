// Names and payoffs as TeX text, for the TikZ writer.
#include "draw/tex.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

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

namespace {

// The characters beyond ASCII that pdfLaTeX, in its default font encoding (OT1) and with no
// package but tikz, would refuse or misprint as UTF-8, as TeX that prints them; sorted. The
// Greek letters that look like Latin ones are those Latin letters. Every other character
// passes through as UTF-8, for an engine and font that have it (LuaLaTeX with fontspec).
struct Replacement {
  char32_t code;
  std::string_view tex;
};
constexpr Replacement replacements[] = {{0x00A0, "~"},
                                        {0x00A1, "\\textexclamdown{}"},
                                        {0x00A2, "\\textcent{}"},
                                        {0x00A3, "\\textsterling{}"},
                                        {0x00A5, "\\textyen{}"},
                                        {0x00A7, "\\textsection{}"},
                                        {0x00A9, "\\textcopyright{}"},
                                        {0x00AB, "\\UseTextSymbol{T1}{\\guillemetleft}"},
                                        {0x00AC, "\\ensuremath{\\neg}"},
                                        {0x00AE, "\\textregistered{}"},
                                        {0x00B0, "\\textdegree{}"},
                                        {0x00B1, "\\ensuremath{\\pm}"},
                                        {0x00B6, "\\textparagraph{}"},
                                        {0x00B7, "\\textperiodcentered{}"},
                                        {0x00BB, "\\UseTextSymbol{T1}{\\guillemetright}"},
                                        {0x00BF, "\\textquestiondown{}"},
                                        {0x00D7, "\\ensuremath{\\times}"},
                                        {0x00F7, "\\ensuremath{\\div}"},
                                        {0x0391, "A"},
                                        {0x0392, "B"},
                                        {0x0393, "\\ensuremath{\\Gamma}"},
                                        {0x0394, "\\ensuremath{\\Delta}"},
                                        {0x0395, "E"},
                                        {0x0396, "Z"},
                                        {0x0397, "H"},
                                        {0x0398, "\\ensuremath{\\Theta}"},
                                        {0x0399, "I"},
                                        {0x039A, "K"},
                                        {0x039B, "\\ensuremath{\\Lambda}"},
                                        {0x039C, "M"},
                                        {0x039D, "N"},
                                        {0x039E, "\\ensuremath{\\Xi}"},
                                        {0x039F, "O"},
                                        {0x03A0, "\\ensuremath{\\Pi}"},
                                        {0x03A1, "P"},
                                        {0x03A3, "\\ensuremath{\\Sigma}"},
                                        {0x03A4, "T"},
                                        {0x03A5, "\\ensuremath{\\Upsilon}"},
                                        {0x03A6, "\\ensuremath{\\Phi}"},
                                        {0x03A7, "X"},
                                        {0x03A8, "\\ensuremath{\\Psi}"},
                                        {0x03A9, "\\ensuremath{\\Omega}"},
                                        {0x03AA, "\\\"I"},
                                        {0x03AB, "\\ensuremath{\\ddot{\\Upsilon}}"},
                                        {0x03AC, "\\ensuremath{\\acute{\\alpha}}"},
                                        {0x03AD, "\\ensuremath{\\acute{\\varepsilon}}"},
                                        {0x03AE, "\\ensuremath{\\acute{\\eta}}"},
                                        {0x03AF, "\\ensuremath{\\acute{\\iota}}"},
                                        {0x03B0, "\\ensuremath{\\acute{\\ddot{\\upsilon}}}"},
                                        {0x03B1, "\\ensuremath{\\alpha}"},
                                        {0x03B2, "\\ensuremath{\\beta}"},
                                        {0x03B3, "\\ensuremath{\\gamma}"},
                                        {0x03B4, "\\ensuremath{\\delta}"},
                                        {0x03B5, "\\ensuremath{\\varepsilon}"},
                                        {0x03B6, "\\ensuremath{\\zeta}"},
                                        {0x03B7, "\\ensuremath{\\eta}"},
                                        {0x03B8, "\\ensuremath{\\theta}"},
                                        {0x03B9, "\\ensuremath{\\iota}"},
                                        {0x03BA, "\\ensuremath{\\kappa}"},
                                        {0x03BB, "\\ensuremath{\\lambda}"},
                                        {0x03BC, "\\ensuremath{\\mu}"},
                                        {0x03BD, "\\ensuremath{\\nu}"},
                                        {0x03BE, "\\ensuremath{\\xi}"},
                                        {0x03BF, "o"},
                                        {0x03C0, "\\ensuremath{\\pi}"},
                                        {0x03C1, "\\ensuremath{\\rho}"},
                                        {0x03C2, "\\ensuremath{\\varsigma}"},
                                        {0x03C3, "\\ensuremath{\\sigma}"},
                                        {0x03C4, "\\ensuremath{\\tau}"},
                                        {0x03C5, "\\ensuremath{\\upsilon}"},
                                        {0x03C6, "\\ensuremath{\\varphi}"},
                                        {0x03C7, "\\ensuremath{\\chi}"},
                                        {0x03C8, "\\ensuremath{\\psi}"},
                                        {0x03C9, "\\ensuremath{\\omega}"},
                                        {0x2013, "\\textendash{}"},
                                        {0x2014, "\\textemdash{}"},
                                        {0x2018, "\\textquoteleft{}"},
                                        {0x2019, "\\textquoteright{}"},
                                        {0x201A, "\\UseTextSymbol{T1}{\\quotesinglbase}"},
                                        {0x201C, "\\textquotedblleft{}"},
                                        {0x201D, "\\textquotedblright{}"},
                                        {0x201E, "\\UseTextSymbol{T1}{\\quotedblbase}"},
                                        {0x2020, "\\textdagger{}"},
                                        {0x2021, "\\textdaggerdbl{}"},
                                        {0x2022, "\\textbullet{}"},
                                        {0x2026, "\\textellipsis{}"},
                                        {0x2030, "\\textperthousand{}"},
                                        {0x2032, "\\ensuremath{\\prime}"},
                                        {0x20AC, "\\texteuro{}"},
                                        {0x2122, "\\texttrademark{}"},
                                        {0x2190, "\\ensuremath{\\leftarrow}"},
                                        {0x2192, "\\ensuremath{\\rightarrow}"},
                                        {0x2212, "\\ensuremath{-}"},
                                        {0x221E, "\\ensuremath{\\infty}"},
                                        {0x2260, "\\ensuremath{\\neq}"},
                                        {0x2264, "\\ensuremath{\\leq}"},
                                        {0x2265, "\\ensuremath{\\geq}"}};

// The TeX that prints `code`, or nothing when it passes through.
std::string_view replacement_of(char32_t code) {
  const auto found = std::lower_bound(
      std::begin(replacements), std::end(replacements), code,
      [](const Replacement& replacement, char32_t c) { return replacement.code < c; });
  return found != std::end(replacements) && found->code == code ? found->tex : std::string_view();
}

}  // namespace

// A name as TeX text, which prints as written: the characters that TeX treats specially as
// commands that print them, and those that the default font encoding sets as other glyphs (< >
// | " ' `) likewise; a zero kern between two hyphens or two commas, where TeX's fonts would set
// a dash or a low quote (and every engine's ligatures stop at a kern); the characters of
// `replacements` as TeX. A name wholly enclosed in $...$ goes through as math. Control
// characters, which would end the line or upset TeX, become spaces either way.
void tex_text(Writer<3>& out, std::string_view text) {
  const bool math = wholly_math(text);
  std::size_t done = 0;
  // Passes through what lies before `i`, then `replacement` for the `length` bytes at `i`.
  auto replace = [&](std::size_t i, std::size_t length, std::string_view replacement) {
    const std::string_view kept = text.substr(done, i - done);
    out.note_width(kept);
    out << kept << replacement;
    done = i + length;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      replace(i, 1, " ");
      continue;
    }
    if (math) continue;
    if (byte >= 0xC0) {
      const std::size_t length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
      char32_t code = byte & (0x7F >> length);
      for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
        code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
      }
      if (const std::string_view tex = replacement_of(code); !tex.empty()) replace(i, length, tex);
      i += length - 1;
      continue;
    }
    std::string_view replacement;
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
      case '"': replacement = "\\UseTextSymbol{T1}{\\textquotedbl}"; break;
      case '\'': replacement = "\\textquotesingle{}"; break;
      case '`': replacement = "\\textasciigrave{}"; break;
      case '-':
        if (i + 1 < text.size() && text[i + 1] == '-') replacement = "-\\kern0pt ";
        break;
      case ',':
        if (i + 1 < text.size() && text[i + 1] == ',') replacement = ",\\kern0pt ";
        break;
      default: break;
    }
    if (!replacement.empty()) replace(i, 1, replacement);
  }
  const std::string_view rest = text.substr(done);
  out.note_width(rest);
  out << rest;
}

}  // namespace kelvora::draw
