"""The entry game: an entrant decides whether to enter a market; if it enters, the incumbent
decides whether to fight or to accommodate. Payoffs are (entrant, incumbent).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to entry.tex in the
directory given as the first argument (the current directory by default):

    python examples/entry.py out/ | dot -Tpng -o entry.png
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Entry", players=2, gametype=Type.Extensive)
entrant, incumbent = game.player[1], game.player[2]

enter = Decision(entrant, "In")
enter.add_nodes(
    Decision(incumbent, "Fight", utility=[-1, -1]),
    Decision(incumbent, "Accommodate", utility=[1, 1]),
)
game += enter
game += Decision(entrant, "Out", utility=[0, 2])

if __name__ == "__main__":
    draw(game, __file__)
