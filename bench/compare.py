"""kelvora side by side with what a user would otherwise write, on the same game trees.

Each tree is measured for:

  kelvora         the built module: Decision(...) + add_node, Game.export(), Game.export_latex()
  pure Python     bench/pure.py: a __slots__ node class and two plain renderers giving the same
                  text as kelvora (checked before anything is timed)
  networkx+pydot  a DiGraph with label attributes, networkx.nx_pydot.to_pydot(g).to_string()
  graphviz        graphviz.Digraph built with node() and edge() calls, its .source
  floor           ''.join() of kelvora's output lines, split beforehand
  fresh memory    writing as many bytes as each export into freshly allocated memory: the least
                  that producing that many bytes can take

Trees (counted with the root): full binary trees of about 10^3 to 10^6 nodes whose leaves pay two
integers and whose sibling pairs at depth 3 share an information set; a chain of 10^6 nodes, each
the only child of the one above; a root with 10^5 leaves; a binary tree of 10^6 nodes whose
sibling pairs at every odd depth share an information set (87,381 boxes). Every implementation builds a tree from
the same list of node descriptions (parent, action, payoff, information set), made beforehand.
Last, kelvora alone: every export and drawing of a binary tree made in walk order and of the same
tree with its nodes made in a random order (--orders sizes), the drawings on each shape,
Game.backward_induction() beside Game.export() on a chain and a binary tree of perfect information
(--solving-only), and game files: Game.export_efg() and loads_efg() of its text beside export()
(--files-only).

Times are in nanoseconds per node, the median of --repeat runs with the garbage collector off; a
measurement stops repeating once its runs have taken --budget seconds together, and the table says
so. Memory is the growth of the resident set while one implementation builds the largest binary
tree, each in a fresh interpreter.

    pip install '.[bench]' && python bench/compare.py [--repeat N] [--quick | --max-nodes N]
                                                      [--orders SIZES] [--orders-only]
                                                      [--solving-only]
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import random
import statistics
import subprocess
import sys
import time
import timeit
from collections.abc import Callable
from dataclasses import dataclass, field
from functools import partial
from typing import Any

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # numpy's threads would spin beside the exports

import graphviz
import networkx as nx
import numpy
import pure

import kelvora
from kelvora import Decision, Game, Player

# ---------------------------------------------------------------------------------------------
# The trees, as lists of node descriptions in the order of making: (parent, action, first
# payoff entry, second payoff entry, information set). Node 0 is the root, which every
# implementation makes for itself; node i is described by entry i - 1, and its parent came
# before it. Decision nodes have None for the payoff entries.

Plan = list[tuple[int, str, int | None, int | None, int | None]]

# The depth whose sibling pairs share an information set in the binary trees.
INFORMATION_SET_DEPTH = 3
# Every move is made by this player.
PLAYER = "P"


def payoff(k: int) -> tuple[int, int]:
    """A leaf's two integers, varied so that the exports print numbers of different widths."""
    return k % 100, -(k % 7)


def binary_plan(nodes: int, shared_depths: Callable[[int], bool] | None = None) -> Plan:
    """A full binary tree of 2**levels - 1 nodes, as close to `nodes` as a full tree gets (but
    deep enough for the information sets to sit above the leaves), made level by level. The
    sibling pairs at INFORMATION_SET_DEPTH share an information set, or those at every depth
    that `shared_depths` accepts, each pair its own (numbered by its parent)."""
    levels = max(INFORMATION_SET_DEPTH + 2, round(math.log2(nodes + 1)))
    plan: Plan = []
    level = [0]
    for depth in range(1, levels):
        below = []
        for position, parent in enumerate(level):
            for action in ("L", "R"):
                if depth == levels - 1:
                    plan.append((parent, action, *payoff(len(plan)), None))
                elif shared_depths is None and depth == INFORMATION_SET_DEPTH:
                    plan.append((parent, action, None, None, position))
                elif shared_depths is not None and shared_depths(depth):
                    plan.append((parent, action, None, None, parent))
                else:
                    plan.append((parent, action, None, None, None))
                below.append(len(plan))
        level = below
    return plan


def chain_plan(nodes: int) -> Plan:
    """The root and `nodes` - 1 nodes below it, each the only child of the one above; the last
    one pays."""
    plan: Plan = [(k, "a", None, None, None) for k in range(nodes - 2)]
    plan.append((nodes - 2, "a", *payoff(nodes), None))
    return plan


def wide_plan(nodes: int) -> Plan:
    """The root with `nodes` - 1 paying leaves."""
    return [(0, "a", *payoff(k), None) for k in range(nodes - 1)]


def walk_order(plan: Plan) -> Plan:
    """The same tree with its nodes described in the order of the exports' walk (pre-order),
    each parent's children still in their order."""
    children: list[list[int]] = [[] for _ in range(len(plan) + 1)]
    for i, entry in enumerate(plan, 1):
        children[entry[0]].append(i)
    number = [0] * (len(plan) + 1)
    ordered: Plan = []
    stack = list(reversed(children[0]))
    while stack:
        i = stack.pop()
        entry = plan[i - 1]
        ordered.append((number[entry[0]], *entry[1:]))
        number[i] = len(ordered)
        stack.extend(reversed(children[i]))
    return ordered


def infosets_plan(nodes: int) -> Plan:
    """A binary tree whose sibling pairs at every odd depth share an information set: of 2**20 - 1
    nodes, 87,381 boxes."""
    return binary_plan(nodes, lambda depth: depth % 2 == 1)


SHAPES: dict[str, Callable[[int], Plan]] = {
    "binary": binary_plan,
    "chain": chain_plan,
    "wide": wide_plan,
    "infosets": infosets_plan,
}

# ---------------------------------------------------------------------------------------------
# Building: each implementation its own way. kelvora and pure Python keep the nodes made so far
# in a list, where the children find their parents.


def build_kelvora(plan: Plan) -> Game:
    return attach(Game("bench"), Player(PLAYER), plan)


def attach(game: Game, player: Player, plan: Plan) -> Game:
    """The plan's nodes, made for `player` and attached below the game's root in plan order."""
    made: list[Any] = [None] * (len(plan) + 1)
    made[0] = game.root
    for i, (parent, action, a, b, information_set) in enumerate(plan, 1):
        node = Decision(player, action, None if a is None else [a, b], None, information_set)
        made[parent].add_node(node)
        made[i] = node
    return game


def build_kelvora_shuffled(plan: Plan, seed: int = 1) -> Game:
    """The tree of `plan` with its nodes made in a random order and then attached in the plan's
    order: the same tree as build_kelvora's, but its nodes lie in memory in no relation to the
    order in which a walk meets them, as in a tree built by code that makes the nodes first and
    attaches them later, or read from a file."""
    game = Game("bench")
    player = Player(PLAYER)
    order = list(range(1, len(plan) + 1))
    random.Random(seed).shuffle(order)
    made: list[Any] = [None] * (len(plan) + 1)
    made[0] = game.root
    for i in order:
        _, action, a, b, information_set = plan[i - 1]
        made[i] = Decision(player, action, None if a is None else [a, b], None, information_set)
    for i, (parent, *_) in enumerate(plan, 1):
        made[parent].add_node(made[i])
    return game


def build_pure(plan: Plan) -> pure.Node:
    root = pure.Node("Nature", "root")
    made = [None] * (len(plan) + 1)
    made[0] = root
    for i, (parent, action, a, b, information_set) in enumerate(plan, 1):
        node = pure.Node(PLAYER, action, None if a is None else [a, b], information_set)
        made[parent].children.append(node)
        made[i] = node
    return root


def build_networkx(plan: Plan) -> nx.DiGraph:
    graph = nx.DiGraph()
    graph.add_node(0, label=PLAYER)
    for i, (parent, action, a, b, _) in enumerate(plan, 1):
        graph.add_node(i, label=PLAYER if a is None else f"label=below:{{$({a}, {b})$}}")
        graph.add_edge(parent, i, label=action)
    return graph


def build_graphviz(plan: Plan) -> graphviz.Digraph:
    graph = graphviz.Digraph()
    graph.node("0", label=PLAYER)
    for i, (parent, action, a, b, _) in enumerate(plan, 1):
        name = str(i)
        graph.node(name, label=PLAYER if a is None else f"label=below:{{$({a}, {b})$}}")
        graph.edge(str(parent), name, label=action)
    return graph


@dataclass
class Implementation:
    name: str
    build: Callable[[Plan], Any]
    export: Callable[[Any], str]
    export_latex: Callable[[Any], str] | None


IMPLEMENTATIONS = [
    Implementation("kelvora", build_kelvora, Game.export, Game.export_latex),
    Implementation("pure Python", build_pure, pure.export_dot, pure.export_latex),
    Implementation("networkx+pydot", build_networkx,
                   lambda graph: nx.nx_pydot.to_pydot(graph).to_string(), None),
    Implementation("graphviz", build_graphviz, lambda graph: graph.source, None),
]
KELVORA, PURE = IMPLEMENTATIONS[0], IMPLEMENTATIONS[1]
FLOOR = "floor"
MEMORY = "fresh memory"
COLUMNS = [impl.name for impl in IMPLEMENTATIONS] + [FLOOR, MEMORY]
STEPS = ("build", "export", "export_latex")

# ---------------------------------------------------------------------------------------------
# Measuring


def timed(call: Callable[[], Any]) -> tuple[float, Any]:
    """Runs `call` with the garbage collector off; returns the seconds it took and its result."""
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        result = call()
        elapsed = time.perf_counter() - start
    finally:
        gc.enable()
    return elapsed, result


@dataclass
class Runs:
    seconds: list[float] = field(default_factory=list)

    def median_ns(self, nodes: int) -> float:
        return statistics.median(self.seconds) * 1e9 / nodes


def repeated(call: Callable[[], Any], repeat: int, budget: float) -> tuple[Runs, Any]:
    """Up to `repeat` timed runs of `call`, fewer once they have taken `budget` seconds; the
    result of the last run (each earlier result is released before the next run starts)."""
    runs = Runs()
    result = None
    while len(runs.seconds) < repeat and sum(runs.seconds) < budget:
        result = None
        elapsed, result = timed(call)
        runs.seconds.append(elapsed)
    return runs, result


def measure_tree(plan: Plan, repeat: int, budget: float) -> tuple[dict[tuple[str, str], Runs],
                                                                  dict[str, int]]:
    """Every implementation's build and exports of one tree, and the floor of each export; and
    the size in bytes of kelvora's exports."""
    results: dict[tuple[str, str], Runs] = {}
    texts: dict[str, str] = {}
    for impl in IMPLEMENTATIONS:
        print(f"  {impl.name}", file=sys.stderr, flush=True)
        results[impl.name, "build"], tree = repeated(partial(impl.build, plan), repeat, budget)
        for step, export in (("export", impl.export), ("export_latex", impl.export_latex)):
            if export is None:
                continue
            results[impl.name, step], text = repeated(partial(export, tree), repeat, budget)
            if impl is KELVORA:
                texts[step] = text
            elif impl is PURE and step == "export" and text != texts[step]:
                sys.exit("pure Python's DOT differs from kelvora's on a timed tree")
            text = None
        tree = None
    for step, text in texts.items():
        lines = text.splitlines(keepends=True)
        results[FLOOR, step], _ = repeated(partial("".join, lines), repeat, budget)
        results[MEMORY, step], _ = repeated(fresh_memory(len(text)), repeat, budget)
    return results, {step: len(text.encode()) for step, text in texts.items()}


def check_same_text() -> None:
    """Compares pure Python's exports with kelvora's on a small tree of each shape and stops
    the run if they differ. Both number their nodes from 0 in this process and make the same
    nodes in the same order here, so even the LaTeX node numbers must agree: this runs first."""
    for shape, make_plan in SHAPES.items():
        plan = make_plan(40)
        game, root = build_kelvora(plan), build_pure(plan)
        for step, ours, theirs in (("export", game.export, pure.export_dot),
                                   ("export_latex", game.export_latex, pure.export_latex)):
            expected, got = ours(), theirs(root)
            if got != expected:
                at = next((i for i, (x, y) in enumerate(zip(expected, got)) if x != y),
                          min(len(expected), len(got)))
                sys.exit(f"pure Python's {step} of the small {shape} tree differs from kelvora's "
                         f"at character {at}:\n  kelvora: {expected[at - 40:at + 40]!r}\n"
                         f"  pure:    {got[at - 40:at + 40]!r}")


def resident_bytes() -> int:
    """The resident set of this process (the C++ heap included, which tracemalloc misses)."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_of(name: str, nodes: int) -> float:
    """Bytes per node by which building a binary tree grows the resident set; run in a fresh
    interpreter, with the node descriptions made beforehand."""
    impl = next(impl for impl in IMPLEMENTATIONS if impl.name == name)
    plan = binary_plan(nodes)
    gc.collect()
    gc.disable()
    before = resident_bytes()
    tree = impl.build(plan)
    after = resident_bytes()
    assert tree is not None
    return (after - before) / (len(plan) + 1)


def memory_in_subprocess(name: str, nodes: int) -> float:
    result = subprocess.run([sys.executable, __file__, "--memory-of", name, "--nodes", str(nodes)],
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"measuring the memory of {name} failed:\n{result.stderr}")
    return float(result.stdout)


# ---------------------------------------------------------------------------------------------
# The exports against the memory they write: the fresh-memory floor, the fixed cost of a call,
# nodes scattered in memory, and the peak memory of an export.


def fresh_memory(size: int) -> Callable[[], Any]:
    """Writing `size` bytes into freshly allocated memory, whose pages numpy asks to be huge as
    the exports do: the least that an export of that size can take."""
    return lambda: numpy.empty(size, numpy.uint8).fill(65)


def over_memory(results: dict, step: str) -> float:
    """kelvora's time for `step` over the fresh-memory floor of its text."""
    return statistics.median(results[KELVORA.name, step].seconds) / statistics.median(
        results[MEMORY, step].seconds)


def small_game() -> Game:
    game = Game("small")
    game.root.add_node(Decision(Player(PLAYER), "a", [4, -1]))
    return game


def call_costs(repeat: int) -> dict[str, float]:
    """Nanoseconds per call on a tree of two nodes: a bare length() and the two exports."""
    game = small_game()
    calls = {"length()": game.length, "export()": game.export,
             "export_latex()": game.export_latex}
    ns = {name: [] for name in calls}
    for _ in range(max(repeat, 5)):  # interleaved, so that a busy moment hits all three
        for name, call in calls.items():
            ns[name].append(min(timeit.repeat(call, number=20_000, repeat=3)) / 20_000 * 1e9)
    return {name: statistics.median(values) for name, values in ns.items()}


def scattered(sizes: list[int], repeat: int, budget: float) -> dict[int, dict[str, float]]:
    """ns/node of both exports of binary trees built level by level, whose nodes lie in memory
    in an order far from the walk's; the DOT text is checked against pure Python's."""
    measured = {}
    for size in sizes:
        plan = binary_plan(size)
        nodes = len(plan) + 1
        print(f"scattered binary, {nodes:,} nodes", file=sys.stderr, flush=True)
        game = build_kelvora(plan)
        measured[nodes] = {}
        for step, export in (("export", Game.export), ("export_latex", Game.export_latex)):
            runs, text = repeated(partial(export, game), repeat, budget)
            measured[nodes][step] = runs.median_ns(nodes)
            if step == "export":
                game = None  # room for pure Python's tree
                if pure.export_dot(build_pure(plan)) != text:
                    sys.exit(f"pure Python's DOT differs from kelvora's on {nodes:,} nodes")
                game = build_kelvora(plan)
            text = None
        game = plan = None
    return measured


EXPORTS = {"export": Game.export, "export_latex": Game.export_latex,
           "export_svg": Game.export_svg, "export_tikz": Game.export_tikz}


def walk_and_shuffled(sizes: list[int], repeat: int, budget: float) -> list[dict[str, Any]]:
    """ns/node of every export and drawing of a binary tree built in the order of the walk and
    of the same tree with its nodes made in a random order (build_kelvora_shuffled), each
    against the fresh memory of its text; the texts of the two trees are checked to be the same
    (but the LaTeX figure's, which names nodes by their numbers, which follow the order of
    making)."""
    rows = []
    for size in sizes:
        plan = walk_order(binary_plan(size))
        nodes = len(plan) + 1
        ns: dict[tuple[str, str], float] = {}
        texts: dict[tuple[str, str], tuple[int, int]] = {}
        for order, build in (("walk order", build_kelvora), ("shuffled", build_kelvora_shuffled)):
            print(f"{order} binary, {nodes:,} nodes", file=sys.stderr, flush=True)
            game = build(plan)
            for name, method in EXPORTS.items():
                runs, text = repeated(partial(method, game), repeat, budget)
                ns[order, name] = runs.median_ns(nodes)
                texts[order, name] = (len(text), hash(text))
                text = None
            game = None
        for name in EXPORTS:
            if name != "export_latex" and texts["walk order", name] != texts["shuffled", name]:
                sys.exit(f"{name}() differs between the walk-order and the shuffled tree of "
                         f"{nodes:,} nodes")
            runs, _ = repeated(fresh_memory(texts["walk order", name][0]), repeat, budget)
            rows.append({"export": name, "nodes": nodes, "fresh": runs.median_ns(nodes),
                         "walk order": ns["walk order", name], "shuffled": ns["shuffled", name]})
        plan = None
    return rows


def print_walk_and_shuffled(rows: list[dict[str, Any]]) -> None:
    print("\nA binary tree made in the order of the walk and the same tree with its nodes made in "
          "a random order: nanoseconds per node, and each over the fresh memory of its text "
          "(smaller is better; targets: shuffled / walk order ≤ 1.5, and the largest tree's "
          "ns/node ≤ 1.25 × the smallest's):\n")
    print("| export | nodes | walk order | shuffled | shuffled / walk order | walk order / fresh "
          "memory | shuffled / fresh memory | walk order, × smallest | shuffled, × smallest |")
    print("|:--|--:|--:|--:|--:|--:|--:|--:|--:|")
    smallest: dict[str, dict[str, Any]] = {}
    for row in sorted(rows, key=lambda r: (list(EXPORTS).index(r["export"]), r["nodes"])):
        first = smallest.setdefault(row["export"], row)
        growth = ["–", "–"] if first is row else [
            f"{row[order] / first[order]:.2f}" for order in ("walk order", "shuffled")]
        print(f"| {row['export']}() | {row['nodes']:,} | {row['walk order']:,.1f} | "
              f"{row['shuffled']:,.1f} | {row['shuffled'] / row['walk order']:.2f} | "
              f"{row['walk order'] / row['fresh']:.2f} | {row['shuffled'] / row['fresh']:.2f} | "
              f"{growth[0]} | {growth[1]} |")


def status_kib(field_name: str) -> int:
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field_name))


def export_peaks(nodes: int) -> dict[str, float]:
    """Peak growth of the resident set during each export over the size of the str it returns,
    for a binary tree with ASCII names and for the same tree with one non-ASCII action name,
    which ends both texts."""
    plan = binary_plan(nodes)
    last_child = max(i for i, entry in enumerate(plan) if entry[0] == 0)
    accented = plan.copy()
    accented[last_child] = (0, "Ré", *plan[last_child][2:])
    peaks = {}
    for kind, tree_plan in (("ASCII", plan), ("non-ASCII", accented)):
        game = build_kelvora(tree_plan)
        for step, export in (("export", Game.export), ("export_latex", Game.export_latex)):
            gc.collect()
            with open("/proc/self/clear_refs", "w") as clear:
                clear.write("5")  # the peak starts again from the current resident set
            before = status_kib("VmRSS")
            text = export(game)
            peaks[f"{kind} {step}"] = (status_kib("VmHWM") - before) * 1024 / sys.getsizeof(text)
            text = None
        game = None
    return peaks


def peaks_in_subprocess(nodes: int) -> dict[str, float]:
    result = subprocess.run([sys.executable, __file__, "--peaks-of", str(nodes)],
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"measuring the peak memory of the exports failed:\n{result.stderr}")
    return json.loads(result.stdout)


def print_memory_targets(measured: list, calls: dict[str, float],
                         spread: dict[int, dict[str, float]], peaks: dict[str, float]) -> None:
    """Each export against what it cannot go below, as a table of measures and targets."""
    rows = []
    for shape, nodes, results, _ in measured:
        if nodes >= 10**5 and shape != "binary" or nodes >= 10**6:
            for step in ("export", "export_latex"):
                rows.append((f"{step}() on {shape} ({nodes:,}) / fresh memory",
                             over_memory(results, step), 2.0))
    for step, goal in (("export()", 3.0), ("export_latex()", 4.0)):
        rows.append((f"{step} of 2 nodes / length() ({calls[step]:.0f} / {calls['length()']:.0f}"
                     " ns)", calls[step] / calls["length()"], goal))
    if len(spread) == 2:
        small, large = sorted(spread)
        for step in ("export", "export_latex"):
            rows.append((f"{step}() ns/node, {large:,} / {small:,} nodes ({spread[large][step]:.1f}"
                         f" / {spread[small][step]:.1f})",
                         spread[large][step] / spread[small][step], 1.25))
    for name, value in peaks.items():
        rows.append((f"peak memory / text, {name}", value, 1.1))
    print("\nThe exports against the memory they write (smaller is better):\n")
    print("| measure | measured | target | met |")
    print("|:--|--:|--:|:--|")
    for name, value, goal in rows:
        print(f"| {name} | {value:.3g} | ≤ {goal:g} | {'yes' if value <= goal else 'NO'} |")


# ---------------------------------------------------------------------------------------------
# Reporting


def cell(results: dict, column: str, step: str, nodes: int, repeat: int) -> str:
    runs = results.get((column, step))
    if runs is None:
        return "–"
    ns = runs.median_ns(nodes)
    text = f"{ns:,.0f}" if ns >= 10 else f"{ns:.1f}"
    if column != KELVORA.name:
        text += f" (×{ns / results[KELVORA.name, step].median_ns(nodes):.3g})"
    if len(runs.seconds) < repeat:
        text += f" [{len(runs.seconds)} run{'s' if len(runs.seconds) > 1 else ''}]"
    return text


def print_table(measured: list[tuple[str, int, dict, dict]], repeat: int) -> None:
    header = ["tree", "nodes", "step", *COLUMNS, "kelvora/fresh memory", "text bytes/node"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join([":--", "--:", ":--"] + ["--:"] * (len(header) - 3)) + "|")
    for shape, nodes, results, sizes in measured:
        for step in STEPS:
            size = sizes.get(step)
            cells = [cell(results, column, step, nodes, repeat) for column in COLUMNS]
            cells.append(f"{over_memory(results, step):.2f}" if (MEMORY, step) in results else "–")
            print("| " + " | ".join([shape, f"{nodes:,}", step, *cells,
                                     "–" if size is None else f"{size / nodes:.1f}"]) + " |")


def print_targets(results: dict, nodes: int, memory: dict[str, float]) -> None:
    def ratio(column: str, step: str) -> float:
        return (results[column, step].median_ns(nodes)
                / results[KELVORA.name, step].median_ns(nodes))

    targets = [
        ("export() vs pure Python", ratio(PURE.name, "export"), ">=", 50),
        ("export_latex() vs pure Python", ratio(PURE.name, "export_latex"), ">=", 50),
        ("export() vs networkx+pydot", ratio("networkx+pydot", "export"), ">=", 200),
        ("export() vs floor (kelvora/floor)", 1 / ratio(FLOOR, "export"), "<=", 3),
        ("export_latex() vs floor (kelvora/floor)", 1 / ratio(FLOOR, "export_latex"), "<=", 3),
        ("building, kelvora/pure", 1 / ratio(PURE.name, "build"), "<=", 1.0),
        ("memory, kelvora/pure", memory[KELVORA.name] / memory[PURE.name], "<=", 0.6),
    ]
    note = "" if nodes > 10**6 else " (they are set for 10^6 nodes; smaller trees measure less)"
    print(f"\nTargets, on the binary tree of {nodes:,} nodes{note}:\n")
    print("| measure | measured | target | met |")
    print("|:--|--:|--:|:--|")
    for name, value, sense, goal in targets:
        met = value >= goal if sense == ">=" else value <= goal
        print(f"| {name} | {value:.3g} | {sense.replace('>=', '≥').replace('<=', '≤')} {goal} "
              f"| {'yes' if met else 'NO'} |")


# ---------------------------------------------------------------------------------------------
# kelvora's own drawings: Game.export_svg() and Game.export_tikz() (layout and text) on each
# shape, small and large, to see that they take well under a second at 10^6 nodes and grow
# linearly.


def measure_drawing(max_nodes: int, repeat: int, budget: float) -> None:
    small = 10_000
    for method in (Game.export_svg, Game.export_tikz):
        name = method.__name__
        print(f"\nGame.{name}(), nanoseconds per node (median of {repeat} runs) at {small:,} "
              f"nodes and at {max_nodes:,}, and their ratio:\n")
        print("| tree | ns/node, small | ns/node, large | large/small | seconds, large |")
        print("|:--|--:|--:|--:|--:|")
        for shape, make_plan in SHAPES.items():
            cells = []
            for size in (small, max_nodes):
                plan = make_plan(size)
                nodes = len(plan) + 1
                print(f"{name}, {shape}, {nodes:,} nodes", file=sys.stderr, flush=True)
                game = build_kelvora(plan)
                plan = None
                runs, _ = repeated(partial(method, game), repeat, budget)
                cells.append((runs.median_ns(nodes), statistics.median(runs.seconds)))
                game = None
            (low, _), (high, seconds) = cells
            print(f"| {shape} | {low:,.0f} | {high:,.0f} | {high / low:.2f} | {seconds:.3f} |")


# ---------------------------------------------------------------------------------------------
# Solving: Game.backward_induction() beside Game.export() of the same tree, on trees of perfect
# information whose payoffs have no ties (one equilibrium), so that the time is the walk's.


def solving_games(nodes: int) -> dict[str, Game]:
    """A chain of `nodes` // 2 decisions, each between going on and a leaf, and a full binary
    tree of about `nodes` nodes; two players alternate by depth, every payoff is different."""
    chain_game = Game("chain", players=2)
    movers = chain_game.player[1:]
    chain = Decision(movers[0], "end", utility=[1, -1])
    for k in range(nodes // 2):
        off = Decision(movers[k % 2], "off", utility=[-k, k])
        chain = Decision(movers[(k + 1) % 2], "on").add_nodes(chain, off)
    binary_game = Game("binary", players=2)
    levels = max(1, round(math.log2(nodes + 1)) - 1)
    level = []
    for k in range(2 ** levels):
        level.append(Decision(movers[levels % 2], f"a{k % 2}", utility=[k, -k]))
    for depth in range(levels - 1, 0, -1):
        level = [Decision(movers[depth % 2], f"a{k % 2}").add_nodes(level[2 * k], level[2 * k + 1])
                 for k in range(len(level) // 2)]
    for child in level:
        binary_game = binary_game + child
    return {"chain": chain_game + chain, "binary": binary_game}


def measure_solving(max_nodes: int, repeat: int, budget: float) -> None:
    print(f"\nGame.backward_induction() beside Game.export() of the same tree, nanoseconds per "
          f"node (median of {repeat} runs):\n")
    print("| tree | nodes | backward_induction() | export() | backward_induction() / export() |")
    print("|:--|--:|--:|--:|--:|")
    for shape, game in solving_games(max_nodes).items():
        nodes = game.export().count(" -> ") + 1
        print(f"backward_induction, {shape}, {nodes:,} nodes", file=sys.stderr, flush=True)
        solve, found = repeated(game.backward_induction, repeat, budget)
        assert len(found) == 1
        found = None
        export, _ = repeated(game.export, repeat, budget)
        print(f"| {shape} | {nodes:,} | {solve.median_ns(nodes):,.0f} | "
              f"{export.median_ns(nodes):,.0f} | {solve.median_ns(nodes) / export.median_ns(nodes):.2f} |")
        game = None


# ---------------------------------------------------------------------------------------------
# Game files: Game.export_efg() and loads_efg() of its text, beside export() of the same tree.
# The tree is built with the game's own first player at every move, so that it passes
# validate(), which export_efg() runs first.


def build_for_files(plan: Plan) -> Game:
    game = Game("bench", players=2)
    return attach(game, game.player[1], plan)


def measure_files(max_nodes: int, repeat: int, budget: float) -> None:
    print(f"\nGame files, nanoseconds per node (median of {repeat} runs), and (×r) the time over "
          f"export()'s on the same tree:\n")
    print("| tree (nodes) | `export()` | `export_efg()` | `loads_efg()` | .efg bytes/node |")
    print("|:--|--:|--:|--:|--:|")
    for shape in ("binary", "chain", "infosets"):
        plan = SHAPES[shape](max_nodes)
        nodes = len(plan) + 1
        print(f"files, {shape}, {nodes:,} nodes", file=sys.stderr, flush=True)
        game = build_for_files(plan)
        plan = None
        text = game.export_efg()
        assert kelvora.loads_efg(text).export_efg() == text
        dot, _ = repeated(game.export, repeat, budget)
        write, _ = repeated(game.export_efg, repeat, budget)
        read, _ = repeated(partial(kelvora.loads_efg, text), repeat, budget)
        base = dot.median_ns(nodes)
        cells = [f"{runs.median_ns(nodes):,.0f} (×{runs.median_ns(nodes) / base:.2g})"
                 for runs in (write, read)]
        print(f"| {shape} ({nodes:,}) | {base:,.0f} | {cells[0]} | {cells[1]} | "
              f"{len(text) / nodes:.1f} |")
        game = text = None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 1)[1])
    parser.add_argument("--repeat", type=int, default=None,
                        help="timed runs of each measurement (default 5, 3 with --quick)")
    parser.add_argument("--budget", type=float, default=20.0,
                        help="seconds after which a measurement stops repeating (default 20)")
    parser.add_argument("--max-nodes", type=int, default=1_000_000,
                        help="the largest tree to measure (default 1_000_000)")
    parser.add_argument("--quick", action="store_true",
                        help="trees of at most 10_000 nodes, 3 runs: well under a minute")
    parser.add_argument("--drawings-only", "--svg-only", action="store_true",
                        help="only the timing of Game.export_svg() and Game.export_tikz()")
    parser.add_argument("--scattered", type=int, default=10_000_000,
                        help="the large tree of the scattered-nodes measure, beside 10^5 nodes "
                        "(default 10_000_000; 0 leaves the measure out, as --quick does)")
    parser.add_argument("--orders", default="100000,10000000",
                        help="comma-separated sizes of the walk-order and shuffled binary trees "
                        "(default 100000,10000000; 10000 with --quick; empty leaves them out)")
    parser.add_argument("--orders-only", action="store_true",
                        help="only the table of the walk-order and shuffled trees")
    parser.add_argument("--solving-only", action="store_true",
                        help="only the timing of Game.backward_induction() beside export()")
    parser.add_argument("--files-only", action="store_true",
                        help="only the timing of Game.export_efg() and loads_efg()")
    parser.add_argument("--memory-of", help=argparse.SUPPRESS)
    parser.add_argument("--peaks-of", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--nodes", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.memory_of:
        print(memory_of(args.memory_of, args.nodes))
        return
    if args.peaks_of:
        print(json.dumps(export_peaks(args.peaks_of)))
        return
    if args.quick:
        args.max_nodes = min(args.max_nodes, 10_000)
        args.scattered = 0
        args.orders = "10000"
    repeat = args.repeat or (3 if args.quick else 5)
    if repeat < 1:
        parser.error("--repeat must be at least 1")
    if args.max_nodes < 1000:
        parser.error("--max-nodes must be at least 1000")
    try:
        orders = [int(size) for size in args.orders.replace("_", "").split(",") if size]
    except ValueError:
        parser.error("--orders takes comma-separated numbers of nodes, such as 100000,10000000")
    if args.drawings_only:
        measure_drawing(args.max_nodes, repeat, args.budget)
        return
    if args.solving_only:
        measure_solving(args.max_nodes, repeat, args.budget)
        return
    if args.files_only:
        measure_files(args.max_nodes, repeat, args.budget)
        return
    if args.orders_only:
        print_walk_and_shuffled(walk_and_shuffled(orders, repeat, args.budget))
        return

    check_same_text()

    trees = [("binary", n) for n in (10**3, 10**4, 10**5, 10**6) if n <= args.max_nodes]
    trees += [("chain", min(10**6, args.max_nodes)), ("wide", min(10**5, args.max_nodes) + 1)]
    trees += [("infosets", min(10**6, args.max_nodes))]
    measured = []
    started = time.perf_counter()
    for shape, size in trees:
        plan = SHAPES[shape](size)
        print(f"{shape}, {len(plan) + 1:,} nodes", file=sys.stderr, flush=True)
        measured.append((shape, len(plan) + 1, *measure_tree(plan, repeat, args.budget)))
        plan = None

    _, largest, largest_results, _ = max((m for m in measured if m[0] == "binary"),
                                      key=lambda m: m[1])
    print(f"memory, binary tree of {largest:,} nodes", file=sys.stderr, flush=True)
    memory = {impl.name: memory_in_subprocess(impl.name, largest) for impl in IMPLEMENTATIONS}
    print("call costs, scattered nodes, peak memory", file=sys.stderr, flush=True)
    calls = call_costs(repeat)
    spread = scattered([10**5, args.scattered] if args.scattered else [], repeat, args.budget)
    peaks = peaks_in_subprocess(largest)
    in_orders = walk_and_shuffled(orders, repeat, args.budget)

    print(f"\nkelvora side by side, Python {sys.version.split()[0]}, "
          f"{time.perf_counter() - started:.0f} s\n")
    print(f"Nanoseconds per node, median of {repeat} runs unless the cell says fewer (a "
          f"measurement stops repeating after {args.budget:g} s); (×r) is the time of the "
          f"alternative / kelvora's. networkx+pydot and graphviz make DOT only; graphviz's "
          f"build already writes the DOT lines, its export only joins them. The floor is "
          f"''.join() of kelvora's output lines; fresh memory is writing as many bytes as the "
          f"export into freshly allocated memory, and kelvora/fresh memory is the time of the "
          f"export over it.\n")
    print_table(measured, repeat)
    print(f"\nMemory: growth of the resident set while building the binary tree of "
          f"{largest:,} nodes, each in a fresh interpreter.\n")
    print("| implementation | bytes/node | ×kelvora |")
    print("|:--|--:|--:|")
    for name, value in memory.items():
        print(f"| {name} | {value:,.0f} | {value / memory[KELVORA.name]:.3g} |")
    print_targets(largest_results, largest, memory)
    print_memory_targets(measured, calls, spread, peaks)
    print_walk_and_shuffled(in_orders)
    measure_drawing(args.max_nodes, repeat, args.budget)
    measure_solving(args.max_nodes, repeat, args.budget)
    measure_files(args.max_nodes, repeat, args.budget)


if __name__ == "__main__":
    main()
