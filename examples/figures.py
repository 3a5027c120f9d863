"""kelvora's own pictures of the textbook games, in a LaTeX document for pdflatex: Selten's horse,
a centipede, the trust game, and an entry game with every character that TeX treats specially
in its names. Each game's tikzpicture, as export_tikz() makes it, goes to <name>-picture.tex,
which the document inputs in a figure with a caption; at the default width each picture is as
wide as the text. Each game's SVG drawing, from export_svg(), goes to <name>.svg beside it.

Writes figures.tex and the pictures to the directory given as the first argument (the current
directory by default); then compile it there with `pdflatex figures.tex`.
"""

import sys
from pathlib import Path

from kelvora import Decision, Game, Player, Type, Variable

import centipede
import horse
import symbolic


def specials():
    """An entry game whose names hold # $ % & ~ _ ^ \\ { }, which print as written, and a
    variable named in math, which is set as math."""
    game = Game("Specials", players=2, gametype=Type.Extensive)
    firm, rival = Player("Firm A & Co"), Player("Rival #2")
    share, alpha = Variable("x_1"), Variable("$\\alpha$")
    enter = Decision(rival, "Enter {50% share}").add_nodes(
        Decision(firm, "Fight ~ cut $5", utility=[-1, -2]),
        Decision(firm, "Accommodate ^ \\ share", variable=[share, alpha]),
    )
    return game + enter + Decision(rival, "Stay out", utility=[0, 4])


FIGURES = [
    ("horse", horse.game, "Selten's horse: player 3 does not know who moved down."),
    ("centipede", centipede.game, "A four-stage centipede."),
    ("trust", symbolic.game, "The trust game, with payoffs $t > r > p > s$."),
    ("specials", specials(), "Names with TeX's special characters, printed as written."),
]


def main():
    out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out_dir.mkdir(parents=True, exist_ok=True)
    body = []
    for name, game, caption in FIGURES:
        game.export_tikz(out_dir / f"{name}-picture.tex")
        game.export_svg(out_dir / f"{name}.svg")
        body.append(f"\\begin{{figure}}[htbp]\n\\centering\n\\input{{{name}-picture}}\n"
                    f"\\caption{{{caption}}}\n\\end{{figure}}\n")
    (out_dir / "figures.tex").write_text(
        "\\documentclass{article}\n\\usepackage{tikz}\n\\begin{document}\n"
        + "".join(body) + "\\end{document}\n")
    print(f"{out_dir / 'figures.tex'} written; compile it there with pdflatex")


if __name__ == "__main__":
    main()
