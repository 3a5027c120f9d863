"""Three-card poker (Kuhn poker): each player antes 1 and Nature deals each one card of J, Q, K.
Player 1 checks or bets 1 (each of the six deals has probability 1/6); after a check, player 2 checks (showdown) or bets, and player 1 then
folds or calls; after a bet, player 2 folds or calls. The higher card wins the pot at a
showdown. Each player knows only their own card: twelve information sets, 55 nodes. Payoffs are
(player 1, player 2).

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to poker.tex and its
drawing to poker.svg in the directory given as the first argument (the current directory by
default).
"""

from itertools import permutations

from kelvora import Decision, Game, Type

from drawing import draw

game = Game("Kuhn poker", players=2, gametype=Type.Extensive)
nature, one, two = game.player[0], game.player[1], game.player[2]

CARDS = "JQK"
# Information sets by the card of the player who moves: player 1 first, player 2 after a
# check, player 2 after a bet, player 1 after check and bet.
FIRST, AFTER_CHECK, AFTER_BET, AFTER_RAISE = 0, 3, 6, 9


def pay(winner, stake):
    """The payoffs when `winner` (1 or 2) takes `stake` from the other."""
    return [stake, -stake] if winner == 1 else [-stake, stake]


for first, second in permutations(range(3), 2):
    showdown = 1 if first > second else 2
    deal = Decision(nature, f"{CARDS[first]}{CARDS[second]}", information_set=FIRST + first)
    deal.probability = "1/6"  # each of the six deals alike
    check = Decision(one, "check", information_set=AFTER_CHECK + second)
    raised = Decision(two, "bet", information_set=AFTER_RAISE + first).add_nodes(
        Decision(one, "fold", utility=pay(2, 1)), Decision(one, "call", utility=pay(showdown, 2)))
    check.add_nodes(Decision(two, "check", utility=pay(showdown, 1)), raised)
    bet = Decision(one, "bet", information_set=AFTER_BET + second).add_nodes(
        Decision(two, "fold", utility=pay(1, 1)), Decision(two, "call", utility=pay(showdown, 2)))
    game = game + deal.add_nodes(check, bet)

if __name__ == "__main__":
    draw(game, __file__)
