"""Threads: numbers drawn at once from several threads are unique and leave no gaps, and nodes
shared between threads stay whole."""

import re

THREADS = """
import re, sys, threading, time
from kelvora import Decision, Game, Player, Variable

sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter can
THREADS, EACH = 8, 400
game = Game()  # its root is node 0
start = threading.Barrier(THREADS + 1)
made = [None] * THREADS

def work(t):
    player, ids = Player(f"t{t}"), []
    start.wait()
    for i in range(EACH):
        ids.append(Variable("v").id)
        game.root.add_node(Decision(player, "a", utility=[t, i]))  # one parent for all threads
        time.sleep(0)  # gives up the interpreter lock, so that the threads surely interleave
    made[t] = ids

def read():
    start.wait()
    while any(m is None for m in made):
        game.export(), game.export_latex(), str(game), game.root.children

threads = [threading.Thread(target=work, args=(t,)) for t in range(THREADS)]
threads.append(threading.Thread(target=read))
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(made)
print(game.export_latex())
"""


def test_threads_draw_unique_numbers_without_gaps(fresh):
    out = fresh(THREADS)
    made, figure = out.split("\n", 1)
    made = eval(made)
    threads, each = len(made), len(made[0])
    # Variables: ids 0 to n-1, each drawn once, increasing within a thread.
    assert sorted(sum(made, [])) == list(range(threads * each))
    assert all(ids == sorted(ids) for ids in made)
    assert any(b != a + 1 for ids in made for a, b in zip(ids, ids[1:]))  # they did interleave
    # Nodes: the figure names each leaf by its number, beside its payoff (thread, index); the
    # game's root took 0. Every append from every thread is there.
    leaves = [tuple(map(int, m)) for m in re.findall(
        r"child\{node\((\d+)\)\[hollow, label=below:\{\$\((\d+), (\d+)\)\$\}", figure)]
    assert sorted(number for number, _, _ in leaves) == list(range(1, threads * each + 1))
    for t in range(threads):
        mine = [(i, number) for number, thread, i in leaves if thread == t]
        assert [i for i, _ in mine] == list(range(each))  # appended in order
        assert [n for _, n in mine] == sorted(n for _, n in mine)
