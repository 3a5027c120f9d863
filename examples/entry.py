"""The entry game: an entrant decides whether to enter a market; if it enters, the incumbent
decides whether to fight or to accommodate. Payoffs are (entrant, incumbent)."""

from kelvora import Decision, Game, Type

game = Game("Entry", players=2, gametype=Type.Extensive)
entrant, incumbent = game.player[1], game.player[2]

enter = Decision(entrant, "In")
enter.add_nodes(
    Decision(incumbent, "Fight", utility=[-1, -1]),
    Decision(incumbent, "Accommodate", utility=[1, 1]),
)
game += enter
game += Decision(entrant, "Out", utility=[0, 2])

print(game)
print(f"{game.length()} actions at the root; players: {', '.join(p.name for p in game.player)}")
