"""Deep, shared and cyclic trees: exact texts or exact failures, never a stack overflow, and
nothing left behind by a walk that stopped (other games export right afterwards)."""

from hypothesis import given
from hypothesis import strategies as st

import model as m
from kelvora import Decision, Game, Player
from model import outcome, predicted

EXPORTS = {"export": lambda root: m.render_dot(root),
           "export_latex": lambda root: m.render_latex(root, 2.5)}


class Twins:
    """Nodes made together with their models, numbered as the module numbers them."""

    def __init__(self):
        self.next = m.next_node_number()
        self.players = {}

    def node(self, player, name, utility=None, information_set=None):
        real = Decision(self.players.setdefault(player, Player(player)), name, utility=utility,
                        information_set=information_set)
        twin = m.Node(player, name, self.next, utility and ("numeric", utility), information_set)
        self.next += 1
        return real, twin

    def game(self):
        real = Game()
        twin = m.Node("player", "root", self.next)
        self.next += 1
        return real.root, twin, real

    @staticmethod
    def attach(parent, *children):
        for child in children:
            parent[0].add_node(child[0])
            parent[1].children.append(child[1])


def check(game, root, export):
    got, want = outcome(getattr(game, export)), predicted(lambda: EXPORTS[export](root))
    if export == "export_latex" and got[0] == "ok" == want[0]:
        got, want = m.canonical_latex(got[1]), m.canonical_latex(want[1])
    assert got == want
    return want


@m.FUZZ
@given(depth=st.integers(0, 40), loop=st.integers(1, 40), back=st.integers(0, 40),
       fan=st.integers(1, 3), export=st.sampled_from(sorted(EXPORTS)), data=st.data())
def test_loops_and_shared_subtrees(depth, loop, back, fan, export, data):
    """A path of `depth` nodes, each also holding a shared subtree `fan` times, ends in a loop
    of `loop` nodes, or (back > depth) in an edge back up to one of the path's own nodes."""
    t = Twins()
    *root, game = t.game()
    shared = t.node("S", "s", information_set=data.draw(st.sampled_from([None, 7])))
    t.attach(shared, t.node("L", "x", [1, 2]), t.node("L", "y", [3, 4]))
    path = [root]
    for i in range(depth):
        step = t.node("P", f"p{i}", information_set=data.draw(st.sampled_from([None, 7])))
        t.attach(path[-1], step, *[shared] * fan)
        path.append(step)
    start = t.node("Q", "loop")
    t.attach(path[-1], start)
    ring = [start] + [t.node("Q", f"r{i}") for i in range(loop - 1)]
    for a, b in zip(ring, ring[1:]):
        t.attach(a, b)
    t.attach(ring[-1], t.node("L", "out", [5, 6]))
    if back <= depth:
        t.attach(ring[-1], path[back])  # up to the path (to the game's own root for 0)
    else:
        t.attach(ring[-1], start)
    want = check(game, root[1], export)
    assert want[0] is ValueError
    # The walk stopped deep down: walking again meets the same cycle, and a game that holds
    # only the shared, acyclic part exports in full.
    assert check(game, root[1], export) == want
    *other, other_game = t.game()
    t.attach(other, shared, t.node("L", "z", [0, 0]), shared)
    check(other_game, other[1], export)


def test_million_levels_fail_then_draw_then_loop():
    """A chain a million nodes deep: first without a payoff at its bottom, then completed,
    then closed into a loop; the walks never recurse and leave nothing marked behind."""
    depth = 1_000_000
    first = m.next_node_number()
    game = Game()
    p = Player("P")
    top = node = Decision(Player("T"), "top")
    for _ in range(depth):
        child = Decision(p, "c")
        node.add_node(child)
        node = child
    game += top
    bounds = (m.PANIC, "index out of bounds: the len is 0 but the index is 0")
    assert outcome(game.export) == outcome(game.export_latex) == bounds

    node.add_node(Decision(p, "end", utility=[1, 2]))
    count = depth + 3  # root, top, the chain and the leaf
    assert game.export() == "".join([
        'digraph {\n    0 [ label = "T" ]\n',
        *(f'    {i} [ label = "P" ]\n' for i in range(1, count - 1)),
        f'    {count - 1} [ label = "label=below:{{$(1, 2)$}}" ]\n',
        f'    {count - 2} -> {count - 1} [ label = "end" ]\n',
        *(f'    {i - 1} -> {i} [ label = "c" ]\n' for i in range(count - 2, 1, -1)),
        '    0 -> 1 [ label = "top" ]\n}\n'])
    assert game.export_latex() == "".join([
        m.HEAD, "2.5]", m.STYLES, "\n% The Tree\n\\node(0)[solid,label=above:{T}]{}",
        *(f"child{{node({first + i})[solid, label=above left:{{P}}]{{}}\n    "
          for i in range(1, depth + 2)),
        f"child{{node({first + depth + 2})[hollow, label=below:{{$(1, 2)$}}]{{}}\n    ",
        "edge from parent node[left]{$end$}}", "edge from parent node[left]{$c$}}" * depth,
        "edge from parent node[left]{$top$}};", m.END])

    node.add_node(top)
    loop = (ValueError, f"the game tree contains a cycle: node {first + 1} ('top') is among "
                        "its own descendants")
    for _ in range(2):
        assert outcome(game.export) == outcome(game.export_latex) == loop
    other = Game()
    other += node.children[0]  # the leaf, which the stopped walks had just left
    assert other.export() == ('digraph {\n    0 [ label = "P" ]\n'
                              '    1 [ label = "label=below:{$(1, 2)$}" ]\n'
                              '    0 -> 1 [ label = "end" ]\n}\n')
