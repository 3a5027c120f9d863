"""Game.export(): the tree as DOT text."""

import pytest

import kelvora
from kelvora import Decision, Game, Player, Variable

from helpers import error, graphviz_accepts, worked_example

P = Player("P")


def dot(game):
    """The DOT text of `game`, which Graphviz must accept."""
    return graphviz_accepts(game.export())


def game_of(*children):
    game = Game()
    game.root.add_nodes(*children)
    return game


def leaf(name="a", utility=(1, 2), player=P):
    return Decision(player, name, utility=list(utility))


def panic(call):
    kind, text = error(call)
    assert kind.__name__ == "PanicException"
    return text


WORKED_EXAMPLE = """\
digraph {
    0 [ label = "Alice" ]
    1 [ label = "Bob" ]
    2 [ label = "label=below:{$(1, 2)$}" ]
    3 [ label = "label=below:{$(0, 0)$}" ]
    4 [ label = "Bob" ]
    5 [ label = "label=below:{$(2, 1)$}" ]
    6 [ label = "label=below:{$(3, 3)$}" ]
    1 -> 2 [ label = "l" ]
    1 -> 3 [ label = "r" ]
    0 -> 1 [ label = "L" ]
    4 -> 5 [ label = "l" ]
    4 -> 6 [ label = "r" ]
    0 -> 4 [ label = "R" ]
}
"""


class TestText:
    @pytest.mark.parametrize("information_sets", [True, False])
    def test_worked_example(self, information_sets):
        game = worked_example(kelvora, information_sets)
        assert dot(game) == WORKED_EXAMPLE
        assert game.export() == WORKED_EXAMPLE  # the same text on every call

    def test_single_leaf(self):
        assert dot(game_of(leaf("a", [4, -1]))) == (
            'digraph {\n'
            '    0 [ label = "P" ]\n'
            '    1 [ label = "label=below:{$(4, -1)$}" ]\n'
            '    0 -> 1 [ label = "a" ]\n'
            '}\n')

    def test_edges_follow_the_childs_subtree(self):
        a = Decision(P, "A").add_nodes(leaf("x"), leaf("y"))
        text = dot(game_of(a, leaf("B")))
        edges = [line.split(" [")[0].strip() for line in text.splitlines() if "->" in line]
        assert edges == ["1 -> 2", "1 -> 3", "0 -> 1", "0 -> 4"]

    def test_payoff_labels(self):
        # Only the first two entries count; a payoff wins over children, which still follow.
        inner = Decision(P, "inner", utility=[7, -8, 9]).add_node(leaf("deep", [2**31 - 1, -2**31]))
        text = dot(game_of(inner))
        assert '1 [ label = "label=below:{$(7, -8)$}" ]' in text
        assert '2 [ label = "label=below:{$(2147483647, -2147483648)$}" ]' in text
        assert '1 -> 2 [ label = "deep" ]' in text

    def test_symbolic_leaves_show_their_first_two_names(self):
        x, y, z = Variable("x"), Variable('q"\\'), Variable("z")
        text = dot(game_of(Decision(P, "s", variable=[x, y, z])))
        assert '1 [ label = "label=below:{$(x, q\\"\\\\)$}" ]' in text

    def test_symbolic_payoff_counts_only_at_a_leaf(self):
        # Below a symbolic node with children DOT names the first child's player; the LaTeX
        # figure draws such a node as a leaf and needs two variables for it.
        for variables in ([Variable("x")], [Variable("x"), Variable("y")]):
            node = Decision(P, "s", variable=variables).add_node(leaf("c", player=Player("Q")))
            game = game_of(node)
            assert '1 [ label = "Q" ]' in dot(game)
            if len(variables) == 1:
                assert panic(game.export_latex).endswith("the len is 1 but the index is 1")
            else:
                assert "label=below:{$(x, y)$}" in game.export_latex()

    def test_decision_nodes_show_their_first_childs_player(self):
        mover = Decision(Player("Own"), "m").add_nodes(leaf("a", player=Player("First")),
                                                      leaf("b", player=Player("Second")))
        text = dot(game_of(mover))
        assert '0 [ label = "Own" ]' in text and '1 [ label = "First" ]' in text

    @pytest.mark.parametrize("name, written", [
        ('say "hi"', 'say \\"hi\\"'),
        ("back\\slash", "back\\\\slash"),
        ("two\nlines", "two\\llines"),
        ("cr\r tab\t", "cr\r tab\t"),
        ("€ ünï ✓", "€ ünï ✓"),
        ("", ""),
    ])
    def test_escaping(self, name, written):
        game = game_of(Decision(Player(name), name, utility=[1, 2]))
        game.root.children[0].add_node(Decision(Player(name), "x", utility=[1, 2]))
        text = game.export()
        assert f'0 [ label = "{written}" ]' in text
        assert f'0 -> 1 [ label = "{written}" ]' in text
        assert text.endswith("}\n")
        if "\r" not in name:  # Graphviz reads a bare CR as a line end
            graphviz_accepts(text)

    def test_shared_subtree_once_per_occurrence(self):
        shared = Decision(P, "s").add_nodes(leaf("x"), leaf("y"))
        text = dot(game_of(shared, shared))
        assert text.count('label = "s"') == 2 and text.count('label = "x"') == 2
        assert "0 -> 1" in text and "0 -> 4" in text and "4 -> 6" in text


class TestFailures:
    @pytest.mark.parametrize("make, message", [
        (lambda: Game(), (0, 0)),
        (lambda: game_of(Decision(P, "e", utility=[])), (0, 0)),
        (lambda: game_of(Decision(P, "one", utility=[5])), (1, 1)),
        (lambda: game_of(Decision(P, "bare")), (0, 0)),
        (lambda: game_of(Decision(P, "set", information_set=3)), (0, 0)),
        (lambda: game_of(Decision(P, "v0", variable=[])), (0, 0)),
        (lambda: game_of(Decision(P, "v1", variable=[Variable("x")])), (1, 1)),
    ])
    def test_bounds(self, make, message):
        length, index = message
        assert panic(make().export) == (
            f"index out of bounds: the len is {length} but the index is {index}")

    def test_first_failing_node_in_pre_order_decides(self):
        deep = Decision(P, "deep").add_node(Decision(P, "one", utility=[1]))
        game = game_of(leaf("ok"), deep, Decision(P, "bare"))
        assert panic(game.export).endswith("the len is 1 but the index is 1")

    def test_busy_game(self, probe):
        game = probe.Game()
        assert probe.hold("exclusive", game, lambda: error(game.export)) == (
            RuntimeError, "Already mutably borrowed")
