"""Game.export_tikz(): names set as TeX text, and the picture as wide as it is asked to be, as
pdfLaTeX measures it; the textbook games compile in figures without an overfull box. The layout
itself is export_svg()'s, tested there."""

import re
import subprocess
import sys

import pytest

from kelvora import Decision, Game, Player, Variable

from conftest import ROOT
from helpers import required_tool, worked_example

import kelvora

P = Player("P")

# (name, as the picture sets it)
ESCAPES = [
    ("Stay out", "Stay out"),
    ("Offer 50%", "Offer 50\\%"),
    ("Firm A & Co", "Firm A \\& Co"),
    ("#1 $5 x_1 {a}", "\\#1 \\$5 x\\_1 \\{a\\}"),
    ("~^\\", "\\textasciitilde{}\\textasciicircum{}\\textbackslash{}"),
    ("<|>", "\\textless{}\\textbar{}\\textgreater{}"),
    ("a\nb\tc\x00\x7f", "a b c  "),
    ("$\\alpha$", "$\\alpha$"),  # wholly math: as it is
    ("$\\$5^{\\{x\\}}$", "$\\$5^{\\{x\\}}$"),  # escaped dollars and braces inside the math
    ("$x\ny$", "$x y$"),
    ("$a$ and $b$", "\\$a\\$ and \\$b\\$"),  # two formulas: not one
    ("$a\\$", "\\$a\\textbackslash{}\\$"),  # the closing dollar is escaped
    ("$$", "\\$\\$"),
    ("$", "\\$"),
]


def escapes_game():
    """Every name of ESCAPES as an action, and as the player at the root; payoffs with a negative
    number and with variables named in text and in math."""
    g = Game()
    mover = Player("Firm A & Co")
    g.root.add_nodes(*[Decision(mover, name, utility=[1, 2]) for name, _ in ESCAPES])
    g.root.add_nodes(Decision(mover, "v", variable=[Variable("x_1"), Variable("$\\alpha$")]),
                     Decision(mover, "n", utility=[-3, 5]))
    return g


def test_names_are_set_as_text_or_math():
    text = escapes_game().export_tikz()
    labels = re.findall(r"node\[[^]]*\] at \([^)]*\) \{(.*)\};$", text, re.M)
    assert labels[0] == "Firm A \\& Co"
    assert labels[1::2][:len(ESCAPES)] == [f"\\textit{{{tex}}}" for _, tex in ESCAPES]
    assert labels[-4:] == ["\\textit{v}", "(x\\_1, $\\alpha$)", "\\textit{n}", "($-3$, 5)"]
    assert text.startswith("\\begin{tikzpicture}") and text.endswith("\\end{tikzpicture}\n")
    assert text == escapes_game().export_tikz(width=None)


def test_width_argument():
    g = worked_example(kelvora)
    fitted = {w: g.export_tikz(width=w) for w in
              ["12cm", " 0.8 \\linewidth ", ".5\\textwidth", "3in", "20em", "\\hsize"]}
    for w, text in fitted.items():
        assert f"\\pgfmathsetlengthmacro\\kelvorawidth{{{w}}}" in text
        assert text.replace(w, "\\linewidth") == g.export_tikz()
    for bad in ["", "12", "cm", "12 furlongs", "\\", "12PT", "1cm \\input{x}", "-3cm", "\\x1"]:
        with pytest.raises(ValueError) as info:
            g.export_tikz(width=bad)
    assert str(info.value) == ("argument 'width': expected a TeX length such as \"12cm\" or "
                               "\"0.8\\linewidth\", got \"\\x1\"")
    for call in [lambda: g.export_tikz(width=5), lambda: g.export_tikz(None, "12cm")]:
        with pytest.raises(TypeError):
            call()


def pdflatex(tmp_path, document):
    """Compiles `document` in `tmp_path`; its log."""
    program = required_tool("pdflatex")
    if program is None:
        pytest.skip("pdfLaTeX is not installed")
    (tmp_path / "document.tex").write_text(document)
    result = subprocess.run([program, "-interaction=nonstopmode", "-halt-on-error", "document.tex"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout[-3000:]
    return (tmp_path / "document.log").read_text(errors="replace")


def test_picture_is_as_wide_as_asked(tmp_path):
    fan, chain = Game(), Game()
    fan.root.add_nodes(*[Decision(P, f"a{i}", utility=[i, -i]) for i in range(9)])
    chain.root.add_node(Decision(P, "only").add_node(Decision(P, "then", utility=[1, 2])))
    sys.path.insert(0, str(ROOT / "examples"))
    try:
        from horse import game as horse
    finally:
        sys.path.remove(str(ROOT / "examples"))
    trees = {"horse": horse, "fan": fan, "escapes": escapes_game(), "chain": chain}
    widths = [None, "0.5\\linewidth", "12cm", "20em", "2pt", "1pt"]
    asked = [w or "\\linewidth" for w in widths]
    lines = []
    for name, game in trees.items():
        for i, w in enumerate(widths):
            game.export_tikz(tmp_path / f"{name}{i}.tex", width=w)
            lines.append(f"\\sbox\\drawn{{\\input{{{name}{i}}}}}\\typeout{{KELVORA {name} {i} "
                         f"\\the\\wd\\drawn\\space\\the\\dimexpr{asked[i]}\\relax}}")
    log = pdflatex(tmp_path, "\\documentclass{article}\n\\usepackage{tikz}\n\\newsavebox\\drawn\n"
                   "\\begin{document}\n" + "\n".join(lines) + "\n\\end{document}\n")
    measured = {}
    for name, i, wide, target in re.findall(r"^KELVORA (\w+) (\d) ([\d.]+)pt ([\d.]+)pt$", log, re.M):
        measured[name, int(i)] = float(wide), float(target)
    assert len(measured) == len(trees) * len(widths)
    # The room for a text is estimated from a wide sans-serif font, and from a name's characters
    # as written: narrower than asked by little for plain names, by more for the escapes.
    # Pictures keep their natural size where it fits, and shrink to the width asked otherwise.
    for name in trees:
        slack = 0.8 if name == "escapes" else 0.9
        natural = max(wide for (n, _), (wide, _) in measured.items() if n == name)
        for i in range(4):
            wide, target = measured[name, i]
            assert min(natural, slack * target) <= wide <= target + 0.1, (name, widths[i], wide)
        assert measured[name, 5][0] < measured[name, 4][0] < natural or name == "chain"


def test_textbook_figures_compile_without_overfull_boxes(tmp_path):
    result = subprocess.run([sys.executable, str(ROOT / "examples" / "figures.py"), str(tmp_path)],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    document = (tmp_path / "figures.tex").read_text()
    assert document.count("\\begin{figure}") == document.count("\\caption{") == 4
    log = pdflatex(tmp_path, document)
    assert "Overfull" not in log and "Output written on document.pdf" in log
