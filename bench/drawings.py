"""kelvora's own drawings against the memory they write: Game.export_svg() and Game.export_tikz().

    python bench/drawings.py times [--nodes N] [--repeat R]   ns/node and the ratio to fresh memory
    python bench/drawings.py call                              a drawing of 2 nodes / game.length()
    python bench/drawings.py scattered [--nodes N]             nodes made in shuffled order / in order
    python bench/drawings.py peak [--nodes N] [--repeat R]     resident-set growth / the str's size
    python bench/drawings.py hash                              SHA-256 over the drawings of many trees
    python bench/drawings.py once METHOD SHAPE N               one call, for callgrind

The trees are bench/compare.py's (binary, chain, wide root, binary with information sets); fresh
memory is writing as many bytes into freshly allocated memory, as compare.py measures it. The hash
covers both directions, both information-set styles and highlighted edges, on random trees with
every kind of payoff and text that needs escaping, so that two builds can be checked to draw the
very same bytes.
"""

from __future__ import annotations

import argparse
import gc
import hashlib
import random
import statistics
import subprocess
import sys
import time
import timeit
from fractions import Fraction

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from compare import (PLAYER, SHAPES, build_kelvora, build_kelvora_shuffled,  # noqa: E402
                     fresh_memory)

from kelvora import Decision, Game, Player, Variable  # noqa: E402

METHODS = {"svg": Game.export_svg, "tikz": Game.export_tikz}


def seconds(call, repeat: int) -> float:
    """The least processor time (user and system: page faults count) of `repeat` calls:
    on a shared machine, steadier than the time on the clock."""
    runs = []
    for _ in range(repeat):
        gc.collect()
        gc.disable()
        start = time.process_time()
        result = call()
        runs.append(time.process_time() - start)
        gc.enable()
        result = None  # noqa: F841
    return min(runs)


def times(nodes: int, repeat: int) -> None:
    print(f"| tree | drawing | ns/node | fresh memory ns/node | ratio | bytes/node |")
    print("|:--|:--|--:|--:|--:|--:|")
    for shape, make_plan in SHAPES.items():
        plan = make_plan(nodes if shape != "wide" else min(nodes, 100_001))
        count = len(plan) + 1
        game = build_kelvora(plan)
        plan = None
        for name, method in METHODS.items():
            size = len(method(game))
            kelvora = seconds(lambda: method(game), repeat)
            floor = seconds(fresh_memory(size), repeat)
            print(f"| {shape} ({count:,}) | {name} | {kelvora / count * 1e9:,.0f} | "
                  f"{floor / count * 1e9:,.1f} | {kelvora / floor:.2f} | {size / count:.0f} |",
                  flush=True)
        game = None


def call(repeat: int) -> None:
    game = Game("small")
    game.root.add_node(Decision(Player(PLAYER), "a", [4, -1]))
    calls = {"length()": game.length, "svg": game.export_svg, "tikz": game.export_tikz}
    ns = {name: [] for name in calls}
    for _ in range(repeat):
        for name, method in calls.items():
            ns[name].append(min(timeit.repeat(method, number=20_000, repeat=3)) / 20_000 * 1e9)
    base = statistics.median(ns["length()"])
    for name in ("svg", "tikz"):
        value = statistics.median(ns[name])
        print(f"2-node {name}: {value:,.0f} ns / length() {base:,.0f} ns = {value / base:.1f}")


def scattered_of(method: str, order: str, nodes: int, repeat: int) -> None:
    plan = SHAPES["binary"](nodes)
    game = build_kelvora_shuffled(plan) if order == "shuffled" else build_kelvora(plan)
    print(seconds(lambda: METHODS[method](game), repeat) / (len(plan) + 1) * 1e9)


def scattered(nodes: int, repeat: int) -> None:
    """Each drawing of a binary tree whose nodes were made in walk order and in a shuffled order,
    each in a fresh interpreter (a tree made where another was freed lies scattered too)."""
    for method in METHODS:
        ns = {}
        for order in ("walk", "shuffled"):
            result = subprocess.run([sys.executable, __file__, "scattered-of", method, order,
                                     "--nodes", str(nodes), "--repeat", str(repeat)],
                                    check=True, capture_output=True, text=True)
            ns[order] = float(result.stdout)
        print(f"{method} binary: in walk order {ns['walk']:,.0f} ns/node, shuffled "
              f"{ns['shuffled']:,.0f} ns/node, ratio {ns['shuffled'] / ns['walk']:.2f}")


def status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field))


def peak_of(method: str, shape: str, nodes: int, calls: int) -> None:
    """The peak of each of `calls` drawings of one tree in turn: a drawing that keeps memory
    for the next one shows it in the second call's peak, not the first's."""
    game = build_kelvora(SHAPES[shape](nodes if shape != "wide" else min(nodes, 100_001)))
    ratios = []
    for _ in range(calls):
        gc.collect()
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")  # the peak starts again from the current resident set
        before = status_kib("VmRSS")
        text = METHODS[method](game)
        grown = (status_kib("VmHWM") - before) * 1024
        ratios.append(grown / sys.getsizeof(text))
        size = sys.getsizeof(text)
        text = None  # noqa: F841
    print(f"peak {method} {shape}: str {size / 2**20:,.1f} MiB, ratio {max(ratios):.2f} "
          f"(calls: {' '.join(f'{r:.2f}' for r in ratios)})")


def peak(nodes: int, calls: int) -> None:
    """Each drawing's peak in a fresh interpreter, as bench/compare.py measures the exports'."""
    for shape in ("binary", "chain", "wide", "infosets"):
        for method in METHODS:
            subprocess.run([sys.executable, __file__, "peak-of", method, shape, "--nodes",
                            str(nodes), "--repeat", str(calls)], check=True)


def random_tree(rng: random.Random, chance: bool) -> tuple[Game, list[Decision]]:
    players = [Player(name) for name in ("Ann", "Bob & <Co>", "Ç\"x\" $\\alpha$", "P_1 {%}")]
    actions = ["L", "R", "Offer 50%", "a--b", "x<y>", "Ré", "$\\beta$", "long action name here",
               "", "\x01ctl", "q''", "#&_~^|"]
    variables = [Variable(name) for name in ("high", "low", "x_1", "€")]
    game = Game(rng.choice(["t", "Title & <x>", ""]), players=2)
    made = [game.root]
    nodes = []
    for _ in range(rng.randrange(2, 60)):
        parent = rng.choice(made)
        kind = rng.random()
        if kind < 0.5:
            node = Decision(rng.choice(players), rng.choice(actions),
                            utility=[rng.randrange(-150, 2000) for _ in range(rng.choice([2, 2, 3]))],
                            information_set=rng.choice([None, None, 1, 2, 3]))
        elif kind < 0.6:
            node = Decision(rng.choice(players), rng.choice(actions),
                            variable=rng.sample(variables, 2))
        elif kind < 0.7:
            node = Decision(rng.choice(players), rng.choice(actions))
            node.payoff = [rng.choice(["1.5", "-2/3", Fraction(7, 3), 0.1, -4, "1e-3"])
                           for _ in range(2)]
        else:
            node = Decision(rng.choice(players), rng.choice(actions),
                            information_set=rng.choice([None, None, 1, 2, 3, 4]))
        parent.add_node(node)
        made.append(node)
        nodes.append(node)
    if rng.random() < 0.2 and len(made) > 3:  # a node under two parents
        made[1].add_node(made[-1])
    if chance:  # Nature's moves: probabilities on some nodes, after a name or alone
        for node in rng.sample(nodes, len(nodes) // 3):
            node.probability = rng.choice(["1/3", 0.25, Fraction(2, 7), 1, "0.5"])
    return game, nodes


def hash_all() -> None:
    """Two digests: of trees without probabilities (comparable with builds that draw no chance
    nodes), and of trees with them."""
    for chance in (False, True):
        digest = hashlib.sha256()
        rng = random.Random(20261208)
        count = 0
        for _ in range(400):
            game, nodes = random_tree(rng, chance)
            highlight = rng.sample(nodes, min(len(nodes), rng.randrange(0, 4)))
            for direction in ("down", "right"):
                for infosets in ("line", "outline"):
                    options = dict(direction=direction, infosets=infosets, highlight=highlight)
                    for text in (game.export_svg(**options), game.export_tikz(**options)):
                        digest.update(text.encode())
                        count += 1
        if not chance:
            for shape, make_plan in SHAPES.items():
                game = build_kelvora(make_plan(3000))
                for direction in ("down", "right"):
                    digest.update(game.export_svg(direction=direction).encode())
                    digest.update(game.export_tikz(direction=direction, height="5cm").encode())
                    count += 2
        print(f"{'with' if chance else 'without'} probabilities, {count} drawings: "
              f"{digest.hexdigest()}")


def once(method: str, shape: str, nodes: int) -> None:
    game = build_kelvora(SHAPES[shape](nodes))
    if method != "none":  # "none": the building alone, to subtract
        METHODS[method](game)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("what", choices=["times", "call", "scattered", "scattered-of", "peak", "peak-of", "hash",
                                           "once"])
    parser.add_argument("args", nargs="*")
    parser.add_argument("--nodes", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()
    if options.what == "times":
        times(options.nodes, options.repeat)
    elif options.what == "call":
        call(options.repeat)
    elif options.what == "scattered":
        scattered(options.nodes, options.repeat)
    elif options.what == "scattered-of":
        scattered_of(options.args[0], options.args[1], options.nodes, options.repeat)
    elif options.what == "peak":
        peak(options.nodes, options.repeat)
    elif options.what == "peak-of":
        peak_of(options.args[0], options.args[1], options.nodes, options.repeat)
    elif options.what == "hash":
        hash_all()
    else:
        once(options.args[0], options.args[1], int(options.args[2]))


if __name__ == "__main__":
    main()
