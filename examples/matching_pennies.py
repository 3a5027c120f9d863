"""Matching pennies in extensive form: player 1 shows Heads or Tails, then player 2 shows Heads
or Tails without seeing player 1's coin. Player 1 wins (1, -1) when the coins match, player 2
wins (-1, 1) when they differ.

Player 2 cannot tell the two nodes after player 1's move apart, so both carry the same
`information_set` number: the LaTeX figure draws a dashed box around them. (A set is known by
its number and by the player who moves at its nodes, and needs at least two nodes.)

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to matching_pennies.tex
in the directory given as the first argument (the current directory by default).
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Matching pennies", players=2, gametype=Type.Extensive)
one, two = game.player[1], game.player[2]

GUESSED = 1  # player 2's information set: "player 1 has moved, but I don't know how"

for coin in ("Heads", "Tails"):
    shown = Decision(one, coin, information_set=GUESSED)
    for answer in ("Heads", "Tails"):
        payoff = [1, -1] if answer == coin else [-1, 1]
        shown.add_node(Decision(two, answer, utility=payoff))
    game += shown

if __name__ == "__main__":
    draw(game, __file__)
