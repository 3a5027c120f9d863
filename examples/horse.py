"""Selten's horse: player 1 goes Across to player 2 or Down to player 3; player 2 goes across
to end the game or down to player 3. Player 3 does not know which of the two got to move, so
her two nodes form one information set, although one lies a level deeper than the other.
Payoffs are (player 1, player 2, player 3).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to horse.tex and its
drawing to horse.svg in the directory given as the first argument (the current directory by
default).
"""

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Selten's horse", players=3, gametype=Type.Extensive)
one, two, three = game.player[1], game.player[2], game.player[3]

UNSURE = 1  # player 3's information set: "someone went down, but who?"


def player_three(node, left, right):
    """Player 3's two moves below `node`, with the payoffs they end in."""
    return node.add_nodes(Decision(three, "L", utility=left), Decision(three, "R", utility=right))


down = player_three(Decision(one, "D", information_set=UNSURE), [3, 3, 2], [0, 0, 0])
across = Decision(one, "A").add_nodes(
    player_three(Decision(two, "d", information_set=UNSURE), [4, 4, 0], [0, 0, 1]),
    Decision(two, "a", utility=[1, 1, 1]),
)
game = game + down + across

if __name__ == "__main__":
    draw(game, __file__)
