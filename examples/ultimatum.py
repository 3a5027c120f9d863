"""An ultimatum game with three offers: the proposer offers to split 10 as (8, 2), (5, 5) or
(2, 8); the responder sees the offer and accepts it, or rejects it and both get nothing.
Payoffs are (proposer, responder).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to ultimatum.tex and its
drawing to ultimatum.svg in the directory given as the first argument (the current directory by
default).
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Ultimatum", players=2, gametype=Type.Extensive)
proposer, responder = game.player[1], game.player[2]
proposer.name, responder.name = "Proposer", "Responder"

for keep in (8, 5, 2):
    offer = Decision(proposer, f"offer {10 - keep}")
    offer.add_nodes(Decision(responder, "accept", utility=[keep, 10 - keep]),
                    Decision(responder, "reject", utility=[0, 0]))
    game = game + offer

if __name__ == "__main__":
    draw(game, __file__)
