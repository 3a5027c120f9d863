"""Workload for the valgrind check (.ci/memcheck): every class and member of kelvora, through
successful and failing paths, a deep chain, both exports, and files written and refused.
Each step checks what it gets, so that a wrong answer fails the run as well as a memory error.

    python .ci/memcheck.py [--rounds N]
"""

import os
import sys
import tempfile

import kelvora
from kelvora import Decision, Game, Player, Type, Variable

# Nodes in cycles are never freed (instances take no part in cyclic garbage collection): they
# are kept here, reachable, and the process ends without finalising the interpreter (which would
# drop this list), so that valgrind sees them as still reachable rather than lost.
KEPT = []


def fails(call, expected):
    """Checks that `call()` raises `expected` (a class, or a class name such as PanicException)."""
    try:
        call()
    except BaseException as exc:  # PanicException derives from BaseException
        name = expected if isinstance(expected, str) else expected.__name__
        if not any(cls.__name__ == name for cls in type(exc).__mro__):
            raise AssertionError(f"expected {name}, got {type(exc).__name__}: {exc}") from exc
        return str(exc)
    raise AssertionError(f"expected {expected}, got no exception")


def players():
    p = Player()
    assert p.name == "player"
    p = Player("Ann")
    p.name = "Bea"
    assert p.name == "Bea" and Player(name="Cy").name == "Cy"
    fails(lambda: Player(5), TypeError)
    fails(lambda: Player("a", "b"), TypeError)
    fails(lambda: Player(nom="a"), TypeError)
    fails(lambda: setattr(p, "name", 3), TypeError)
    fails(lambda: delattr(p, "name"), AttributeError)
    fails(lambda: setattr(p, "other", 1), AttributeError)
    assert p.name == "Bea"


def variables():
    a, b, c = Variable("a"), Variable("b"), Variable(name="c")
    copies = [a < b, a <= b, a > c, a >= c, a == b, a != c]
    assert all(isinstance(v, Variable) for v in copies)
    assert a.higher and a.lower and a.equal and a.name == "a"
    assert copies[0].id == b.id and copies[0] is not b
    assert isinstance(a.id, int) and b.lower == [] and b.higher == []
    assert (a == 5) is False and (a != "x") is True
    fails(lambda: a < 5, TypeError)
    fails(lambda: hash(a), TypeError)
    fails(lambda: Variable(), TypeError)
    fails(lambda: Variable(1.5), TypeError)
    fails(lambda: setattr(a, "id", 1), AttributeError)
    return a, b


def decisions(a, b):
    ann, bob = Player("Ann"), Player("Bob")
    root = Decision(ann, "start")
    left = Decision(bob, "Left", utility=[3, 1], information_set=1)
    right = Decision(bob, "Right", utility=(0, -2**31, 2**31 - 1), information_set=2**64 - 1)
    symbolic = Decision(bob, "Sym", variable=[a, b])
    both = Decision(player=bob, name="Both", utility=range(2), variable=(a,), information_set=0)
    raw = Decision(bob, "Raw", utility=b"\x01\x02")
    assert root.add_node(left) is root and (root + right) is root
    assert root.add_nodes(symbolic, both, raw) is root and root.add_nodes() is root
    assert [c.name for c in root.children] == ["Left", "Right", "Sym", "Both", "Raw"]
    assert str(root) == "(player: Ann action: start)" and root.player.name == "Ann"
    assert left.information_set == 1 and root.information_set is None
    root.name = "begin"
    assert root.name == "begin"
    for kwargs, kind in [
        (dict(utility="12"), TypeError), (dict(utility={1: 2}), TypeError),
        (dict(utility=5), TypeError), (dict(utility=[1.5]), TypeError),
        (dict(utility=[2**31]), OverflowError), (dict(utility=[1], variable=[5]), TypeError),
        (dict(variable="ab"), TypeError), (dict(variable=(x for x in [a])), TypeError),
        (dict(information_set=-1), OverflowError), (dict(information_set=2**64), OverflowError),
        (dict(information_set=2.0), TypeError), (dict(surplus=1), TypeError),
    ]:
        fails(lambda: Decision(ann, "x", **kwargs), kind)
    fails(lambda: Decision("Ann", "x"), TypeError)
    fails(lambda: Decision(ann), TypeError)
    fails(lambda: Decision(ann, "x", None, None, None, None), TypeError)
    fails(lambda: root.add_node(5), TypeError)
    fails(lambda: root.add_node(other=left, extra=1), TypeError)
    fails(lambda: root.add_nodes(left, 5, right), TypeError)
    fails(lambda: root.add_nodes(other=left), TypeError)
    fails(lambda: root + 5, TypeError)
    fails(lambda: 5 + root, TypeError)
    fails(lambda: setattr(root, "name", None), TypeError)
    fails(lambda: delattr(root, "name"), AttributeError)
    assert len(root.children) == 6  # the add_nodes that failed kept its first argument
    return root


def games(root):
    assert int(Type.Normal) == 0 and repr(Type.Extensive) == "Type.Extensive"
    assert Type.Normal == 0 and Type.Normal != Type.Extensive
    fails(Type, TypeError)
    fails(lambda: Type.Normal < Type.Extensive, TypeError)
    game = Game("Entry", players=2, gametype=Type.Extensive)
    assert [p.name for p in game.player] == ["Nature", "Player 1", "Player 2"]
    assert game.title == "Entry" and game.gametype is not None
    assert Game().title and Game(None, None, None).length() == 0
    game = game + root
    game += Decision(game.player[1], "Out", utility=[0, 2])
    assert game.length() == 2 and game.get_ref().root is game.root
    assert str(game).startswith("title: Entry root: root children: ")
    for kwargs, kind in [
        (dict(players=1.5), TypeError), (dict(players=-1), OverflowError),
        (dict(title=3), TypeError), (dict(gametype=1), TypeError), (dict(extra=1), TypeError),
    ]:
        fails(lambda: Game(**kwargs), kind)
    fails(lambda: game + 5, TypeError)
    fails(lambda: game + game, TypeError)
    fails(lambda: game.length(1), TypeError)
    return game


def exports(game, directory):
    good = worked_example()
    dot, tex = good.export(), good.export_latex()
    assert dot.startswith("digraph {\n") and tex.endswith("\\end{figure}")
    assert good.export_latex(3, None) != tex and "[scale=0.1]" in good.export_latex(scale=0.1)
    assert f"[scale=nan]" in good.export_latex(float("nan")).lower()
    path = os.path.join(directory, "tree.tex")
    assert good.export_latex(filename=path) is None
    with open(path) as f:
        assert f.read() == tex
    fails(lambda: good.export_latex(filename=os.path.join(directory, "missing", "t.tex")),
          "PanicException")
    fails(lambda: good.export_latex(filename="/dev/full"), "PanicException")
    fails(lambda: good.export_latex(filename=3), TypeError)
    fails(lambda: good.export_latex(scale="2"), TypeError)
    fails(lambda: good.export_latex(1, scale=2), TypeError)
    fails(lambda: good.export(1), TypeError)
    fails(lambda: good.export_latex(filename="a\0b"), "PanicException")
    # Trees that lack what the drawing needs.
    p = Player("P")
    for broken in [
        Game(),
        Game() + Decision(p, "bare"),
        Game() + Decision(p, "short", utility=[1]),
        Game() + Decision(p, "empty", variable=[]),
        Game() + Decision(p, "lonely", information_set=4).add_node(Decision(p, "x", utility=[1, 2])),
        game,  # a leaf of it has an information set, and so no player to name the set after
    ]:
        fails(broken.export_latex, "PanicException")
        if broken is not game:
            fails(lambda: broken.export_latex(filename=path), "PanicException")
    # A shared subtree is drawn once under each parent; cycles are refused.
    shared = Decision(p, "s").add_node(Decision(p, "x", utility=[1, 2]))
    game = Game()
    game.root.add_nodes(shared, Decision(p, "t").add_node(shared))
    assert game.export().count('"s"') == 2 and game.export_latex().count("{$s$}") == 2
    loop = Decision(p, "loop")
    loop.add_nodes(Decision(p, "leaf", utility=[1, 2]), loop)
    KEPT.append(loop)
    looped = Game() + loop
    assert "contains a cycle" in fails(looped.export, ValueError)
    assert "contains a cycle" in fails(looped.export_latex, ValueError)


def worked_example():
    game = Game()
    alice, bob = Player("Alice"), Player("Bob")
    a = Decision(alice, "L", information_set=1)
    b = Decision(alice, "R", information_set=1)
    a.add_nodes(Decision(bob, "l", utility=[1, 2]), Decision(bob, "r", utility=[0, 0]))
    b.add_nodes(Decision(bob, "l", variable=[Variable("x"), Variable("y")]),
                Decision(bob, "r", utility=[3, 3]))
    return game + a + b


def deep_chain(depth):
    game = Game()
    node = game.root
    for _ in range(depth):
        child = Decision(Player("P"), "c")
        node.add_node(child)
        node = child
    node.add_node(Decision(Player("P"), "end", utility=[1, 2]))
    assert game.export().count("->") == depth + 1
    assert game.export_latex().count("child{node(") == depth + 1
    # Released here, a level at a time.


def chance():
    from decimal import Decimal
    from fractions import Fraction

    game = Game("Chance", players=2)
    nature, one, _ = game.player
    for name, p in (("a", "1/3"), ("b", Decimal("0.25")), ("c", 0.4166666666666667)):
        node = Decision(nature, name)
        node.probability = p
        node.add_node(Decision(one, "x", utility=[1, 0]))
        game = game + node
    last = game.root.children[2]
    last.probability = Fraction(5, 12)
    last.children[0].payoff = ["1.5", -(2**40), Fraction(1, 3)]
    assert last.children[0].payoff == [Fraction(3, 2), -(2**40), Fraction(1, 3)]
    fails(lambda: setattr(last, "probability", 2**100), ValueError)
    fails(lambda: setattr(last, "payoff", [Variable("v"), 1]), TypeError)
    assert "(1.5, -1099511627776)" in game.export() and "$-1099511627776$" in game.export_tikz()
    assert "payoff has 3 entries" in fails(game.validate, ValueError)
    last.children[0].payoff = [Variable("v"), Variable("w")]
    assert game.validate() is None
    del last.probability
    assert last.probability is None and "2 of its 3" in fails(game.validate, ValueError)


def main():
    rounds = int(sys.argv[sys.argv.index("--rounds") + 1]) if "--rounds" in sys.argv else 2
    with tempfile.TemporaryDirectory() as directory:
        for _ in range(rounds):
            players()
            a, b = variables()
            root = decisions(a, b)
            game = games(root)
            exports(game, directory)
            deep_chain(10_000)
            chance()
    print(f"memcheck workload: {rounds} rounds done, {len(KEPT)} cycles kept")
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    main()
