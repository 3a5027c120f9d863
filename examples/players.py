"""A first look at kelvora: the players of a game."""

from kelvora import Player

ann = Player("Ann")
nature = Player()  # unnamed players are called "player"
nature.name = "Nature"

for p in (nature, ann):
    print(f"{p.name} takes part in the game")
