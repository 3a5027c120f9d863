"""A SHA-256 over the texts of every benchmark tree: its DOT, LaTeX figure, SVG and TikZ drawing.

Two builds of kelvora print the same digest when they write the same bytes for every tree, so
that a change meant to make the exports faster can be shown to leave their texts alone:

    python bench/digest.py [--max-nodes N] [--verbose]

The trees are those of compare.py (binary, chain, wide, infosets) at 10^3 nodes and at
--max-nodes (default 10^5), the binary tree built in the walk's order and shuffled, the binary
tree with a non-ASCII action name, and a small tree of long, escaped and exact-valued names.
Each is built in the same order in one fresh process, so the nodes' numbers, which the LaTeX
figure shows, agree between runs.
"""

from __future__ import annotations

import argparse
import hashlib
import sys
from collections.abc import Callable, Iterator
from fractions import Fraction

from compare import (SHAPES, Plan, binary_plan, build_kelvora, build_kelvora_shuffled,
                     walk_order)

from kelvora import Decision, Game, Player, Variable

EXPORTS: dict[str, Callable[[Game], str]] = {
    "export": Game.export,
    "export_latex": Game.export_latex,
    "export_svg": Game.export_svg,
    "export_tikz": Game.export_tikz,
}


def named_game() -> Game:
    """Names on the heap (16 bytes or more), characters that DOT escapes, wide characters,
    exact and symbolic payoffs, and information sets."""
    game = Game("names", players=2)
    ann, bob = Player("Ann with a long name"), Player('Bob "the" \\ builder')
    low, high = Variable("low"), Variable("a rather long variable")
    top = Decision(ann, "start")
    for k in range(6):
        move = Decision(bob, f"move number {k} of many" if k % 2 else f'm"{k}\\', None, None,
                        k % 3)
        leaf = Decision(ann, "Ré" * (k + 1), [k, -k])
        other = Decision(ann, "leaf ≠ " + "x" * k)
        other.payoff = [Fraction(k, 3), "0.25"] if k % 2 else [low, high]
        top.add_node(move.add_nodes(leaf, other))
    return game + top


def trees(max_nodes: int) -> Iterator[tuple[str, Game]]:
    for shape, make in SHAPES.items():
        for size in sorted({1000, max_nodes}):
            yield f"{shape} {size}", build_kelvora(make(size))
    plan = walk_order(binary_plan(max_nodes))
    yield "binary in walk order", build_kelvora(plan)
    yield "binary shuffled", build_kelvora_shuffled(plan)
    plan = binary_plan(max_nodes)
    last = max(i for i, entry in enumerate(plan) if entry[0] == 0)
    accented: Plan = plan.copy()
    accented[last] = (0, "Ré", *plan[last][2:])
    yield "binary with a non-ASCII name", build_kelvora(accented)
    yield "long and escaped names", named_game()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--max-nodes", type=int, default=100_000,
                        help="the larger size of each tree (default 100000)")
    parser.add_argument("--verbose", action="store_true", help="also a digest per tree")
    args = parser.parse_args()
    total = hashlib.sha256()
    for name, game in trees(args.max_nodes):
        one = hashlib.sha256()
        for export, method in EXPORTS.items():
            text = method(game).encode()
            one.update(f"{export} {len(text)}\n".encode())
            one.update(text)
        total.update(one.digest())
        if args.verbose:
            print(f"{one.hexdigest()}  {name}", file=sys.stderr)
    print(total.hexdigest())


if __name__ == "__main__":
    main()
