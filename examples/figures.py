"""kelvora's own pictures of the textbook games, in two LaTeX documents for pdflatex: an article
that puts each in a figure with a caption, as wide as the text at most, and 16:9 beamer slides
with one picture each, at most 0.8\\textheight tall. The games: Selten's horse, a centipede
(drawn from left to right), the trust game, the ultimatum game, a signalling game, a poker game,
and an entry game with TeX's special characters and typographic ones in its names. Each
picture, as export_tikz() makes it, goes to <name>-picture.tex (for the article) and
<name>-slide.tex (for the slides), which the documents input; each game's SVG drawing, from
export_svg(), goes to <name>.svg beside them.

Writes figures.tex, slides.tex and the pictures to the directory given as the first argument
(the current directory by default); then compile them there with `pdflatex figures.tex` and
`pdflatex slides.tex`.
"""

import importlib
import sys
from pathlib import Path

from kelvora import Decision, Game, Player, Type, Variable

# (example module, its picture's name, caption)
EXAMPLES = [
    ("horse", "horse", "Selten's horse: player 3 does not know who moved down."),
    ("centipede", "centipede", "A four-stage centipede."),
    ("symbolic", "trust", "The trust game, with payoffs $t > r > p > s$."),
    ("ultimatum", "ultimatum", "The ultimatum game."),
    ("signalling", "signalling", "A signalling game."),
    ("poker", "poker", "A simple poker game."),
]
# The drawing options of a picture, where it has any: a centipede reads from left to right.
OPTIONS = {"centipede": {"direction": "right"}}


def specials():
    """An entry game whose names hold # $ % & ~ _ ^ \\ { }, quotes, dashes and Greek letters,
    which print as written, and a variable named in math, which is set as math."""
    game = Game("Specials", players=2, gametype=Type.Extensive)
    firm, rival = Player("Firm A & Co"), Player("Rival #2 \u2014 \u201cthe \u03b1 firm\u201d")
    share, alpha = Variable("x_1"), Variable("$\\alpha$")
    enter = Decision(rival, "Enter {50% share}").add_nodes(
        Decision(firm, "Fight ~ cut $5 -- say \"no\"", utility=[-1, -2]),
        Decision(firm, "Accommodate ^ \\ share", variable=[share, alpha]),
    )
    return game + enter + Decision(rival, "Stay out?`", utility=[0, 4])


def figures():
    """(name, game, caption) of every example, then of specials()."""
    found = [(name, importlib.import_module(module).game, caption)
             for module, name, caption in EXAMPLES]
    return found + [("specials", specials(),
                     "Names with TeX's special characters, printed as written.")]


def main():
    out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out_dir.mkdir(parents=True, exist_ok=True)
    article, slides = [], []
    for name, game, caption in figures():
        options = OPTIONS.get(name, {})
        game.export_tikz(out_dir / f"{name}-picture.tex", **options)
        game.export_tikz(out_dir / f"{name}-slide.tex", height="0.8\\textheight", **options)
        game.export_svg(out_dir / f"{name}.svg", **options)
        article.append(f"\\begin{{figure}}[htbp]\n\\centering\n\\input{{{name}-picture}}\n"
                       f"\\caption{{{caption}}}\n\\end{{figure}}\n")
        slides.append(f"\\begin{{frame}}\n\\begin{{figure}}\n\\centering\n"
                      f"\\input{{{name}-slide}}\n\\caption{{{caption}}}\n\\end{{figure}}\n"
                      f"\\end{{frame}}\n")
    (out_dir / "figures.tex").write_text(
        "\\documentclass{article}\n\\usepackage{tikz}\n\\begin{document}\n"
        + "".join(article) + "\\end{document}\n")
    (out_dir / "slides.tex").write_text(
        "\\documentclass[aspectratio=169]{beamer}\n\\usepackage{tikz}\n\\begin{document}\n"
        + "".join(slides) + "\\end{document}\n")
    print(f"{out_dir / 'figures.tex'} and {out_dir / 'slides.tex'} written; compile them there "
          "with pdflatex")


if __name__ == "__main__":
    main()
