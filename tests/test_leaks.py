"""Repeating any operation, successful or refused, keeps nothing alive: no instances of the
module's classes, no Python objects, no native memory."""

import os
import random
import sys

import pytest

from kelvora import Decision, Equilibrium, Game, Player, Type, Variable

CLASSES = (Game, Type, Variable, Decision, Player, Equilibrium)
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")
# Under AddressSanitizer, freed memory sits in quarantine (resident memory tells nothing) and
# the interpreter's allocator is off (no block count): only instances are counted, and fewer
# rounds do, as LeakSanitizer checks the native memory.
ROUNDS = 100 if UNDER_ASAN else 2000

# Payloads big enough that a copy kept per call shows in resident memory.
BIG = "x" * 10_000
MANY = list(range(2_000))
P = Player(BIG)
A, B = Variable(BIG), Variable("b")
NODE = Decision(P, BIG, information_set=3).add_nodes(Decision(P, "a", utility=MANY),
                                                      Decision(P, "b", variable=[A, B]))
TWIN = Decision(P, "twin", information_set=3).add_node(Decision(P, "c", utility=[1, 2]))
GAME = Game(BIG, players=100, gametype=Type.Extensive) + NODE + TWIN
LOOP = Decision(P, "loop")
LOOP.add_node(LOOP)  # never freed, by design; made once, refused by every export
LOOPED = Game() + LOOP
ONE, TWO = Player("Player 1"), Player("Player 2")
# Ties at every node of player 2's (four equilibria), one set of player 2's at the top.
SOLVABLE = Game(BIG) + Decision(ONE, BIG).add_nodes(
    Decision(TWO, "x", utility=[1, 1]), Decision(TWO, "y", utility=[2, 1])) + Decision(
    ONE, "b").add_nodes(Decision(TWO, "x", utility=[0, 3]), Decision(TWO, "y", utility=[5, 3]))
HIGH, LOW = Variable(BIG), Variable("low")
LOW < HIGH
SYMBOLIC = Game() + Decision(ONE, "a", variable=[LOW, HIGH]) + Decision(ONE, "b", variable=[HIGH, LOW])
UNDECIDED = Game() + Decision(ONE, "a", variable=[A, B]) + Decision(ONE, "b", variable=[B, A])


def refused(call):
    def run():
        try:
            call()
        except BaseException:  # PanicException derives from BaseException
            return
        raise AssertionError("not refused")

    return run


def leaf():
    return Decision(P, BIG, utility=[1, 2])


OPERATIONS = {
    "Player": lambda: Player(BIG),
    "Player.name": lambda: P.name,
    "Player.name=": lambda: setattr(Player(), "name", BIG),
    "Player(5)": refused(lambda: Player(5)),
    "Player(surplus)": refused(lambda: Player(BIG, BIG)),
    "Player(unknown=)": refused(lambda: Player(nom=BIG)),
    "del Player.name": refused(lambda: delattr(P, "name")),
    "Player.name=5": refused(lambda: setattr(P, "name", 5)),
    "Variable": lambda: Variable(BIG),
    "Variable attributes": lambda: (A.name, A.id, A.lower, A.higher, A.equal),
    "Variable comparisons": lambda: [op(Variable(BIG), B) for op in (
        Variable.__lt__, Variable.__le__, Variable.__eq__, Variable.__ne__, Variable.__gt__,
        Variable.__ge__)],
    "Variable == 5": lambda: A == 5,
    "Variable < 5": refused(lambda: A < 5),
    "Variable()": refused(lambda: Variable()),
    "Decision": lambda: Decision(P, BIG, utility=MANY, variable=[A, B], information_set=2),
    "Decision symbolic": lambda: Decision(P, BIG, variable=[A, B] * 5),
    "Decision attributes": lambda: (NODE.player, NODE.name, NODE.children, NODE.information_set),
    "Decision.name=": lambda: setattr(leaf(), "name", BIG),
    "str(Decision)": lambda: str(NODE),
    "Decision(bad utility)": refused(lambda: Decision(P, "x", utility=MANY + ["x"])),
    "Decision(bad variable)": refused(lambda: Decision(P, "x", variable=[A] * 9 + [5])),
    "Decision(utility=str)": refused(lambda: Decision(P, "x", utility=BIG)),
    "Decision(information_set=-1)": refused(
        lambda: Decision(P, BIG, utility=MANY, information_set=-1)),
    "Decision(player=str)": refused(lambda: Decision(BIG, BIG)),
    "Decision()": refused(lambda: Decision(P)),
    "add_node": lambda: leaf().add_node(leaf()),
    "add_nodes": lambda: leaf().add_nodes(leaf(), leaf(), leaf()),
    "Decision +": lambda: leaf() + leaf() + leaf(),
    "add_node(5)": refused(lambda: leaf().add_node(5)),
    "add_nodes(node, 5)": refused(lambda: leaf().add_nodes(leaf(), 5, leaf())),
    "Decision + 5": refused(lambda: leaf() + 5),
    "Game": lambda: Game(BIG, players=100, gametype=Type.Normal),
    "Game attributes": lambda: (GAME.title, GAME.player, GAME.gametype, GAME.root),
    "Game +": lambda: Game(BIG) + leaf(),
    "Game + 5": refused(lambda: GAME + 5),
    "Game(bad)": refused(lambda: Game(BIG, players=1.5)),
    "str(Game)": lambda: str(GAME),
    "length, get_ref": lambda: (GAME.length(), GAME.get_ref()),
    "Type": lambda: (Type.Normal == 0, int(Type.Extensive), repr(Type.Normal)),
    "Type()": refused(Type),
    "export": GAME.export,
    "export_latex": lambda: GAME.export_latex(scale=3),
    "export_latex(filename)": lambda: GAME.export_latex(filename=os.devnull),
    "export(unfinished)": refused(lambda: (Game() + Decision(P, BIG)).export()),
    "export_latex(unfinished)": refused(lambda: (Game() + Decision(P, BIG)).export_latex()),
    "export(cycle)": refused(LOOPED.export),
    "export_latex(cycle)": refused(LOOPED.export_latex),
    "export_latex(bad file)": refused(lambda: GAME.export_latex(filename="/nonexistent/f.tex")),
    "export_latex(/dev/full)": refused(lambda: GAME.export_latex(filename="/dev/full")),
    "export_latex(bad scale)": refused(lambda: GAME.export_latex(scale=BIG)),
    "backward_induction": lambda: [repr(e) for e in SOLVABLE.backward_induction()],
    "backward_induction(symbolic)": lambda: SYMBOLIC.backward_induction()[0].payoff,
    "export_svg(highlight=equilibrium)": lambda: SOLVABLE.export_svg(
        highlight=SOLVABLE.backward_induction()[0]),
    "backward_induction(unsound)": refused(GAME.backward_induction),
    "backward_induction(undecided)": refused(UNDECIDED.backward_induction),
    "backward_induction(limit=0)": refused(lambda: SOLVABLE.backward_induction(0)),
}


def footprint():
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return [sys.getrefcount(cls) for cls in CLASSES], sys.getallocatedblocks(), resident


@pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())
def test_repeating_an_operation_keeps_nothing(operation, capfd):
    for _ in range(ROUNDS // 10):  # caches, free lists and the allocator's pools fill up
        operation()
    instances, blocks, resident = footprint()
    for _ in range(ROUNDS):
        operation()
    now_instances, now_blocks, now_resident = footprint()
    assert now_instances == instances
    assert now_blocks - blocks < 100
    if not UNDER_ASAN:
        assert now_resident - resident < 1 << 20
    capfd.readouterr()  # internal faults are reported on stderr as they happen


def test_nodes_made_and_dropped_in_any_order_stay_whole_and_give_their_memory_back():
    # Over many blocks of node memory: nodes dropped at random while others are made keep
    # their own records, and once all are gone their memory goes back to the system.
    rng = random.Random(7)
    resident = footprint()[2]
    nodes = [Decision(ONE, str(i), utility=[i, -i]) for i in range(200_000)]
    for i in rng.sample(range(len(nodes)), 150_000):
        nodes[i] = None
    for i in range(len(nodes)):
        nodes[i] = nodes[i] or Decision(ONE, str(i), utility=[i, -i])
    assert all(node.name == str(i) and node.payoff == [i, -i] for i, node in enumerate(nodes))
    nodes = None
    if not UNDER_ASAN:
        assert footprint()[2] - resident < 8 << 20
