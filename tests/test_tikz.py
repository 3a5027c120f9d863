"""Game.export_tikz(): names set as TeX text that prints as written (pdfLaTeX and pdftotext, and
LuaLaTeX for other scripts); the picture at its natural size, shrunk only to fit its width and
height, as TeX measures it; the textbook games in the figures of an article and on beamer slides,
without an overfull box. The layout itself is export_svg()'s, tested there."""

import importlib
import re
import subprocess
import sys
import unicodedata

import pytest

from kelvora import Decision, Game, Player, Variable

from conftest import ROOT
from helpers import required_tool, worked_example

import kelvora

sys.path.insert(0, str(ROOT / "examples"))
try:
    from figures import EXAMPLES
finally:
    sys.path.remove(str(ROOT / "examples"))

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
    ('say "yes"', "say \\UseTextSymbol{T1}{\\textquotedbl}yes\\UseTextSymbol{T1}{\\textquotedbl}"),
    ("a--b ,,", "a-\\kern0pt -b ,\\kern0pt ,"),
    ("?`'", "?\\textasciigrave{}\\textquotesingle{}"),
    ("\u03b1\u2013\u03a9\u0391 \u20ac", "\\ensuremath{\\alpha}\\textendash{}\\ensuremath{\\Omega}A \\texteuro{}"),
    ("\u00e9\u00fc", "\u00e9\u00fc"),  # as UTF-8, which LaTeX reads
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
    assert text.startswith("\\begin{tikzpicture}") and text.endswith("\\end{tikzpicture}%\n")
    assert text == escapes_game().export_tikz(width=None)


def test_options_and_their_refusals(tmp_path):
    g = worked_example(kelvora)
    leaf = g.root.children[0]
    tikz = g.export_tikz()
    accepted = [  # keywords, of export_tikz and, without width and height, of export_svg
        dict(width="12cm", height="0.8\\textheight"), dict(width=" 0.8 \\linewidth "),
        dict(width=".5\\textwidth", height="9999.99999pt"), dict(width="20em", height="1sp"),
        dict(width="\\hsize", height="3 in"), dict(width="0.00001\\paperwidth"),
        dict(direction="right", infosets="outline", highlight=[leaf, g.root, leaf]),
        dict(direction=None, infosets=None, highlight=iter(())),
    ]
    for keywords in accepted:
        assert g.export_tikz(**keywords).startswith("\\begin{tikzpicture}")
        drawing = {k: v for k, v in keywords.items() if k not in ("width", "height")}
        assert g.export_svg(**drawing).startswith("<?xml")
    lengths = ["", "12", "cm", "12 furlongs", "\\", "12PT", "1cm \\input{x}", "-3cm", "\\x1",
               "99999cm", "16384pt", "1" * 400 + "pt", "\\end", "\\input", "0pt", "0.000001cm",
               "\\linewidthx", "2\\linewidth\\relax"]
    refused = [(dict(width=w), ValueError) for w in lengths] + [
        (dict(height="\\input"), ValueError), (dict(width=5), TypeError),
        (dict(direction="up"), ValueError), (dict(direction=1), TypeError),
        (dict(infosets="box"), ValueError), (dict(highlight=3), TypeError),
        (dict(highlight=[g.root, "root"]), TypeError), (dict(highlight=None), None),
    ]
    target = tmp_path / "old.tex"
    for keywords, exc in refused:
        for method in ("export_tikz", "export_svg"):
            if method == "export_svg" and ("width" in keywords or "height" in keywords):
                continue
            target.write_text("old")
            if exc is None:
                getattr(g, method)(target, **keywords)
                continue
            with pytest.raises(exc) as info:
                getattr(g, method)(target, **keywords)
            assert target.read_text() == "old"
            assert str(info.value).startswith(f"argument '{next(iter(keywords))}': ")
    assert str(info.value) == ("argument 'highlight': expected an Equilibrium or an iterable of "
                               "Decision nodes, got an iterable holding str")
    with pytest.raises(ValueError) as info:
        g.export_tikz(height="16384pt")
    assert str(info.value) == (
        "argument 'height': expected a TeX length such as \"12cm\" or \"0.8\\textheight\" (a "
        "factor of at most 4 digits before the point and 5 after, not zero, and a unit or one of "
        "TeX's page and line lengths; at most 16383.99999pt), got \"16384pt\"")
    with pytest.raises(ValueError, match="expected \"down\" or \"right\", got \"up\""):
        g.export_svg(direction="up")
    with pytest.raises(TypeError):
        g.export_tikz(None, "12cm")
    assert g.export_tikz(width=None, height=None) == tikz == g.export_tikz(width="\\linewidth")


def compile_tex(tmp_path, document, engine="pdflatex", name="document"):
    """Compiles `document` in `tmp_path`; its log."""
    program = required_tool(engine)
    if program is None:
        pytest.skip(f"{engine} is not installed")
    (tmp_path / f"{name}.tex").write_text(document)
    result = subprocess.run([program, "-interaction=nonstopmode", "-halt-on-error", f"{name}.tex"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout[-3000:]
    return (tmp_path / f"{name}.log").read_text(errors="replace")


def pdf_text(tmp_path, name="document"):
    program = required_tool("pdftotext")
    if program is None:
        pytest.skip("pdftotext is not installed")
    return subprocess.run([program, f"{name}.pdf", "-"], cwd=tmp_path, capture_output=True,
                          text=True, check=True, timeout=60).stdout


# Every character written as TeX rather than as UTF-8: Greek, and the typographic ones.
ESCAPED = ("".join(chr(c) for c in range(0x391, 0x3CA) if c != 0x3A2)
           + "\u00a0\u00a1\u00a2\u00a3\u00a5\u00a7\u00a9\u00ab\u00ac\u00ae\u00b0\u00b1\u00b6"
           "\u00b7\u00bb\u00bf\u00d7\u00f7\u2013\u2014\u2018\u2019\u201a\u201c\u201d\u201e\u2020"
           "\u2021\u2022\u2026\u2030\u2032\u20ac\u2122\u2190\u2192\u2212\u221e\u2260\u2264\u2265")
# Names that pdftotext reads back from pdfLaTeX's fonts exactly as typed.
AS_TYPED = ['say "yes"', "a--b", "?`", "!`", "a---b", ",,", "''", "``", "don't", "em\u2014dash",
            "\u201cq\u201d", "\u03b1\u03b2\u0393\u03a9", "\u00b1\u00d7\u00f7\u00a7\u00b0"]


def test_names_print_as_typed(tmp_path):
    names = AS_TYPED + [ESCAPED[i:i + 12] for i in range(0, len(ESCAPED), 12)]
    for i, name in enumerate(names):  # one small picture each, on the page
        (Game() + Decision(P, name, utility=[1, 2])).export_tikz(tmp_path / f"name{i}.tex")
    compile_tex(tmp_path, "\\documentclass{article}\n\\usepackage{tikz}\n\\tracinglostchars=3\n"
                "\\begin{document}\n" + "\n".join(f"\\input{{name{i}}}\\par" for i in range(len(names)))
                + "\n\\end{document}\n")
    # pdftotext reads some Greek letters as their look-alikes (Omega as the ohm sign)
    printed = unicodedata.normalize("NFKC", pdf_text(tmp_path)).split("\n")
    for name in AS_TYPED:
        assert name in printed, name
    # Other scripts print with LuaLaTeX and a font that has them.
    g = Game() + Decision(P, "\u041f\u0440\u0438\u0432\u0435\u0442 \u2014 \u0434\u0430", utility=[1, 2])
    g.export_tikz(tmp_path / "cyrillic.tex")
    compile_tex(tmp_path, "\\documentclass{article}\n\\usepackage{tikz}\n\\usepackage{fontspec}\n"
                "\\setmainfont{DejaVu Sans}\n\\begin{document}\n\\input{cyrillic}\n"
                "\\end{document}\n", engine="lualatex", name="lua")
    assert "\u041f\u0440\u0438\u0432\u0435\u0442 \u2014 \u0434\u0430" in pdf_text(tmp_path, "lua")


def example(name):
    """The module-level game of examples/<name>.py."""
    sys.path.insert(0, str(ROOT / "examples"))
    try:
        return importlib.import_module(name).game
    finally:
        sys.path.remove(str(ROOT / "examples"))


def measure(tmp_path, pictures, document="\\documentclass{article}"):
    """{key: (width, height and depth, asked width, asked height)} in pt as TeX measures each
    picture in `pictures` ({key: (file name, width, height)}), set in a box."""
    def bound(length, default):  # beyond TeX's largest length: that
        return "\\maxdimen" if length and length.startswith("9999") else length or default

    lines = []
    for key, (name, width, height) in pictures.items():
        lines.append(f"\\sbox\\drawn{{\\input{{{name}}}\\unskip}}\\typeout{{KELVORA {key} "
                     f"\\the\\wd\\drawn\\space\\the\\dimexpr\\ht\\drawn+\\dp\\drawn\\relax\\space"
                     f"\\the\\dimexpr{bound(width, chr(92) + 'linewidth')}\\relax\\space"
                     f"\\the\\dimexpr{bound(height, chr(92) + 'maxdimen')}\\relax}}")
    log = compile_tex(tmp_path, document + "\n\\usepackage{tikz}\n\\newsavebox\\drawn\n"
                      "\\begin{document}\n" + "\n".join(lines) + "\n\\end{document}\n")
    found = re.findall(r"^KELVORA (\S+) ([\d.]+)pt ([\d.]+)pt ([\d.]+)pt ([\d.]+)pt$", log, re.M)
    assert len(found) == len(pictures)
    return {key: tuple(map(float, sizes)) for key, *sizes in found}


def test_picture_keeps_its_natural_size_unless_it_must_shrink(tmp_path):
    fan, chain = Game(), Game()
    fan.root.add_nodes(*[Decision(P, f"a{i}", utility=[i, -i]) for i in range(30)])
    chain.root.add_node(Decision(P, "only").add_node(Decision(P, "then", utility=[1, 2])))
    deep = Game()
    at = deep.root
    for _ in range(400):  # deeper than TeX's largest length at 6 em a level
        at = at.add_node(Decision(P, "on")).children[0]
    at.add_node(Decision(P, "end", utility=[0, 0]))
    trees = {"horse": example("horse"), "fan": fan, "escapes": escapes_game(), "chain": chain,
             "deep": deep}
    sizes = [(None, None), ("0.5\\linewidth", None), ("12cm", "3cm"), ("20em", "40em"),
             ("1pt", None), ("1sp", "1sp"), (None, "0.00001pt"), ("9999em", "9999.99999em"),
             ("9999.99999\\paperwidth", "9999\\textheight")]
    pictures = {}
    for name, game in trees.items():
        for i, (width, height) in enumerate(sizes):
            game.export_tikz(tmp_path / f"{name}{i}.tex", width=width, height=height)
            pictures[f"{name}-{i}"] = (f"{name}{i}", width, height)
    measured = measure(tmp_path, pictures)
    for name in trees:
        natural_wide, natural_tall = measured[f"{name}-8"][:2]  # nothing is that large
        for i in range(len(sizes)):
            wide, tall, most_wide, most_tall = measured[f"{name}-{i}"]
            assert wide <= most_wide and tall <= most_tall, (name, sizes[i])
            if natural_wide <= most_wide and natural_tall <= most_tall:
                assert (wide, tall) == (natural_wide, natural_tall), (name, sizes[i])
            elif min(most_wide, most_tall) > 20:  # shrunk uniformly, as far as it must
                # The scale is rounded down to TeX's precision, 1/65536.
                scale = min(most_wide / natural_wide, most_tall / natural_tall)
                for got, natural in [(wide, natural_wide), (tall, natural_tall)]:
                    assert got == pytest.approx(natural * scale, abs=0.01 + 3 * natural / 65536)
    assert measured["fan-0"][0] < measured["fan-8"][0]  # the wide fan did shrink


def test_textbook_figures_compile_in_an_article_and_on_slides(tmp_path):
    result = subprocess.run([sys.executable, str(ROOT / "examples" / "figures.py"), str(tmp_path)],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    names = [name for _, name, _ in EXAMPLES] + ["specials"]
    for document, suffix, size in [("figures", "picture", (None, None)),
                                   ("slides", "slide", (None, "0.8\\textheight"))]:
        text = (tmp_path / f"{document}.tex").read_text()
        assert text.count("\\begin{figure}") == text.count("\\caption{") == len(names)
        log = compile_tex(tmp_path, text, name=document)
        assert "Overfull" not in log and f"Output written on {document}.pdf" in log
        preamble = text[:text.index("\n\\usepackage")]
        measured = measure(tmp_path, {name: (f"{name}-{suffix}", *size) for name in names},
                           preamble)
        for wide, tall, most_wide, most_tall in measured.values():
            assert wide <= most_wide and tall <= most_tall
