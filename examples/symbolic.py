"""A trust game with symbolic payoffs. The investor keeps her money or trusts the trustee, who
then honours the trust or abuses it. Payoffs are (investor, trustee), written with the four
classic quantities: t (temptation) > r (reward) > p (punishment) > s (sucker's payoff).

Only the order of the payoffs matters, so they are `Variable`s rather than numbers; the
comparisons record that order on the variables.

Prints the game as Graphviz DOT text and writes its LaTeX/TikZ figure to symbolic.tex in the
directory given as the first argument (the current directory by default).
"""

from kelvora import Decision, Game, Type, Variable

from drawing import draw

t, r, p, s = Variable("t"), Variable("r"), Variable("p"), Variable("s")
# Record the order before the payoffs are made: leaves copy the variables they are given.
s < p
p < r
r < t

game = Game("Trust", players=2, gametype=Type.Extensive)
investor, trustee = game.player[1], game.player[2]

trust = Decision(investor, "Trust")
trust.add_nodes(
    Decision(trustee, "Honour", variable=[r, r]),
    Decision(trustee, "Abuse", variable=[s, t]),
)
game += trust
game += Decision(investor, "Keep", variable=[p, p])

if __name__ == "__main__":
    draw(game, __file__)
