"""Chance and exact numbers: Decision.probability and Decision.payoff read back exactly what was
set, refuse everything else without a change, reach the exports as written, and
Game.validate() reports each problem of a broken game once, by its path."""

import subprocess
import xml.etree.ElementTree as ET
from decimal import Decimal
from fractions import Fraction

import pytest

from helpers import required_tool
from kelvora import Decision, Game, Player, Variable

SVG = "{http://www.w3.org/2000/svg}"

ANN = Player("Ann")


class BadFraction(Fraction):
    @property
    def numerator(self):
        raise RuntimeError("no numerator")


class Text(str):
    pass


class BadDecimal(Decimal):
    def __str__(self):
        raise RuntimeError("no text")


class Raising:
    def __index__(self):
        raise RuntimeError("index")

    def __float__(self):
        raise RuntimeError("float")


# (value, probability read back or an exception type, payoff entry read back or one)
FORMS = [
    (0, Fraction(0), 0),
    (1, Fraction(1), 1),
    (-3, ValueError, -3),
    (2**63, ValueError, 2**63),
    (-(2**64 - 1), ValueError, -(2**64 - 1)),
    (2**64, ValueError, ValueError),
    (2**100, ValueError, ValueError),
    (Fraction(1, 3), Fraction(1, 3), Fraction(1, 3)),
    (Fraction(-7, 2), ValueError, Fraction(-7, 2)),
    (Fraction(1, 2**64), ValueError, ValueError),
    (BadFraction(1, 2), TypeError, TypeError),
    (Decimal("0.25"), Fraction(1, 4), Fraction(1, 4)),
    (Decimal("1E-3"), Fraction(1, 1000), Fraction(1, 1000)),
    (Decimal("-2.50"), ValueError, Fraction(-5, 2)),
    (Decimal("NaN"), ValueError, ValueError),
    (Decimal("Infinity"), ValueError, ValueError),
    (BadDecimal("0.5"), TypeError, TypeError),
    (0.1, Fraction(1, 10), Fraction(1, 10)),
    (1e-05, Fraction(1, 100000), Fraction(1, 100000)),
    (-0.0, Fraction(0), 0),
    (1e300, ValueError, ValueError),
    (float("inf"), ValueError, ValueError),
    (float("nan"), ValueError, ValueError),
    ("0.25", Fraction(1, 4), Fraction(1, 4)),
    ("1/3", Fraction(1, 3), Fraction(1, 3)),
    ("2/6", Fraction(1, 3), Fraction(1, 3)),
    ("+.5", Fraction(1, 2), Fraction(1, 2)),
    ("-4/2", ValueError, -2),
    ("12.5e-1", ValueError, Fraction(5, 4)),
    (Text("0.5"), Fraction(1, 2), Fraction(1, 2)),
    ("1/0", ValueError, ValueError),
    (" 0.5", ValueError, ValueError),
    ("1/-2", ValueError, ValueError),
    ("0x10", ValueError, ValueError),
    ("", ValueError, ValueError),
    ("1/18446744073709551616", ValueError, ValueError),
    ("1e999", ValueError, ValueError),
    ("0.%s1" % ("0" * 70), ValueError, ValueError),
    ("1.5", ValueError, Fraction(3, 2)),
    (True, TypeError, TypeError),
    (Raising(), TypeError, TypeError),
    (object(), TypeError, TypeError),
    ([0.5], TypeError, TypeError),
    (b"1", TypeError, TypeError),
]


@pytest.mark.parametrize("value, probability, entry", FORMS)
def test_number_forms_read_back_exactly_or_change_nothing(value, probability, entry):
    node = Decision(ANN, "x", utility=[7, 8])
    node.probability = "1/7"
    for attribute, expected, start, wrap in (("probability", probability, Fraction(1, 7), None),
                                             ("payoff", entry, [7, 8], list)):
        given = [4, value] if wrap else value
        if isinstance(expected, type):
            with pytest.raises(expected, match=r"^(probability|payoff\[1\]): expected a number"):
                setattr(node, attribute, given)
            assert getattr(node, attribute) == start
        else:
            setattr(node, attribute, given)
            read = getattr(node, attribute)
            assert read == ([4, expected] if wrap else expected)
            assert type(read[-1] if wrap else read) is type(expected)
            setattr(node, attribute, None)
            assert getattr(node, attribute) is None
            setattr(node, attribute, [7, 8] if wrap else Fraction(1, 7))


def test_payoff_kinds_and_deletion():
    node = Decision(ANN, "x", utility=[1, -2])
    assert node.payoff == [1, -2] and Decision(ANN, "y").payoff is None
    low, high = Variable("low"), Variable("high")
    with pytest.raises(TypeError, match=r"^payoff: expected None or a list .* 'generator'"):
        node.payoff = (v for v in [low, high])
    node.payoff = (low, high)
    assert [(v.name, v.id) for v in node.payoff] == [("low", low.id), ("high", high.id)]
    with pytest.raises(TypeError, match=r"^payoff\[1\]: expected numbers only or Variables"):
        node.payoff = [low, 1]
    with pytest.raises(TypeError, match="^payoff: expected None or a list"):
        node.payoff = "12"
    assert [v.name for v in node.payoff] == ["low", "high"]
    del node.payoff
    assert node.payoff is None
    node.payoff = []
    assert node.payoff == []
    del node.probability
    assert node.probability is None


def leaf(entries):
    node = Decision(ANN, "x")
    node.payoff = entries
    return node


@pytest.mark.parametrize("entries, written", [
    ([1, 2], "(1, 2)"),
    ([Fraction(3, 1), "-5"], "(3, -5)"),
    ([1.5, "3/2", 0], "(1.5, 3/2)"),
    (["0.10", -2**40], "(0.10, -1099511627776)"),
    (["-1e-3", Decimal("2.0")], "(-0.001, 2.0)"),
])
def test_exports_write_exact_payoffs_as_written(entries, written):
    game = Game("E") + leaf(entries)
    dot, latex = game.export(), game.export_latex()
    assert f'label = "label=below:{{${written}$}}"' in dot
    assert f"label=below:{{${written}$}}" in latex
    # an inner node with a numeric payoff shows it, as integer payoffs do
    inner = leaf(entries).add_node(leaf([0, 0]))
    assert f'1 [ label = "label=below:{{${written}$}}" ]' in (Game() + inner).export()


def test_drawings_show_exact_payoffs_as_written():
    game = Game("E") + leaf(["-1.5", "1/3", 2])
    assert "(-1.5, 1/3, 2)" in game.export_svg()
    assert "($-1.5$, 1/3, 2)" in game.export_tikz()


def test_drawings_show_natures_moves():
    """A chance node is a larger hollow circle; each probability stands upright, as written,
    after its action's name (alone where the action has none)."""
    game = chance_game()
    game.root.children[1].name = ""
    svg = ET.fromstring(game.export_svg())
    texts = [(t.text, t.get("font-style")) for t in svg.iter(SVG + "text")]
    assert [t for t in texts if "3" in t[0]] == [("(1/3)", None), ("2/3", None)], texts
    assert ("High", "italic") in texts
    hollow = [c for g in svg.iter(SVG + "g") if g.get("fill") == "#fff"
              for c in g.iter(SVG + "circle") if c.get("r") == "6"]
    assert len(hollow) == 1 and hollow[0].get("cy") == "0"
    tikz = game.export_tikz()
    assert "{\\textit{High} (1/3)}" in tikz and "{2/3}" in tikz and "circle[radius=0.5]" in tikz


def chance_game():
    """Nature draws High (1/3) or Low (2/3); Player 1, not knowing which, Talks or stays Quiet."""
    game = Game("Signal", players=2)
    nature, one, two = game.player
    for name, p in (("High", "1/3"), ("Low", 0.6666666666666666)):
        node = Decision(nature, name, information_set=1)
        node.probability = p if name == "High" else Fraction(2, 3)
        node.add_nodes(Decision(one, "Talk", utility=[1, 2]), Decision(one, "Quiet", utility=[0, 0]))
        game = game + node
    return game


def broken(change):
    game = chance_game()
    root = game.root
    change(root, *root.children, *game.player)
    return game


def add(node, *children):
    node.add_nodes(*children)


def chain(depth, last):
    node = last
    for _ in range(depth):
        node = Decision(ANN, "c").add_node(node)
    return node


# (what is broken, the problems reported)
BROKEN = [
    (lambda root, high, low, n, one, two: setattr(low, "probability", "0.5"),
     ["root: the probabilities of its children add up to less than 1"]),
    (lambda root, high, low, n, one, two: setattr(low, "probability", 1),
     ["root: the probabilities of its children add up to more than 1"]),
    (lambda root, high, low, n, one, two: delattr(low, "probability"),
     ["root: 1 of its 2 children have a probability, the others none"]),
    (lambda root, high, low, n, one, two: setattr(high.children[0], "probability", 0),
     ["root > High: 1 of its 2 children have a probability, the others none",
      "root > High > Talk: has a probability, but is reached by 'Player 1', not by Nature "
      "('Nature')"]),
    (lambda root, high, low, n, one, two: add(low, Decision(two, "Shout", utility=[1, 1])),
     ["root > Low: its children are reached by different players ('Player 1', 'Player 2')",
      "root > Low: in information set 1 with root > High, but its actions (Talk, Quiet, Shout) "
      "are not (Talk, Quiet)"]),
    (lambda root, high, low, n, one, two: add(root, Decision(n, "Odd", information_set=1)),
     ["root: 2 of its 3 children have a probability, the others none",
      "root > Odd: in information set 1 with root > High, but nobody moves here and "
      "'Player 1' there",
      "root > Odd: a leaf without payoff"]),
    (lambda root, high, low, n, one, two: setattr(low.children[1], "payoff", [0, 1, 2]),
     ["root > Low > Quiet: its payoff has 3 entries for the 2 players (Player 1, Player 2)"]),
    (lambda root, high, low, n, one, two: add(low.children[0], Decision(ANN, "Ann", utility=[1, 2])),
     ["root > Low > Talk > Ann: reached by 'Ann', who is not a player of the game"]),
    (lambda root, high, low, n, one, two: add(low.children[0], root),
     ["root > Low > Talk > root: a cycle: this node is one of its own ancestors"]),
]


@pytest.mark.parametrize("change, problems", BROKEN)
def test_validate_reports_each_problem_once_by_path(change, problems):
    assert chance_game().validate() is None
    with pytest.raises(ValueError) as info:
        broken(change).validate()
    count = len(problems)
    assert str(info.value).split("\n") == [
        f"the game has {count} problem{'s' if count > 1 else ''}:"] + ["  " + p for p in problems]


def test_validate_players_of_ones_own_and_limits():
    ann, bob = Player("Ann"), Player("Bob")
    own = Game("Own") + Decision(ann, "a").add_nodes(
        Decision(bob, "l", utility=[1, 2]), Decision(bob, "r", utility=[1]))
    with pytest.raises(ValueError, match=r"root > a > r: its payoff has 1 entry for the 2 players "
                                         r"\(Ann, Bob\): the movers other than Nature"):
        own.validate()
    many = Game("Many") + Decision(ann, "a").add_nodes(*[Decision(bob, str(i)) for i in range(25)])
    with pytest.raises(ValueError) as info:
        many.validate()
    lines = str(info.value).split("\n")
    assert lines[0] == "the game has 25 problems:" and lines[-1] == "  ... and 5 more"
    assert len(lines) == 22 and lines[20] == "  root > a > 19: a leaf without payoff"
    # where only Nature moves, payoffs are for the game's players
    lottery = Game("Lottery", players=1)
    draw = Decision(lottery.player[0], "draw", utility=[5])
    draw.probability = 1
    assert (lottery + draw).validate() is None
    # shared nodes are checked once; a million-deep chain needs no recursion
    shared = Decision(bob, "s", utility=[0, 0])
    assert (Game() + Decision(ann, "x").add_nodes(shared, shared)).validate() is None
    with pytest.raises(ValueError, match=r"^the game has 1 problem:\n  root > c > c .* > \.\.\. "
                                         r"\(999962 more\) > c .* > x: a leaf without payoff$"):
        (Game() + chain(10**6, Decision(ANN, "x"))).validate()


def test_chance_game_compiles_with_pdflatex(tmp_path):
    game = chance_game()
    game.root.children[0].children[0].payoff = ["1.5", "-1/2"]
    pdflatex = required_tool("pdflatex")
    if pdflatex is None:
        pytest.skip("pdflatex is not installed")
    (tmp_path / "doc.tex").write_text(
        "\\documentclass{article}\\usepackage{tikz}\\usetikzlibrary{calc}\\begin{document}\n"
        + game.export_latex() + game.export_tikz() + "\n\\end{document}\n")
    run = subprocess.run([pdflatex, "-interaction=nonstopmode", "-halt-on-error", "doc.tex"],
                         cwd=tmp_path, capture_output=True, timeout=300)
    assert run.returncode == 0, run.stdout.decode()[-2000:]
    pdftotext = required_tool("pdftotext")
    if pdftotext is not None:
        text = subprocess.run([pdftotext, "doc.pdf", "-"], cwd=tmp_path, capture_output=True,
                              text=True, check=True).stdout
        assert "High (1/3)" in text and "Low (2/3)" in text, text
