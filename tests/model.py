"""A small pure-Python model of kelvora for the fuzz tests: how each argument is converted (or
refused, with the exact exception type and text), and both exports as exact text or exact
failure. The model walks trees with explicit stacks, like the module, so any depth is fine."""

import errno
import math
import operator
import os
import re
import struct
from decimal import Decimal

from hypothesis import HealthCheck, Phase, settings

import kelvora

# Deterministic and bounded: the fuzz tests also run under the sanitizers, several times slower.
# KELVORA_FUZZ_QUICK=1 reports a failure as found, without shrinking it.
settings.register_profile(
    "kelvora-fuzz", deadline=None, derandomize=True, database=None, max_examples=300,
    stateful_step_count=50, suppress_health_check=list(HealthCheck),
    phases=[Phase.generate] if os.environ.get("KELVORA_FUZZ_QUICK") else list(Phase))
FUZZ = settings.get_profile("kelvora-fuzz")


def _panic_type():
    try:
        kelvora.Game().export()  # a root without children: an internal fault
    except BaseException as exc:  # noqa: B036 - PanicException derives from BaseException
        return type(exc)
    raise AssertionError("an empty game exported")


PANIC = _panic_type()


class Refused(Exception):
    """What the module is expected to raise: `kind` with the text `text`."""

    def __init__(self, kind, text):
        super().__init__(kind, text)
        self.kind, self.text = kind, text

    def prefixed(self, param):
        if self.kind is not TypeError:
            return self
        return Refused(TypeError, f"argument '{param}': {self.text}")


def refuse(kind, text_):
    raise Refused(kind, text_)


def outcome(call):
    """("ok", result) or the type and text of what `call()` raises."""
    try:
        return "ok", call()
    except BaseException as exc:  # noqa: B036
        return type(exc), str(exc)


def predicted(model):
    """("ok", result) or the type and text of the refusal that `model()` predicts."""
    try:
        return "ok", model()
    except Refused as refused:
        return refused.kind, refused.text


def interpreter(call, *args):
    """The interpreter's own answer, its exception as a refusal."""
    try:
        return call(*args)
    except BaseException as exc:  # noqa: B036
        raise Refused(type(exc), str(exc)) from None


# --- conversions ---

def mismatch(value, target):
    name = type(value).__qualname__
    return Refused(TypeError, f"'{name}' object cannot be converted to '{target}'")


def text(value):
    if not isinstance(value, str):
        raise mismatch(value, "PyString")
    interpreter(str.encode, value)  # lone surrogates
    return str(value)


def index(value):
    return interpreter(operator.index, value)


def i32(value):
    n = index(value)
    if n > 2**31 - 1:
        raise Refused(OverflowError, "Python int too large to convert to a signed 32-bit integer")
    if n < -2**31:
        raise Refused(OverflowError, "Python int too small to convert to a signed 32-bit integer")
    return n


def i64(value):
    n = index(value)
    if not -2**63 <= n < 2**63:
        raise Refused(OverflowError, "Python int too large to convert to C long")
    return n


def u64(value):
    n = index(value)
    if n < 0:
        raise Refused(OverflowError, "can't convert negative int to unsigned")
    if n >= 2**64:
        raise Refused(OverflowError, "int too big to convert")
    return n


FLOAT_MAX = float.fromhex("0x1.fffffep127")
OVERFLOW_EDGE = float.fromhex("0x1.ffffffp127")


def narrow(d):
    """The single-precision value nearest to the double `d` (beyond the range: infinity)."""
    if math.isnan(d):
        return d
    if abs(d) >= OVERFLOW_EDGE:
        return math.copysign(math.inf, d)
    if abs(d) > FLOAT_MAX:
        return math.copysign(FLOAT_MAX, d)
    return struct.unpack("f", struct.pack("f", d))[0]


def f32(value):
    # math.ldexp converts its first argument exactly as the module does (PyFloat_AsDouble).
    return narrow(value if type(value) is float else interpreter(math.ldexp, value, 0))


def scale_text(f):
    """The shortest decimal form that reads back as the single-precision `f`, no exponent."""
    if math.isnan(f):
        return "NaN"
    if math.isinf(f):
        return "-inf" if f < 0 else "inf"
    magnitude, best = abs(f), Decimal(0)
    for places in range(9 if magnitude else 0):
        base = Decimal(f"{magnitude:.{places}e}")
        unit = Decimal(1).scaleb(base.adjusted() - places)
        fits = [c for c in (base, base - unit, base + unit) if narrow(float(c)) == magnitude]
        if fits:
            best = min(fits, key=lambda c: abs(c - Decimal(magnitude)))
            break
    sign = "-" if math.copysign(1, f) < 0 else ""
    digits = "".join(map(str, best.as_tuple().digits)).rstrip("0") or "0"
    exponent = best.adjusted()
    if exponent < 0:
        return sign + "0." + "0" * (-exponent - 1) + digits
    if len(digits) <= exponent + 1:
        return sign + digits + "0" * (exponent + 1 - len(digits))
    return sign + digits[:exponent + 1] + "." + digits[exponent + 1:]


def is_sequence(value):
    """PySequence_Check: an item slot, and not a dict."""
    return hasattr(type(value), "__getitem__") and not isinstance(value, dict)


def length_hint(value):
    """The length is only a hint and its failure is dropped, but a PanicException raised by
    `__len__` is resumed like any other."""
    try:
        len(value)
    except PANIC as exc:
        raise Refused(PANIC, str(exc)) from None
    except BaseException:  # noqa: B036
        pass


def listed(value, item):
    if isinstance(value, str):
        raise Refused(TypeError, "Can't extract `str` to `Vec`")
    if not is_sequence(value):
        raise mismatch(value, "Sequence")
    length_hint(value)
    it = interpreter(iter, value)
    out = []
    while True:
        try:
            nxt = next(it)
        except StopIteration:
            return out
        except BaseException as exc:  # noqa: B036
            raise Refused(type(exc), str(exc)) from None
        out.append(item(nxt))


def gametype(value):
    if type(value) is not kelvora.Type:
        raise mismatch(value, "Type")
    return int(value)


def argument(param, convert, value, optional=True):
    """A converted argument, None for an optional one that is absent or None."""
    if optional and value is None:
        return None
    try:
        return convert(value)
    except Refused as refused:
        raise refused.prefixed(param) from None


def instance(kind, read):
    """A module object taken by value: its exact class, then what `read` takes from it."""
    def convert(value):
        if type(value) is not kind:
            raise mismatch(value, kind.__name__)
        return read(value)
    return convert


def decision(args, node_id, player, variable):
    """The node that Decision(*args) makes; `player` and `variable` read the objects given."""
    p, name, utility, variables, information_set = args
    p = argument("player", instance(kelvora.Player, player), p, optional=False)
    name = argument("name", text, name, optional=False)
    numbers = argument("utility", lambda v: listed(v, i32), utility)
    copies = argument("variable", lambda v: listed(v, instance(kelvora.Variable, variable)),
                      variables)
    k = argument("information_set", u64, information_set)
    return Node(p, name, node_id, payoff_of(numbers, copies), k)


OPS = {"<": operator.lt, "<=": operator.le, "==": operator.eq, "!=": operator.ne,
       ">": operator.gt, ">=": operator.ge}
REFLECTED = {"<": "__gt__", "<=": "__ge__", "==": "__eq__", "!=": "__ne__", ">": "__lt__",
             ">=": "__le__"}


def compared(left, right, op):
    """What `left OP right` gives once `left` declines: the reflected operation of `right`,
    then identity for == and !=, else the interpreter's TypeError."""
    answer = interpreter(getattr(type(right), REFLECTED[op]), right, left)
    if answer is not NotImplemented:
        return answer
    if op in ("==", "!="):
        return (left is right) == (op == "==")
    raise Refused(TypeError, f"'{op}' not supported between instances of "
                             f"'{type(left).__name__}' and '{type(right).__name__}'")


# --- the model of the objects ---

class Var:
    __slots__ = ("name", "id", "lower", "higher", "equal")

    def __init__(self, name, id_, lower=(), higher=(), equal=()):
        self.name, self.id = name, id_
        self.lower, self.higher, self.equal = list(lower), list(higher), list(equal)

    def copy(self):
        return Var(self.name, self.id, self.lower, self.higher, self.equal)

    def state(self):
        return self.name, self.id, self.lower, self.higher, self.equal


class Node:
    """payoff: None, ("numeric", [ints]) or ("symbolic", [names])."""
    __slots__ = ("player", "name", "payoff", "information_set", "children", "node_id")

    def __init__(self, player, name, node_id, payoff=None, information_set=None):
        self.player, self.name, self.node_id = player, name, node_id
        self.payoff, self.information_set, self.children = payoff, information_set, []

    def __str__(self):
        return f"(player: {self.player} action: {self.name})"


class GameModel:
    __slots__ = ("title", "players", "gametype", "root")

    def __init__(self, title, players, gametype, root):
        self.title, self.players, self.gametype, self.root = title, players, gametype, root

    def copy(self):
        return GameModel(self.title, list(self.players), self.gametype, self.root)

    def __str__(self):
        kids = "".join(map(str, self.root.children))
        return f"title: {self.title} root: {self.root.name} children: {kids}"


def player_names(count):
    return ["Nature"] + [f"Player {i}" for i in range(1, count + 1)]


# What a player takes in the module's bound (bytes_per_player, tree/game.hpp): the record, one
# 16-byte Text, plus 32 bytes of room for a long name. test_game checks it against the code.
BYTES_PER_PLAYER = 16 + 32
PLAYER_LIMIT = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // BYTES_PER_PLAYER


def players_list(count):
    if count > PLAYER_LIMIT:
        raise Refused(MemoryError, f"cannot make a game of {count} players: their list would "
                                   "not fit in this machine's memory")
    return player_names(count)


def payoff_of(numbers, variables):
    if numbers is not None:
        return "numeric", numbers
    if variables is not None:
        return "symbolic", [v.name for v in variables]
    return None


# --- the exports ---

def bounds(length, index_):
    return Refused(PANIC, f"index out of bounds: the len is {length} but the index is {index_}")


def cycle(node):
    return Refused(ValueError, f"the game tree contains a cycle: node {node.node_id} "
                               f"('{node.name}') is among its own descendants")


def first_child_player(node):
    if not node.children:
        raise bounds(0, 0)
    return node.children[0].player


def pair(payoff):
    entries = payoff[1]
    if len(entries) < 2:
        raise bounds(len(entries), len(entries))
    return f"({entries[0]}, {entries[1]})"


def escape(label):
    return label.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\l")


def render_dot(root):
    if not root.children:
        raise bounds(0, 0)
    nodes, edges, path, on_path = [], [], [], set()

    def enter(node):
        if id(node) in on_path:
            raise cycle(node)
        path.append([node, len(nodes), 0])
        on_path.add(id(node))
        drawn = node.payoff and (node.payoff[0] == "numeric" or not node.children)
        label = "label=below:{$" + pair(node.payoff) + "$}" if drawn else \
            first_child_player(node)
        nodes.append(f'    {len(nodes)} [ label = "{escape(label)}" ]\n')

    enter(root)
    while path:
        frame = path[-1]
        node, number, i = frame
        if i < len(node.children):
            frame[2] += 1
            enter(node.children[i])
            continue
        path.pop()
        on_path.discard(id(node))
        if path:
            edges.append(f'    {path[-1][1]} -> {number} [ label = "{escape(node.name)}" ]\n')
    return "digraph {\n" + "".join(nodes) + "".join(edges) + "}\n"


HEAD = ("%%       Generated by kelvora       %%\n% remember to include \\usepackage{tikz}\n"
        "% and \\usetikzlibrary{calc}\n\\begin{figure}[h]\n\\begin{tikzpicture}[scale=")
STYLES = ("\n\n% Style for nodes\n\\tikzstyle{solid}=[circle,draw,inner sep=1.2,fill=black]\n"
          "\\tikzstyle{hollow}=[circle,draw,inner sep=1.2]\n% Spacing for every level of the tree\n"
          "\\tikzstyle{level 1}=[level distance=10mm,sibling distance=35mm]\n"
          "\\tikzstyle{level 2}=[level distance=15mm,sibling distance=15mm]")
END = "\n\\end{tikzpicture}\n\\end{figure}"


def render_latex(root, scale):
    out = [HEAD, scale_text(scale), "]", STYLES, "\n% The Tree\n\\node(0)[solid,label=above:{",
           first_child_player(root), "}]{}"]
    sets = {}

    def enter(node, right):
        text_ = f"child{{node({node.node_id}"
        if node.payoff:
            text_ += ")[hollow, label=below:{$" + pair(node.payoff) + "$}"
        else:
            text_ += ")[solid, label=above right:{" if right else ")[solid, label=above left:{"
            if node.information_set is None:
                text_ += first_child_player(node)
            text_ += "}"
        if node.information_set is not None:
            key = (first_child_player(node), node.information_set)
            sets.setdefault(key, []).append(node.node_id)
        return text_ + "]{}\n    "

    enter(root, False)
    path, on_path = [[root, 0, False]], {id(root)}
    while path:
        frame = path[-1]
        node, i, right = frame
        if i < len(node.children):
            frame[1] += 1
            child = node.children[i]
            if id(child) in on_path:
                raise cycle(child)
            path.append([child, 0, i > 0])
            on_path.add(id(child))
            out.append(enter(child, i > 0))
            continue
        path.pop()
        on_path.discard(id(node))
        if path:
            out.append("edge from parent node[" + ("right" if right else "left") + "]{$" +
                       node.name + "$}}")
    out.append(";")
    for members in sets.values():
        if len(members) < 2:
            raise bounds(len(members), 1)
    if sets:
        out.append("% information set\n")
        for (player, _), (a, b, *_) in sets.items():
            out.append(f"\\draw[dashed,rounded corners=10]($({a}) + (-.1,.125)$)rectangle("
                       f"$({b}) +(.1,-.125)$);\n\\node at ($({a})!.5!({b})$) {{{player}}};")
    out.append(END)
    return "".join(out)


BOX = "\\draw[dashed,rounded corners=10]"


def canonical_latex(text_):
    """The figure with its information-set boxes sorted: their order is not promised."""
    head, sep, boxes = text_.partition("% information set\n")
    if not sep:
        return text_
    body = boxes[:-len(END)] if boxes.endswith(END) else boxes
    entries = sorted(BOX + entry for entry in body.split(BOX)[1:])
    return head + sep + "".join(entries) + boxes[len(body):]


IO_KINDS = {errno.ENOENT: "NotFound", errno.EISDIR: "IsADirectory",
            errno.ENOTDIR: "NotADirectory"}


def io_failure(path):
    """The fault of writing to a path that cannot be written (opening it changes nothing)."""
    if "\0" in path:
        return Refused(PANIC, 'Error: Error { kind: InvalidInput, message: "file name '
                              'contained an unexpected NUL byte" }')
    try:
        os.close(os.open(path, os.O_WRONLY))
    except OSError as exc:
        return Refused(PANIC, f"Error: Os {{ code: {exc.errno}, kind: {IO_KINDS[exc.errno]}, "
                              f'message: "{os.strerror(exc.errno)}" }}')
    raise AssertionError(f"{path!r} can be written")


def next_node_number():
    """The number that the next node will take: learnt from the figure of a one-leaf game,
    whose leaf is the last node made."""
    game = kelvora.Game()
    game += kelvora.Decision(kelvora.Player(), "probe", utility=[0, 0])
    return int(re.search(r"child\{node\((\d+)\)", game.export_latex()).group(1)) + 1


def next_variable_id():
    return kelvora.Variable("probe").id + 1
