"""What both exports share: the walk over the tree, without recursion, refusing cycles, reading
the nodes under shared borrows and changing nothing."""

import os
import random
import re
import signal
import subprocess
import sys
import time

import pytest

import kelvora
from kelvora import Decision, Game, Player, Variable

from helpers import error, worked_example

P = Player("P")
EXPORTS = ["export", "export_latex"]


def chain(depth):
    """A game whose tree is a chain of `depth` nodes below the root, ending in a leaf."""
    game = Game()
    node = game.root
    for _ in range(depth):
        child = Decision(P, "c")
        node.add_node(child)
        node = child
    node.add_node(Decision(P, "end", utility=[1, 2]))
    return game, node


@pytest.mark.parametrize("export", EXPORTS)
def test_million_level_chain_then_a_cycle_at_its_bottom(export):
    game, bottom = chain(1_000_000)
    text = getattr(game, export)()
    if export == "export":
        assert text.count("\n") == 2 + 1_000_002 + 1_000_001
        assert text.endswith('    0 -> 1 [ label = "c" ]\n}\n')
    else:
        assert text.count("child{node(") == 1_000_001
        closing = ";\n\\end{tikzpicture}\n\\end{figure}"
        assert text.endswith("edge from parent node[left]{$c$}}" * 3 + closing)
    bottom.add_node(game.root.children[0])
    kind, message = error(getattr(game, export))
    assert kind is ValueError and "contains a cycle" in message


@pytest.mark.parametrize("export", EXPORTS)
def test_large_texts_with_non_ascii_names(export):
    # Texts over a megabyte take a faster route into a str; a non-ASCII name, anywhere in
    # the text, must still come out decoded.
    game = Game()
    node = game.root
    for _ in range(20_000):
        child = Decision(P, "ascii only")
        node.add_node(child)
        node = child
    node.add_node(Decision(Player("Zoë"), "é€𝄞", utility=[1, 2]))
    node.add_node(Decision(P, "leaf", utility=[3, 4]))
    text = getattr(game, export)()
    assert len(text.encode()) > 1 << 20
    assert "{Zoë}" in text or '"Zoë"' in text
    assert "{$é€𝄞$}" in text or '"é€𝄞"' in text


def one_name(where, name):
    """A small game with `name` in one place of its text, and plain ASCII everywhere else."""
    game = Game()
    first = Player(name if where == "first player" else "P")
    x = Variable(name if where == "variable" else "x")
    set_player = Player(name if where == "set player" else "Q")
    a = Decision(first, name if where == "action" else "a", information_set=5)
    b = Decision(P, "b", information_set=5)
    game.root.add_nodes(a, b)
    a.add_node(Decision(set_player, "l", variable=[x, x]))
    b.add_node(Decision(set_player, "r", utility=[1, 2]))
    return game


@pytest.mark.parametrize("export", EXPORTS)
@pytest.mark.parametrize("where", ["first player", "action", "variable", "set player"])
def test_a_single_non_ascii_name_anywhere(export, where):
    # The text is made as an ASCII str unless some name says otherwise: each place a name can
    # appear must be seen, or the str would hold undecoded bytes.
    def text(name):
        # without the node numbers, which differ from game to game
        return re.sub(r"\(\d+\)", "(N)", getattr(one_name(where, name), export)())

    # One character of each width that a str can take beyond ASCII: a str of a wider kind than
    # its characters need would not even equal the same text made in Python.
    for name in ("Zoë", "Zo€", "Zo𝄞"):
        assert text(name) == text("Zoe").replace("Zoe", name)


def made_in_order(plan, order):
    """The game of `plan` (parent and action of nodes 1, 2, ...; node 0 is the root), its nodes
    made in the given order and then attached in the plan's."""
    game = Game()
    nodes = [game.root] + [None] * len(plan)
    has_children = {parent for parent, _ in plan}
    players = [P, Player("a player with a long name")]
    for i in order:
        nodes[i] = Decision(players[i % 2], plan[i - 1][1],
                            utility=None if i in has_children else [i % 10, -i])
    for i, (parent, _) in enumerate(plan, 1):
        nodes[parent].add_node(nodes[i])
    return game


@pytest.mark.parametrize("export", EXPORTS)
def test_nodes_far_apart_in_memory_give_the_same_text(export):
    # Nodes made in a shuffled order lie in memory in no relation to the walk, which then reads
    # them ahead of itself; their text (past a MiB, from a tree with deep, wide and binary
    # parts, long and non-ASCII names) is byte for byte that of the nodes made in walk order.
    rng = random.Random(7)
    plan = []
    for i in range(1, 30_000):
        parent = 0 if i < 300 else rng.randrange(max(1, i - 40), i)
        plan.append((parent, f"move {i} of a long game" if i % 5 == 0 else "Ré" if i == 9999
                     else f"m{i % 7}"))
    children = {}
    for i, (parent, _) in enumerate(plan, 1):
        children.setdefault(parent, []).append(i)
    walk_order, stack = [], list(reversed(children[0]))
    while stack:
        walk_order.append(stack.pop())
        stack.extend(reversed(children.get(walk_order[-1], [])))
    shuffled = walk_order.copy()
    rng.shuffle(shuffled)

    def text(order):
        # LaTeX names each node by its number, which follows the order of making: numbered
        # here by first appearance instead.
        made = getattr(made_in_order(plan, order), export)()
        numbers = {}
        return re.sub(r"\((\d+)\)", lambda m: f"({numbers.setdefault(m[1], len(numbers))})", made)

    expected = text(walk_order)
    assert len(expected) > 1 << 20 and "Ré" in expected
    assert text(shuffled) == expected


@pytest.mark.parametrize("export", EXPORTS)
def test_cycles_are_refused(export):
    loop = Decision(P, "loop")
    loop.add_node(loop)
    game = Game()
    game += loop
    kind, text = error(getattr(game, export))
    assert kind is ValueError
    assert text.startswith("the game tree contains a cycle: node ")
    assert text.endswith(" ('loop') is among its own descendants")
    # Through a longer path, and back up to the game's own root.
    game = Game()
    a, b = Decision(P, "a"), Decision(P, "b")
    game += a
    a.add_node(b)
    b.add_nodes(Decision(P, "fine", utility=[1, 2]), a)
    assert error(getattr(game, export))[0] is ValueError
    game = Game()
    game += Decision(P, "up").add_node(game.root)
    assert error(getattr(game, export))[0] is ValueError


@pytest.mark.parametrize("export", EXPORTS)
def test_shared_subtrees_are_not_cycles(export):
    shared = Decision(P, "s").add_nodes(Decision(P, "x", utility=[1, 2]))
    game = Game()
    game.root.add_nodes(shared, Decision(P, "t").add_node(shared), shared)
    text = getattr(game, export)()
    assert text.count("{$s$}" if export == "export_latex" else 'label = "s"') == 3


@pytest.mark.parametrize("export", EXPORTS)
def test_busy_nodes_fail_and_leave_no_trace(export, probe):
    game = probe.Game()
    child = probe.Decision(probe.Player("P"), "c", utility=[1, 2])
    node = probe.Decision(probe.Player("P"), "n").add_node(child)
    game += node
    call = getattr(game, export)
    for held in (node, child, game.root):
        kind, text = probe.hold("exclusive", held, lambda: error(call))
        assert kind.__name__ == "PanicException"
        assert text == "Already mutably borrowed: PyBorrowError"
    # A shared hold is no conflict, and the interrupted walks left no node marked as being
    # walked (which would now read as a cycle).
    assert probe.hold("shared", node, call) == call()
    assert probe.hold("exclusive", game, lambda: error(call)) == (
        RuntimeError, "Already mutably borrowed")


@pytest.mark.parametrize("export", EXPORTS)
def test_exports_change_nothing(export):
    game = worked_example(kelvora)
    root, nodes = game.root, [game.root, *game.root.children]
    before = [sys.getrefcount(n) for n in nodes]
    first = getattr(game, export)()
    for _ in range(100):
        assert getattr(game, export)() == first
        error(getattr(Game() + Decision(P, "bare"), export))
    after = [sys.getrefcount(n) for n in nodes]
    assert before == after and game.root is root
    assert [c.name for c in root.children] == ["L", "R"]


# A tree of 2**40 paths made of 41 nodes: each level holds the level below twice.
EXPLOSIVE = """
from kelvora import Decision, Game, Player
node = Decision(Player("P"), "leaf", utility=[1, 2])
for _ in range(40):
    node = Decision(Player("P"), "n").add_nodes(node, node)
game = Game()
game += node
"""


def start(code):
    return subprocess.Popen(
        [sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))


@pytest.mark.parametrize("export", EXPORTS)
def test_endless_exports_can_be_interrupted(export):
    child = start(EXPLOSIVE + f"""
print("walking", flush=True)
try:
    game.{export}()
except KeyboardInterrupt:
    print("interrupted")
""")
    assert child.stdout.readline() == "walking\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    assert out == "interrupted\n", err


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer needs more address space than the limit allows")
@pytest.mark.parametrize("export", EXPORTS)
def test_running_out_of_memory_is_a_memory_error(export):
    child = start(EXPLOSIVE + f"""
import resource
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
try:
    game.{export}()
except MemoryError:
    print("refused")
""")
    out, err = child.communicate(timeout=120)
    assert out == "refused\n", err


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer needs more address space than the limit allows")
def test_texts_past_a_mebibyte_fit_a_tight_address_space():
    # The exports reserve large blocks to grow in; where that much address space is not to be
    # had, they make do with what the text needs.
    code = """
import resource
from kelvora import Decision, Game, Player
game, p = Game("t", players=1), Player("P")
for i in range(40000):
    game = game + Decision(p, "a%d" % i, utility=[1, 2])
texts = [game.export(), game.export_latex(), game.export_svg()]
used = int(open("/proc/self/statm").read().split()[0]) * 4096
resource.setrlimit(resource.RLIMIT_AS, (used + (40 << 20),) * 2)
print([len(t) for t in texts] == [len(game.export()), len(game.export_latex()),
                                  len(game.export_svg())])
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.stdout == "True\n", out.stderr


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer needs more address space than the limit allows")
def test_nodes_past_the_address_space_fail_cleanly():
    # Nodes come from blocks that the module maps for itself: where no block is to be had,
    # making a node fails as a failed allocation does (MemoryError, or the fault of a result
    # object that cannot be made), and the tree made so far is whole.
    code = """
import resource
from kelvora import Decision, Game, Player
game, p = Game("t", players=1), Player("P")
used = int(open("/proc/self/statm").read().split()[0]) * 4096
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (used + (64 << 20), hard))
node, made = game.root, 0
try:
    while True:
        child = Decision(p, "a")
        node.add_node(child)
        node, made = child, made + 1
except BaseException as error:
    assert type(error).__name__ in ("MemoryError", "PanicException"), error
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
node.add_node(Decision(p, "z", utility=[1, 2]))
print(made > 100000, game.export().count("->") == made + 1)
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.stdout == "True True\n", out.stderr
