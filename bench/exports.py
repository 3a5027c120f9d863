"""Time kelvora's two exports on large game trees.

Three trees of about --nodes nodes each (counted with the game's root) are built through the
public API, without recursion:

  binary  a full binary tree whose leaves pay two integers; the sibling pairs at depth 3 each
          share an information set
  chain   every node has one child, down to a single paying leaf
  wide    the root and --nodes paying leaves below it

For each tree the construction, ``Game.export()`` (DOT) and ``Game.export_latex()`` (TikZ) are
timed --repeat times with the garbage collector off; the table gives the median and the minimum,
in milliseconds and in nanoseconds per node, and the size of each export in bytes and bytes per
node. The exports run on the last tree built. The LaTeX figure names nodes by their creation
number, which counts every node the process has made, so its size grows slightly with the trees
measured before.

    PYTHONPATH=/path/to/build python3 bench/exports.py [--repeat N] [--nodes N]
"""

from __future__ import annotations

import argparse
import gc
import math
import statistics
import sys
import time
from collections.abc import Callable
from typing import TypeVar

from kelvora import Decision, Game, Player

T = TypeVar("T")

# The depth whose sibling pairs share an information set in the binary tree.
INFORMATION_SET_DEPTH = 3


def payoff(k: int) -> list[int]:
    """A leaf's two integers, varied so that the exports print numbers of different widths."""
    return [k % 100, -(k % 7)]


def binary_tree(nodes: int) -> tuple[Game, int]:
    """A full binary tree of 2**levels - 1 nodes, as close to `nodes` as a full tree gets (but
    deep enough for the information sets to sit above the leaves)."""
    levels = max(INFORMATION_SET_DEPTH + 2, round(math.log2(nodes + 1)))
    game = Game("binary")
    player = Player("P")
    leaves = 0
    level = [game.root]
    for depth in range(1, levels):
        below = []
        for index, parent in enumerate(level):
            for action in ("L", "R"):
                if depth == levels - 1:
                    child = Decision(player, action, utility=payoff(leaves))
                    leaves += 1
                elif depth == INFORMATION_SET_DEPTH:
                    child = Decision(player, action, information_set=index)
                else:
                    child = Decision(player, action)
                if depth == 1:
                    game += child
                else:
                    parent.add_node(child)
                below.append(child)
        level = below
    return game, 2**levels - 1


def chain(nodes: int) -> tuple[Game, int]:
    """The root and `nodes` - 1 nodes below it, each the only child of the one above; the last
    one pays."""
    game = Game("chain")
    player = Player("P")
    parent = None
    for depth in range(1, nodes):
        if depth == nodes - 1:
            child = Decision(player, "a", utility=payoff(depth))
        else:
            child = Decision(player, "a")
        if parent is None:
            game += child
        else:
            parent.add_node(child)
        parent = child
    return game, nodes


def wide(nodes: int) -> tuple[Game, int]:
    """The root with `nodes` paying leaves, attached to the root itself (`game += leaf` would
    make a new Game for every leaf)."""
    game = Game("wide")
    root = game.root
    player = Player("P")
    for k in range(nodes):
        root.add_node(Decision(player, "a", utility=payoff(k)))
    return game, nodes + 1


TREES: dict[str, Callable[[int], tuple[Game, int]]] = {
    "binary": binary_tree,
    "chain": chain,
    "wide": wide,
}


def timed(call: Callable[[], T]) -> tuple[float, T]:
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


def row(tree: str, nodes: int, step: str, seconds: list[float], size: int | None) -> list[str]:
    """One line of the table: timings as ms and ns/node, and the output size if there is one."""
    median, fastest = statistics.median(seconds), min(seconds)
    return [
        tree,
        f"{nodes:,}",
        step,
        f"{median * 1e3:.2f}",
        f"{fastest * 1e3:.2f}",
        f"{median * 1e9 / nodes:.1f}",
        f"{fastest * 1e9 / nodes:.1f}",
        "-" if size is None else f"{size:,}",
        "-" if size is None else f"{size / nodes:.1f}",
    ]


def measure(
    tree: str, build: Callable[[int], tuple[Game, int]], nodes: int, repeat: int
) -> list[list[str]]:
    """The table rows of one tree: its construction and its two exports."""
    build_seconds = []
    for _ in range(repeat):
        game = None  # the previous tree is freed outside the timed region
        elapsed, (game, count) = timed(lambda: build(nodes))
        build_seconds.append(elapsed)
    rows = [row(tree, count, "build", build_seconds, None)]

    for step, export in (("export", game.export), ("export_latex", game.export_latex)):
        seconds = []
        for _ in range(repeat):
            text = None  # likewise the previous output
            elapsed, text = timed(export)
            seconds.append(elapsed)
        rows.append(row(tree, count, step, seconds, len(text.encode())))
    return rows


def print_table(rows: list[list[str]]) -> None:
    header = ["tree", "nodes", "step", "median ms", "min ms",
              "median ns/node", "min ns/node", "bytes", "bytes/node"]
    widths = [max(len(line[i]) for line in [header, *rows]) for i in range(len(header))]

    def line(cells: list[str]) -> str:
        # The first and third columns are names (left-aligned), the rest numbers.
        return "  ".join(cell.ljust(width) if i in (0, 2) else cell.rjust(width)
                         for i, (cell, width) in enumerate(zip(cells, widths)))

    print(line(header))
    print("  ".join("-" * width for width in widths))
    previous = None
    for cells in rows:
        if previous is not None and cells[0] != previous:
            print()
        print(line(cells))
        previous = cells[0]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=5, help="timed runs of each step (default 5)")
    parser.add_argument("--nodes", type=int, default=1_000_000,
                        help="about how many nodes each tree has (default 1_000_000)")
    args = parser.parse_args()
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")
    if args.nodes < 2:
        parser.error("--nodes must be at least 2")

    rows = []
    for tree, build in TREES.items():
        print(f"measuring {tree} ...", file=sys.stderr, flush=True)
        rows += measure(tree, build, args.nodes, args.repeat)
    print(f"kelvora exports, {args.repeat} runs each, Python {sys.version.split()[0]}")
    print()
    print_table(rows)


if __name__ == "__main__":
    main()
