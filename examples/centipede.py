"""A four-stage centipede: players 1 and 2 take turns; whoever moves can Take, which ends the
game, or Pass, which grows the pot for both. Payoffs are (player 1, player 2).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to centipede.tex and its
drawing to centipede.svg in the directory given as the first argument (the current directory by
default); then solves it by backward induction and writes the drawing with the equilibrium's
choices drawn thick to centipede-equilibrium.svg.
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Centipede", players=2, gametype=Type.Extensive)
one, two = game.player[1], game.player[2]

# What each stage pays when its mover takes; passing at the last stage pays LAST.
STAGES = [(one, [1, 0]), (two, [0, 2]), (one, [3, 1]), (two, [2, 4])]
LAST = [4, 3]

at = game.root
for stage, (mover, take) in enumerate(STAGES, 1):
    passed = Decision(mover, "Pass", utility=LAST if stage == len(STAGES) else None)
    at.add_nodes(Decision(mover, "Take", utility=take), passed)
    at = passed

if __name__ == "__main__":
    import sys
    from pathlib import Path

    draw(game, __file__)
    (equilibrium,) = game.backward_induction()  # take at once, at every stage
    print(equilibrium, file=sys.stderr)
    out_dir = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    game.export_svg(out_dir / "centipede-equilibrium.svg", direction="right",
                    highlight=equilibrium)
