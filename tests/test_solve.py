"""Game.backward_induction: the subgame-perfect equilibria in pure strategies, checked against a
brute force over every pure strategy profile, on textbook games, and drawn."""

import itertools
import os
import random
import re
from fractions import Fraction

import pytest

from kelvora import Decision, Equilibrium, Game, Player, Variable, loads_efg

# Under the sanitizers every allocation is checked: fewer games and a shallower chain, still far
# deeper than any recursion over the tree could go.
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")
GAMES, DEPTH = (60, 10 ** 5) if UNDER_ASAN else (300, 10 ** 6)


# --- An independent brute force: every pure profile, kept where it is a Nash equilibrium of
# every subgame (a node whose subtree no information set leaves). ---

def brute_force(game, most=100):
    """The equilibria as (profile, payoff), or None above `most` profiles."""
    nodes = []

    def walk(node):
        nodes.append(node)
        for child in node.children:
            walk(child)

    walk(game.root)
    players = [p.name for p in game.player[1:]]
    chance = lambda n: n.children and n.children[0].probability is not None
    movers = [n for n in nodes if n.children and not chance(n)]
    key = lambda n: ("set", n.information_set) if n.information_set is not None else id(n)
    groups = list(dict.fromkeys(key(n) for n in movers))
    owner = {key(n): players.index(n.children[0].player.name) for n in movers}
    size = {key(n): len(n.children) for n in movers}
    if eval("*".join(str(size[g]) for g in groups) or "1") > most:
        return None, key

    def below(n):
        out = [n]
        for c in n.children:
            out += below(c)
        return out

    def value(n, profile):
        if not n.children:
            return [Fraction(x) if not isinstance(x, Variable) else x for x in n.payoff]
        if chance(n):
            parts = [(c.probability, value(c, profile)) for c in n.children]
            return [sum(p * v[i] for p, v in parts) for i in range(len(players))]
        return value(n.children[profile[key(n)]], profile)

    subgames = []
    for n in nodes:
        inside = {id(m) for m in below(n)}
        keys = {key(m) for m in movers if id(m) in inside}
        if all(id(m) in inside for m in movers if key(m) in keys):
            subgames.append((n, [g for g in groups if g in keys]))
    found = []
    for actions in itertools.product(*(range(size[g]) for g in groups)):
        profile = dict(zip(groups, actions))
        stands = True
        for root, keys in subgames:
            here = value(root, profile)
            for player in range(len(players)):
                mine = [g for g in keys if owner[g] == player]
                for other in itertools.product(*(range(size[g]) for g in mine)):
                    if value(root, {**profile, **dict(zip(mine, other))})[player] > here[player]:
                        stands = False
        if stands:
            found.append((profile, tuple(value(game.root, profile))))
    return found, key


def as_profile(equilibrium, key):
    return {key(node): node.children.index(child) for node, child in equilibrium.choices.items()}


def random_game(rng):
    players = rng.choice([1, 2, 2, 3])
    game = Game("random", players=players)
    sets = {}

    def make(name, depth, mover):
        kind = rng.random()
        who = game.player[rng.randint(1, players)]
        k = rng.choice([1, 2, 2, 3])
        # Join (or open) the set of this mover's, of two actions.
        joined = depth > 0 and kind >= 0.45 and rng.random() < 0.5
        k = 2 if joined else k
        node = Decision(mover, name, information_set=sets.setdefault(who.name, len(sets))
                        if joined else None)
        if depth == 0 or kind < 0.3:
            node.payoff = [rng.choice([0, 1, 2, 3, "1/2"]) for _ in range(players)]
            return node
        if kind < 0.45:
            cuts = sorted(rng.randint(0, 4) for _ in range(k - 1))
            weights = [b - a for a, b in zip([0] + cuts, cuts + [4])]
            for i, w in enumerate(weights):
                child = make(f"c{i}", depth - 1, game.player[0])
                child.probability = Fraction(w, 4)
                node.add_node(child)
            return node
        for i in range(k):
            node.add_node(make(f"a{i}", depth - 1, who))
        return node

    for i in range(rng.randint(1, 3)):
        game = game + make(f"r{i}", 3, game.player[rng.randint(1, players)])
    return game


def test_matches_brute_force_on_random_games():
    rng = random.Random(20261208)
    checked = 0
    while checked < GAMES:
        game = random_game(rng)
        try:
            game.validate()
        except ValueError:
            continue  # a set whose members' actions came out different, say
        expected, key = brute_force(game)
        if expected is None:
            continue
        found = game.backward_induction(limit=10 ** 6)
        got = sorted((sorted(as_profile(e, key).items(), key=repr), e.payoff) for e in found)
        want = sorted((sorted(p.items(), key=repr), v) for p, v in expected)
        assert got == want
        if found:
            limit = rng.randint(1, len(found))
            assert [e.choices for e in game.backward_induction(limit)] == [
                e.choices for e in found[:limit]]
        checked += 1


# --- Textbook games ---

def tree(players, spec):
    """A game from nested tuples: (name, payoff) is a leaf, (name, player, [children], info)
    a node whose children `player` moves to; player 0 is Nature, and then a child's name
    "a@1/3" gives it a probability."""
    game = Game("t", players=players)

    def make(item, mover):
        name, rest = item[0], item[1:]
        name, _, p = name.partition("@")
        node = Decision(mover, name)
        if p:
            node.probability = p
        if isinstance(rest[0], list):
            node.payoff = rest[0]
            return node
        who, children = game.player[rest[0]], rest[1]
        if len(rest) > 2:
            node = Decision(mover, name, information_set=rest[2])
        for child in children:
            node.add_node(make(child, who))
        return node

    who, children = game.player[spec[0]], spec[1]
    for child in children:
        game = game + make(child, who)
    return game


T, R, P, S = (Variable(n) for n in "trps")
U, W = Variable("u"), Variable("w")
S < P, P < R, R < T, U == W  # recorded before the leaves copy the variables
TRUST = [("Trust", 2, [("Honour", [R, R]), ("Abuse", [S, T])]), ("Keep", [P, P])]
CENTIPEDE = [("Take", [1, 0]), ("Pass", 2, [("Take", [0, 2]), ("Pass", 1, [
    ("Take", [3, 1]), ("Pass", 2, [("Take", [2, 4]), ("Pass", [4, 3])])])])]
HORSE = [("D", 3, [("L", [3, 3, 2]), ("R", [0, 0, 0])], 1),
         ("A", 2, [("d", 3, [("L", [4, 4, 0]), ("R", [0, 0, 1])], 1), ("a", [1, 1, 1])])]
PENNIES = [(side, 2, [(guess, [1, -1] if guess == side else [-1, 1]) for guess in "HT"], 1)
           for side in "HT"]

TEXTBOOK = [
    # name, players, (mover, children), [(payoff, path actions below the root)]
    ("centipede", 2, (1, CENTIPEDE), [((1, 0), ["Take"])]),
    ("entry", 2, (1, [("In", 2, [("Fight", [-1, -1]), ("Accommodate", [1, 1])]),
                      ("Out", [0, 2])]), [((1, 1), ["In", "Accommodate"])]),
    ("Selten's horse", 3, (1, HORSE), [((3, 3, 2), ["D", "L"]), ((1, 1, 1), ["A", "a"])]),
    ("tie", 2, (1, [("l", [1, 0]), ("r", [1, 5])]), [((1, 0), ["l"]), ((1, 5), ["r"])]),
    ("matching pennies", 2, (1, PENNIES), []),
    ("chance", 2, (0, [("H@1/3", 1, [("x", [1, 0]), ("y", [0, 1])]), ("T@2/3", ["1.5", 2]),
                       ("Z@0", [9, 9])]),
     [((Fraction(4, 3), Fraction(4, 3)), ["H", "x", "T"])]),
    ("trust", 2, (1, TRUST), [((P, P), ["Keep"])]),
    ("equal variables", 1, (1, [("l", [U]), ("r", [W])]), [((U,), ["l"]), ((W,), ["r"])]),
]


@pytest.mark.parametrize("players, spec, expected",
                         [row[1:] for row in TEXTBOOK], ids=[row[0] for row in TEXTBOOK])
def test_textbook_games(players, spec, expected):
    game = tree(players, spec)
    found = game.backward_induction()
    shown = [(tuple(v.name if isinstance(v, Variable) else v for v in e.payoff),
              [n.name for n in e.path[1:]]) for e in found]
    want = [(tuple(v.name if isinstance(v, Variable) else v for v in pay), path)
            for pay, path in expected]
    assert shown == want
    assert all(type(e) is Equilibrium and e.path[0] is game.root for e in found)


@pytest.mark.parametrize("spec, message", [
    ((1, [("l", [U, T]), ("r", [T, U])]), "root: cannot compare Variable 't' with Variable 'u': "
     "no relation recorded with <, > or == orders them"),
    ((1, [("l", [1, 1]), ("r", [T, T])]), "root: cannot compare Variable 't' with 1"),
    ((0, [("h@1/2", [T, T]), ("t@1/2", [1, 1])]),
     "root: the expected payoff of Player 1 would average Variable 't' with other payoffs"),
], ids=["undecided", "number", "average"])
def test_symbolic_payoffs_that_cannot_be_ordered_are_refused(spec, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        tree(2, spec).backward_induction()


def test_refusals_and_limit():
    with pytest.raises(ValueError, match="^the game has 1 problem"):
        (Game(players=2) + Decision(Player("Player 1"), "a")).backward_induction()
    # Player 2 in two sets of 1001 and 1000 actions, none knowing player 1's move before it.
    game = Game(players=2)
    one, two = game.player[1], game.player[2]
    top = Decision(one, "go")
    for name, n in (("a", 1001), ("b", 1001), ("c", 1000), ("d", 1000)):
        node = Decision(one, name, information_set=n)
        top.add_node(node.add_nodes(*(Decision(two, f"x{i}", utility=[i, i]) for i in range(n))))
    with pytest.raises(ValueError, match=r"^root > go: the subgame here has more than 1000000 pure"):
        (game + top).backward_induction()
    ties = tree(1, (1, [(f"n{i}", 1, [("l", [0]), ("r", [0])]) for i in range(3)]))
    assert len(ties.backward_induction()) == 8 * 3
    assert len(ties.backward_induction(5)) == 5
    assert len(ties.backward_induction(limit=10 ** 30)) == 24
    for bad, error in ((0, ValueError), (-2, ValueError), (2.0, TypeError), (True, TypeError)):
        with pytest.raises(error, match="^argument 'limit': expected an int of at least 1, got "):
            ties.backward_induction(bad)


def test_payoffs_on_inner_nodes_add_to_those_below():
    # As an outcome on an inner node of a game file: R's bonus of 5 makes it the better move.
    text = """EFG 2 R "" { "A" "B" } ""
p "" 1 1 "" { "L" "R" } 0
t "" 1 "" { 1, 1 }
p "" 2 1 "" { "l" "r" } 2 "" { 5, 0 }
t "" 3 "" { 0, 1 }
t "" 4 "" { -1/2, 2 }
"""
    (found,) = loads_efg(text).backward_induction()
    assert (found.payoff, [n.name for n in found.path]) == ((Fraction(9, 2), 2), ["root", "R", "r"])
    game = loads_efg(text)
    game.root.children[1].children[0].payoff = [Variable("v"), Variable("w")]
    with pytest.raises(ValueError, match="^root > R > l: Variable 'v' would be added to the "):
        game.backward_induction()


def test_a_million_deep_chain_solves():
    game = Game(players=1)
    one = game.player[1]
    chain = Decision(one, "end", utility=[1])
    for _ in range(DEPTH):
        chain = Decision(one, "on").add_nodes(chain, Decision(one, "off", utility=[0]))
    (found,) = (game + chain).backward_induction()
    assert found.payoff == (1,) and len(found.path) == DEPTH + 2
    assert len(found.choices) == DEPTH + 1


def test_highlight_draws_the_chosen_actions_everywhere():
    game = tree(3, (1, HORSE))
    thick = lambda text: set(re.findall(r'<path d="([^"]*)" stroke-width="3"/>', text))
    for equilibrium in game.backward_induction():
        chosen = list(equilibrium.choices.values())
        drawn = thick(game.export_svg(highlight=equilibrium))
        assert len(drawn) == len(chosen) == 4
        assert drawn == set().union(*(thick(game.export_svg(highlight=[c])) for c in chosen))
        assert game.export_tikz(highlight=equilibrium) == game.export_tikz(highlight=chosen)
