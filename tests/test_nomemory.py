"""Out of memory, the interpreter lives on: every public operation is run with the k-th and
every later allocation of the interpreter failing (CPython's own fault injector,
_testcapi.set_nomemory), for k = 0, 1, 2, ... until the operation meets no failure; then
again with the module's C++ allocations failing in the same count. Each run is a fresh
interpreter. The operation must give its result or raise (MemoryError,
PanicException or its ordinary error), and once allocation is restored the same objects must
still work: the exports give the same text, a node is attached or not, an identifier is
drawn only by a call that succeeded, a file is written whole or not at all.

Run alone, with a count of the outcomes: python tests/test_nomemory.py
"""

import atexit
import collections
import concurrent.futures
import functools
import json
import os
import shutil
import subprocess
import sys
import tempfile

# The objects every operation may use, made before allocation fails; the operations change
# only objects of their own, made in their setup, so `state()` must read the same afterwards.
BASE = """
import re
from kelvora import Decision, Game, Player, Type, Variable
P, A, B = Player("Ann"), Variable("a"), Variable("b")
N = Decision(P, "N", information_set=1).add_nodes(
    Decision(P, "l", utility=[1, 2]), Decision(P, "r", variable=[A, B]))
M = Decision(P, "M", information_set=1).add_node(Decision(P, "m", utility=[3, 4, 5]))
G = Game("G", players=3, gametype=Type.Extensive) + N + M
BAD = Game("bad")  # a root without children cannot be drawn
FILE = os.path.join(TMP, "f.tex")
ORDINARY = ()      # the exception types (or the name of one) that the operation raises with
                   # memory to spare
DRAWS = (0, 0)     # the node and variable ids that the operation draws when it succeeds

def ids():
    # The last node id and variable id drawn (draws two node ids and one variable id).
    text = (Game() + Decision(P, "p", utility=[1, 2])).export_latex()
    return int(re.search(r"child\\{node\\((\\d+)", text)[1]), Variable("p").id

def state():
    return (G.export(), G.export_latex(), str(G), str(N), G.length(), P.name,
            [(v.name, v.id, v.lower, v.higher, v.equal) for v in (A, B)])

def names(node):
    return [c.name for c in node.children]
"""

IMPORT = "import os, kelvora\n" + BASE
PANIC = """
try:
    BAD.export()
except BaseException as exc:
    PANIC = type(exc)
class Index:
    def __index__(self):
        raise PANIC("from python")
"""
DEEP = """
import sys
BLOCKS = sys.getallocatedblocks()
C = Decision(P, "c")
for _ in range(10 ** 5):
    C = Decision(P, "c") + C
W = Decision(P, "W").add_nodes(*[Decision(P, "w") for _ in range(100)], C, Decision(P, "w"))
X = Decision(P, "X").add_node(W)
del C, W
"""
# Two equilibria: a tie below a chance move, a set of player 2's over both of its branches.
SOLVABLE = """
import fractions  # imported beforehand: the import system can hang when allocation fails
S = Game("S", players=2)
nature, one, two = S.player
heads, tails = Decision(nature, "H"), Decision(nature, "T")
heads.probability = tails.probability = "1/2"
for node, x in ((heads, 1), (tails, 3)):
    move = Decision(one, "m", information_set=1).add_nodes(
        Decision(two, "l", utility=[x, 1]), Decision(two, "r", utility=[0, 1]))
    node.add_nodes(move, Decision(one, "stop", utility=[1, 0]))
S = S + heads + tails
"""
WHOLE_OR_NOTHING = ("assert (open(FILE).read() == G.export_latex(scale=1.5)) "
                    "if os.path.exists(FILE) else exc is not None")
# A game file of four nodes, with a chance node and an outcome on an inner node.
EFG = ("from kelvora import load_efg, loads_efg\n"
       "TEXT = 'EFG 2 R \"F\" { \"A\" \"B\" }\\n\"\"\\n\\nc \"\" 1 \"\" { \"x\" 1/3 \"y\" 2/3 } "
       "0\\np \"\" 1 1 \"\" { \"a\" } 1 \"\" { 1, 0.5 }\\nt \"\" 2 \"\" { -1, 2 }\\nt \"\" 1\\n'\n")
ATTACHED = "assert names(X) == (['Y'] if exc is None else {0}), names(X)"

# (name, setup code, operation code, check code). The setup runs after BASE (unless it is None:
# the operation is the module's initialisation, in an interpreter without it); the operation
# sets `result`; the check sees `result` and `exc` (None when the operation succeeded).
OPERATIONS = [
    # The module's initialisation, called as the import system calls it (importing under
    # failing allocation can hang in the import system's own locks, before the module runs).
    # CPython 3.13's import system itself crashes when allocation fails in what it does after
    # the initialisation returned (import_run_extension): from 3.13 the entry is called alone.
    ("import", None, "result = _imp.create_dynamic(spec).Game().title" if sys.version_info < (3, 13)
     else "result = INIT().Game().title",
     "import kelvora; assert kelvora.Game().title == 'Untitled Game' and kelvora.__all__ == "
     "['Game', 'Type', 'Variable', 'Decision', 'Player']; "
     "assert not hasattr(kelvora, 'PanicException')"),
    ("Player()", "", "result = Player('Bob').name", "assert result == 'Bob' or exc"),
    ("Player(5)", "ORDINARY = TypeError", "Player(5)", ""),
    ("Player(a, b)", "ORDINARY = TypeError", "Player('a', 'b')", ""),
    ("Player.name", "", "result = P.name", ""),
    ("Player.name=", "Q = Player('Ann')", "Q.name = 'Bea'",
     "assert Q.name == ('Bea' if exc is None else 'Ann')"),
    ("Player.name=5", "Q = Player('Ann'); ORDINARY = TypeError", "Q.name = 5",
     "assert Q.name == 'Ann'"),
    ("del Player.name", "ORDINARY = AttributeError", "del P.name", ""),
    ("Variable()", "DRAWS = (0, 1)", "result = Variable('v')", ""),
    ("Variable(5)", "ORDINARY = TypeError", "Variable(5)", ""),
    ("Variable(none)", "ORDINARY = TypeError", "Variable()", ""),
    ("Variable attributes", "", "result = (A.name, A.id, A.lower, A.higher, A.equal)", ""),
    ("Variable <", "C, D = Variable('c'), Variable('d')", "result = C < D",
     "assert C.higher == ([D.id] if exc is None else []) and (exc or result.id == D.id)"),
    ("Variable ==", "C, D = Variable('c'), Variable('d')", "result = C == D",
     "assert C.equal == ([D.id] if exc is None else []) and (exc or result.id == D.id)"),
    ("Variable <=", "C, D = Variable('c'), Variable('d')", "result = C <= D",
     "assert (C.lower, C.higher, C.equal) == ([], [], [])"),
    ("Variable < 5", "ORDINARY = TypeError", "A < 5", ""),
    ("Decision()", "DRAWS = (1, 0)",
     "result = Decision(P, 'x', utility=[1, 2, 3], information_set=2)", ""),
    ("Decision(variable)", "DRAWS = (1, 0)", "result = Decision(P, 'x', variable=[A, B])", ""),
    ("Decision(5, x)", "ORDINARY = TypeError", "Decision(5, 'x')", ""),
    ("Decision(utility=str)", "ORDINARY = TypeError", "Decision(P, 'x', utility='31')", ""),
    ("Decision(utility=[1, x])", "ORDINARY = TypeError", "Decision(P, 'x', utility=[1, 'x'])", ""),
    ("Decision(information_set=-1)", "ORDINARY = OverflowError",
     "Decision(P, 'x', information_set=-1)", ""),
    ("Decision(missing)", "ORDINARY = TypeError", "Decision(name='x')", ""),
    ("Decision(PanicException)", PANIC + "ORDINARY = PANIC",
     "Decision(P, 'x', information_set=Index())", ""),
    ("Decision attributes", "",
     "result = (N.player.name, N.name, N.children, N.information_set, str(N))", ""),
    ("Decision.name=", "X = Decision(P, 'X')", "X.name = 'Y'",
     "assert X.name == ('Y' if exc is None else 'X')"),
    ("Decision.probability=", "X = Decision(P, 'X'); X.probability = 0.5",
     "X.probability = '1/3'",
     "assert str(X.probability) == ('1/3' if exc is None else '1/2')"),
    ("Decision.probability=2", "X = Decision(P, 'X'); ORDINARY = ValueError",
     "X.probability = 2", "assert X.probability is None"),
    ("Decision.payoff=mixed", "X = Decision(P, 'X', utility=[1, 2]); ORDINARY = TypeError",
     "X.payoff = [1.5, '-3/2', 2 ** 40, A]", "assert X.payoff == [1, 2]"),
    ("Decision.payoff= exact", "X = Decision(P, 'X', utility=[1, 2])",
     "X.payoff = [1.5, '-3/2', 2 ** 40]",
     "assert list(map(str, X.payoff)) == (['3/2', '-3/2', str(2 ** 40)] if exc is None "
     "else ['1', '2'])"),
    ("Decision.payoff read", "import fractions; X = Decision(P, 'X'); X.payoff = ['0.5', 3]; "
     "X.probability = 1",
     "result = (X.payoff, X.probability, N.payoff, N.children[1].payoff)", ""),
    ("validate", "S = Game('S', players=1); C = Decision(S.player[0], 'c', utility=[1]); "
     "C.probability = 1; S = S + C", "result = S.validate()", "assert result is None"),
    ("validate(broken)", "ORDINARY = ValueError", "G.validate()", ""),
    ("add_node", "X, Y = Decision(P, 'X'), Decision(P, 'Y')", "result = X.add_node(Y)",
     ATTACHED.format("[]")),
    ("Decision +", "X, Y = Decision(P, 'X'), Decision(P, 'Y')", "result = X + Y",
     ATTACHED.format("[]")),
    ("add_nodes", "X, Y = Decision(P, 'X'), Decision(P, 'Y')",
     "result = X.add_nodes(Y, Y, Y)",
     "assert names(X) == ['Y'] * 3 if exc is None else names(X) in [['Y'] * i for i in range(3)]"),
    ("add_node(5)", "X = Decision(P, 'X'); ORDINARY = TypeError", "X.add_node(5)",
     "assert names(X) == []"),
    ("add_nodes(node, 5)", "X, Y = Decision(P, 'X'), Decision(P, 'Y'); ORDINARY = TypeError",
     "X.add_nodes(Y, 5)", "assert names(X) in ([], ['Y'])"),
    ("Game()", "DRAWS = (1, 0)", "result = Game('T', players=3, gametype=Type.Extensive)",
     "assert exc or [p.name for p in result.player] == ['Nature', 'Player 1', 'Player 2', "
     "'Player 3']"),
    ("Game(players=1.5)", "ORDINARY = TypeError", "Game(players=1.5)", ""),
    ("Game attributes", "",
     "result = (G.title, G.player, G.gametype, G.root, G.get_ref(), G.length(), str(G))", ""),
    ("Game +", "H, Y = Game('H'), Decision(P, 'Y'); X = H.root", "result = H + Y",
     ATTACHED.format("[]") + "; assert exc or result.root is X"),
    ("Game + 5", "ORDINARY = TypeError", "G + 5", ""),
    ("export", "", "result = G.export()", "assert exc or result == state()[0]"),
    ("export_latex", "", "result = G.export_latex()", "assert exc or result == state()[1]"),
    ("export_latex(filename)", "", "result = G.export_latex(scale=1.5, filename=FILE)",
     WHOLE_OR_NOTHING),
    ("export_svg", "", "result = G.export_svg()", "assert exc or result == G.export_svg()"),
    ("export_svg(filename)", "", "result = G.export_svg(FILE)",
     "assert (open(FILE).read() == G.export_svg()) if os.path.exists(FILE) else exc is not None"),
    ("_repr_svg_", "", "result = G._repr_svg_()", "assert exc or result == G.export_svg()"),
    ("export_tikz", "", "result = G.export_tikz(width='12cm', highlight=[G.root])",
     "assert exc or result == G.export_tikz(width='12cm')"),
    ("export_tikz(filename)", "", "result = G.export_tikz(FILE)",
     "assert (open(FILE).read() == G.export_tikz()) if os.path.exists(FILE) else exc is not None"),
    ("backward_induction", SOLVABLE, "result = [(e.payoff, e.path, dict(e.choices), repr(e)) "
     "for e in S.backward_induction()]",
     "assert exc or result == [(e.payoff, e.path, dict(e.choices), repr(e)) "
     "for e in S.backward_induction()]"),
    ("backward_induction(unsound)", "ORDINARY = ValueError", "G.backward_induction()", ""),
    ("export(undrawable)", "ORDINARY = 'PanicException'", "BAD.export()", ""),
    ("export_latex(undrawable)", "ORDINARY = 'PanicException'",
     "BAD.export_latex(filename=FILE)", "assert not os.path.exists(FILE)"),
    ("export_latex(no directory)", "ORDINARY = 'PanicException'",
     "G.export_latex(filename=os.path.join(TMP, 'no', 'f.tex'))", ""),
    ("loads_efg", EFG + "DRAWS = (4, 0)", "result = loads_efg(TEXT)",
     "assert exc or result.export_efg() == TEXT"),
    ("loads_efg(malformed)", EFG + "ORDINARY = ValueError", "loads_efg(TEXT[:-3])", ""),
    ("load_efg(path)", EFG + "DRAWS = (4, 0); open(FILE, 'w').write(TEXT)",
     "result = load_efg(FILE)", "assert exc or result.export_efg() == TEXT"),
    ("export_efg", EFG + "L = loads_efg(TEXT)", "result = L.export_efg()",
     "assert exc or result == TEXT"),
    ("export_efg(filename)", EFG + "L = loads_efg(TEXT)", "result = L.export_efg(FILE)",
     "assert (open(FILE).read() == TEXT) if os.path.exists(FILE) else exc is not None"),
    ("export_efg(invalid)", "ORDINARY = ValueError", "G.export_efg()", ""),
    ("Type", "", "result = (Type.Normal == 0, Type.Extensive != Type.Normal, "
     "Type.Normal != 2 ** 70, repr(Type.Extensive), int(Type.Extensive))", ""),
    ("Type()", "ORDINARY = TypeError", "Type()", ""),
    # Dropping a node whose wide child holds a deep chain: nothing is left of the tree once
    # the last reference is gone (the block count drops back; `del` may have failed to run).
    ("release deep", DEEP, "del X",
     "globals().pop('X', None); assert sys.getallocatedblocks() - BLOCKS < 10 ** 4"),
]
# Some again, with PanicException made beforehand and only the k-th allocation failing: a
# result object that cannot be made is then raised as PanicException (when every allocation
# from the k-th on fails, so does making the exception, and MemoryError is raised instead).
ONE_FAILURE = [(name, PANIC + setup, operation, check)
               for name, setup, operation, check in OPERATIONS
               if name in ("Variable <", "Decision attributes", "Game attributes", "Game +")]

WORKER = r"""
FRESH = ("import ctypes, importlib.util, _imp; spec = importlib.util.find_spec('kelvora'); "
         "INIT = ctypes.PyDLL(spec.origin).PyInit_kelvora; INIT.restype = ctypes.py_object")
import json, os, sys, tempfile, _testcapi
setup, operation, check, k, stop = json.loads(sys.argv[1])
TMP = tempfile.mkdtemp()
ns = {"TMP": TMP, "os": os}
exec(BASE + setup if setup is not None else FRESH, ns)
if setup is not None:
    before = ns["state"](), ns["ids"]()
code = compile(operation, "<operation>", "exec")

exc = probe = met = None  # bound now: binding them later must not need memory
try:
    _testcapi.set_nomemory(k, stop)
    try:
        exec(code, ns)
    except BaseException as failure:
        exc = failure
    try:
        probe = object()  # one allocation, which fails when one failed before it
        met = False
    except MemoryError:
        met = True
finally:
    _testcapi.remove_mem_hooks()
ns["exc"] = exc
ns.setdefault("result", None)

if exc is None:
    kind = "result"
elif setup is not None and (type(exc).__name__ == ns["ORDINARY"]
                            if isinstance(ns["ORDINARY"], str) else isinstance(exc, ns["ORDINARY"])):
    kind = "ordinary"
elif type(exc).__name__ == "PanicException":
    kind = "PanicException"
elif isinstance(exc, MemoryError):
    kind = "MemoryError"
else:
    kind = "unexpected " + repr(exc)
if not kind.startswith("unexpected"):
    try:
        exec(check, ns)
        if setup is not None:
            draws = ns["DRAWS"] if exc is None else (0, 0)
            node, variable = before[1]
            assert ns["ids"]() == (node + 2 + draws[0], variable + 1 + draws[1]), "ids"
            assert ns["state"]() == before[0], "state"
    except BaseException as failure:
        kind = "broken " + repr(failure)
import shutil; shutil.rmtree(TMP)
print(json.dumps([kind, met]))
"""

# No operation makes this many allocations: reaching it means the sweep never ends.
MAX_K = 2000
# Under AddressSanitizer a run takes ten times as long: every fourth k only.
STEP = 4 if "asan" in os.environ.get("LD_PRELOAD", "") else 1

# The module's C++ allocations (operator new) fail in step with the interpreter's: preloaded
# into each run, this routes them through PyMem_RawMalloc, which set_nomemory makes fail.
# Not under AddressSanitizer, whose own operator new comes first.
SHIM = r"""
#include <cstddef>
#include <new>
extern "C" void* PyMem_RawMalloc(std::size_t);
extern "C" void PyMem_RawFree(void*);
void* operator new(std::size_t n) {
  if (void* p = PyMem_RawMalloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return PyMem_RawMalloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return PyMem_RawMalloc(n); }
void operator delete(void* p) noexcept { PyMem_RawFree(p); }
void operator delete[](void* p) noexcept { PyMem_RawFree(p); }
void operator delete(void* p, std::size_t) noexcept { PyMem_RawFree(p); }
void operator delete[](void* p, std::size_t) noexcept { PyMem_RawFree(p); }
"""


@functools.cache
def shim():
    """The preload library of SHIM, or None when it cannot be used here."""
    compiler = shutil.which(os.environ.get("CXX", "g++"))
    if compiler is None or os.environ.get("LD_PRELOAD"):
        return None
    import kelvora

    with open(kelvora.__file__, "rb") as module:
        if b"libstdc++.so" not in module.read():
            return None  # a C++ library linked into the module (the wheels) keeps its own new
    directory = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, directory, True)
    source, target = os.path.join(directory, "shim.cpp"), os.path.join(directory, "shim.so")
    with open(source, "w") as f:
        f.write(SHIM)
    subprocess.run([compiler, "-O1", "-shared", "-fPIC", source, "-o", target], check=True)
    return target


def run_once(setup, operation, check, k, stop=0, cpp=False):
    base = IMPORT if setup is not None else ""
    env = dict(os.environ, PYTHONHASHSEED="0")  # the same allocations on every run
    if cpp:
        env["LD_PRELOAD"] = shim()
    try:
        proc = subprocess.run(
            [sys.executable, "-c", f"BASE = {base!r}\n" + WORKER,
             json.dumps([setup, operation, check, k, stop])],
            capture_output=True, text=True, timeout=120, env=env)
    except subprocess.TimeoutExpired:
        return "died (hung)", True
    try:
        kind, met = json.loads(proc.stdout.strip().splitlines()[-1])
    except (IndexError, ValueError):
        return f"died (exit status {proc.returncode}): {proc.stderr[-2000:]}", True
    return kind, met


def sweep(row, mode):
    """The outcome of each k, from 0 until a run meets no allocation failure. Modes: "all"
    (every allocation of the interpreter from the k-th on fails), "c++" (the module's C++
    allocations too), "one" (over the same k, found the same way, only the k-th fails)."""
    name, setup, operation, check = row
    outcomes = {}
    for k in range(0, MAX_K, STEP):
        outcomes[k], met = run_once(setup, operation, check, k, cpp=mode == "c++")
        if not met:
            break
    else:
        outcomes[MAX_K] = "endless: still meeting failures"
    if mode == "one":
        outcomes = {k: run_once(setup, operation, check, k, k + 1)[0] for k in outcomes}
    return f"{name} [{mode}]", outcomes


def sweep_all():
    runs = [(row, "all") for row in OPERATIONS] + [(row, "one") for row in ONE_FAILURE]
    if shim():
        runs += [(row, "c++") for row in OPERATIONS]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        return dict(pool.map(sweep, *zip(*runs)))


# The outcomes allowed: the operation's result, its ordinary error, or one of these two.
ALLOWED = ("result", "ordinary", "MemoryError", "PanicException")


def summary(results):
    counts = collections.Counter(kind.split(" ")[0] for outcomes in results.values()
                                 for kind in outcomes.values())
    return dict(counts)


def failures(results):
    return {name: {k: kind for k, kind in outcomes.items() if kind.split(" ")[0] not in ALLOWED}
            for name, outcomes in results.items()}


def test_every_operation_survives_every_allocation_failure():
    bad = {name: found for name, found in failures(sweep_all()).items() if found}
    assert not bad, json.dumps(bad, indent=1)


if __name__ == "__main__":
    results = sweep_all()
    for name, found in failures(results).items():
        kinds = collections.Counter(kind.split(" ")[0] for kind in results[name].values())
        print(f"{name:42} {len(results[name]):4} runs {dict(kinds)}")
        for k, kind in found.items():
            print(f"    k={k}: {kind[:300]}")
    print(sum(map(len, results.values())), "runs:", summary(results))
