"""The cost of one Decision(...) call from Python, by the way its arguments are given.

    python bench/building.py [--rounds N] [--number N]

Each round times every form below once (N calls each, the garbage collector off) in turn, so that
a noisy neighbour hits all forms alike; the table gives the median over the rounds of the ns per
call and of the difference to the positional form measured in the same round. The node is made
and freed in each call, as when a tree is built and dropped.

    positional        Decision(p, 'x')
    keyword           Decision(player=p, name='x')
    utility=[1, 2]    Decision(p, 'x', utility=[1, 2])   (the list is built by the call site)
    utility=u         Decision(p, 'x', utility=u)        (u = [1, 2] made once: conversion alone)
    utility=(1, 2)    Decision(p, 'x', utility=(1, 2))   (a constant tuple)
    information_set   Decision(p, 'x', information_set=3)
    all five ...      every parameter given, None for the optional ones, by position or keyword

Below the table: the time of building and dropping the list [1, 2] alone, the interpreter's own
part of the utility=[1, 2] form.

Against a build tree instead of the installed module: PYTHONPATH=/path/to/build.
"""

from __future__ import annotations

import argparse
import gc
import statistics
import timeit

from kelvora import Decision, Player

FORMS = {
    "positional": "Decision(p, 'x')",
    "keyword": "Decision(player=p, name='x')",
    "utility=[1, 2]": "Decision(p, 'x', utility=[1, 2])",
    "utility=u": "Decision(p, 'x', utility=u)",
    "utility=(1, 2)": "Decision(p, 'x', utility=(1, 2))",
    "information_set": "Decision(p, 'x', information_set=3)",
    "all five positional": "Decision(p, 'x', None, None, None)",
    "all five keyword": "Decision(player=p, name='x', utility=None, variable=None, information_set=None)",
}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=301)
    parser.add_argument("--number", type=int, default=20_000)
    args = parser.parse_args()

    scope = {"Decision": Decision, "p": Player("P"), "u": [1, 2]}
    timers = {form: timeit.Timer(stmt, globals=scope) for form, stmt in FORMS.items()}
    timers["[1, 2]"] = timeit.Timer("[1, 2]")
    ns: dict[str, list[float]] = {form: [] for form in timers}
    extra: dict[str, list[float]] = {form: [] for form in timers}
    gc.disable()
    for timer in timers.values():
        timer.timeit(args.number // 10)  # warm up
    for _ in range(args.rounds):
        this_round = {form: timer.timeit(args.number) * 1e9 / args.number for form, timer in timers.items()}
        for form, value in this_round.items():
            ns[form].append(value)
            extra[form].append(value - this_round["positional"])

    print(f"median of {args.rounds} rounds of {args.number} calls")
    print("| form | ns per call | ns more than positional |")
    print("|:--|--:|--:|")
    for form in FORMS:
        print(f"| {form} | {statistics.median(ns[form]):.1f} | {statistics.median(extra[form]):+.1f} |")
    print(f"\nbuilding and dropping [1, 2] alone: {statistics.median(ns['[1, 2]']):.1f} ns")


if __name__ == "__main__":
    main()
