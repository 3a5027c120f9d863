"""Every parameter of every callable against hostile values: each call ends in exactly the
result or the exception that the model predicts, draws no node or variable number when
refused, keeps no reference to the value, and leaves its objects working as before."""

import sys
from fractions import Fraction

import pytest

import model as m
from kelvora import Decision, Game, Player, Type, Variable
from model import argument, outcome, predicted

from test_decision import hostile_values

P = Player("P")
WZ = [Variable("w"), Variable("z")]


BUSY = {}


def busy(answer):
    """Runs module code from inside a conversion (drawing no numbers), then answers."""
    if not BUSY:
        BUSY.update(game=Game() + leaf(), node=Decision(P, "busy"), var=Variable("busy"))
    game, node, var = BUSY["game"], BUSY["node"], BUSY["var"]
    game.export(), game.export_latex(), str(game.get_ref())
    node.name += "!"
    node.add_node(game.root)
    var < WZ[0]  # noqa: B015 - records an id
    return answer


def odd(**methods):
    """An object whose protocol methods are the given ones."""
    return type("Odd", (), methods)()


def panicking(*_):
    raise m.PANIC("from python")


def raising(*_):
    raise ValueError("hostile")


def listish(method, behaviour):
    """A list of 1 and 2 whose __len__ or __iter__ misbehaves."""
    return type("Listish", (list,), {method: behaviour})([1, 2])


def values():
    """Fresh hostile values: the shared ones, plus protocol methods that raise, answer the
    wrong type, raise the module's own PanicException or call the module themselves, and
    objects of every module class."""
    busy(None)  # makes its objects before any number is counted
    extra = [odd(__index__=raising), odd(__index__=lambda s: "7"), odd(__index__=panicking),
             odd(__index__=lambda s: 3),
             odd(__float__=raising), odd(__float__=lambda s: "x"), odd(__float__=panicking),
             odd(__float__=lambda s: 0.75),
             listish("__len__", raising), listish("__len__", lambda s: "2"),
             listish("__len__", panicking), listish("__iter__", raising),
             listish("__iter__", lambda s: 5), listish("__iter__", panicking),
             listish("__iter__", lambda s: iter(WZ)),
             odd(__index__=lambda s: busy(1)), odd(__float__=lambda s: busy(0.5)),
             listish("__len__", lambda s: busy(2)), listish("__iter__", lambda s: busy(iter([3]))),
             Decision(P, "other"), Type.Extensive, [Variable("a"), Variable("b")],
             (1, 2), range(3), b"\x01\x02", "name", 2**64 - 1, 2**63, -2**31, 1e39, 1 / 3,
             Fraction(1, 3), 1j, 2.0**1000, Type.Normal, Game, Game()]
    return hostile_values() + extra


def leaf():
    return Decision(P, "leaf", utility=[1, 2])


def dot_of(node):
    """What the DOT export of a game holding just `node` gives."""
    game = Game()
    game += node
    return outcome(game.export)


def node_summary(node, model_):
    if model_ is not None:
        root = m.Node("player", "root", 0)
        root.children.append(model_)
        return str(model_), model_.information_set, model_.player, predicted(
            lambda: m.render_dot(root))
    return str(node), node.information_set, node.player.name, dot_of(node)


def decision_model(player, name, utility=None, variable=None, information_set=None):
    return m.decision([player, name, utility, variable, information_set], 0,
                      lambda p: p.name, lambda v: m.Var(v.name, v.id))


def latex_file(value, o):
    """export_latex(1, filename): the figure, or None and the figure in the file."""
    name = argument("filename", m.text, value)
    text = m.render_latex(o["model"], 1.0)
    if name is None:
        return text, None
    if name in ("", "a\0b"):
        raise m.io_failure(name)
    return None, text


def read_back(result, name):
    if result is not None:
        return result, None
    with open(name, encoding="utf-8") as f:
        return None, f.read()


def type_compared(member, value, op):
    if op in ("==", "!="):
        try:
            return (m.i64(value) == int(member)) == (op == "==")
        except m.Refused as refused:
            if refused.kind is m.PANIC:
                raise
        if type(value) is Type:
            return (int(value) == int(member)) == (op == "==")
    return m.compared(member, value, op)


def variable_compared(var, value, op):
    if type(value) is Variable:
        return "copy", value.name, value.id
    return m.compared(var, value, op)


# Each case: a call with the hostile value, and the model of what it gives. The objects
# that it works on come from `objects()`.
CASES = {
    "Player(name)": (lambda v, o: Player(v).name,
                     lambda v, o: "player" if v is None else argument("name", m.text, v)),
    "Player.name =": (lambda v, o: (setattr(o["player"], "name", v), o["player"].name)[1],
                      lambda v, o: m.text(v)),
    "Variable(name)": (lambda v, o: Variable(name=v).name,
                       lambda v, o: argument("name", m.text, v, optional=False)),
    "Decision(player)": (lambda v, o: node_summary(Decision(v, "n"), None),
                         lambda v, o: node_summary(None, decision_model(v, "n"))),
    "Decision(name)": (lambda v, o: node_summary(Decision(P, v), None),
                       lambda v, o: node_summary(None, decision_model(P, v))),
    "Decision(utility)": (lambda v, o: node_summary(Decision(P, "n", utility=v), None),
                          lambda v, o: node_summary(None, decision_model(P, "n", utility=v))),
    "Decision(variable)": (lambda v, o: node_summary(Decision(P, "n", variable=v), None),
                           lambda v, o: node_summary(None, decision_model(P, "n", variable=v))),
    "Decision(information_set)": (
        lambda v, o: node_summary(Decision(P, "n", None, None, v), None),
        lambda v, o: node_summary(None, decision_model(P, "n", information_set=v))),
    "Decision.name =": (lambda v, o: (setattr(o["node"], "name", v), o["node"].name)[1],
                        lambda v, o: m.text(v)),
    "Decision.add_node": (lambda v, o: o["node"].add_node(v) is o["node"],
                          lambda v, o: type(v) is Decision or m.refuse(
                              TypeError, m.mismatch(v, "Decision").prefixed("other").text)),
    "Decision.add_nodes": (lambda v, o: o["node"].add_nodes(o["leaf"], v) is o["node"],
                           lambda v, o: type(v) is Decision or m.refuse(
                               TypeError, m.mismatch(v, "Decision").text)),
    "Decision +": (lambda v, o: o["node"] + v is o["node"],
                   lambda v, o: type(v) is Decision or m.refuse(
                       TypeError, "unsupported operand type(s) for +: 'Decision' and "
                                  f"'{type(v).__name__}'")),
    "Game(title)": (lambda v, o: str(Game(title=v)),
                    lambda v, o: "title: {} root: root children: ".format(
                        argument("title", m.text, v) if v is not None else "Untitled Game")),
    "Game(players)": (lambda v, o: [p.name for p in Game(players=v).player],
                      lambda v, o: m.players_list(2 if v is None else argument(
                          "players", m.u64, v))),
    "Game(gametype)": (lambda v, o: int(Game(gametype=v).gametype),
                       lambda v, o: 0 if v is None else argument("gametype", m.gametype, v)),
    "Game +": (lambda v, o: (o["spare"] + v).length(),
               lambda v, o: 2 if type(v) is Decision else m.refuse(
                   TypeError, f"unsupported operand type(s) for +: 'Game' and "
                              f"'{type(v).__name__}'")),
    "Game.export_latex(scale)": (
        lambda v, o: o["game"].export_latex(scale=v),
        lambda v, o: m.render_latex(o["model"], 2.5 if v is None else argument("scale", m.f32, v))),
    "Game.export_latex(filename)": (lambda v, o: read_back(o["game"].export_latex(1, v), v),
                                    latex_file),
    "Game.export(...)": (lambda v, o: o["game"].export(v),
                         lambda v, o: m.refuse(TypeError, "Game.export() takes no arguments "
                                                          "(1 given)")),
    "Game.length(k=...)": (lambda v, o: o["game"].length(k=v),
                           lambda v, o: m.refuse(TypeError, "Game.length() takes no keyword "
                                                            "arguments")),
    "Type ==": (lambda v, o: Type.Normal == v, lambda v, o: type_compared(Type.Normal, v, "==")),
    "Type !=": (lambda v, o: Type.Extensive != v,
                lambda v, o: type_compared(Type.Extensive, v, "!=")),
    "Type <": (lambda v, o: Type.Normal < v, lambda v, o: type_compared(Type.Normal, v, "<")),
    "Variable ==": (lambda v, o: summary(o["var"] == v),
                    lambda v, o: variable_compared(o["var"], v, "==")),
    "Variable >=": (lambda v, o: summary(o["var"] >= v),
                    lambda v, o: variable_compared(o["var"], v, ">=")),
}


def summary(result):
    return ("copy", result.name, result.id) if type(result) is Variable else result


# Numbers drawn by a successful call: (nodes, variables).
DRAWS = {"Variable(name)": (0, 1), "Game(title)": (1, 0), "Game(players)": (1, 0),
         "Game(gametype)": (1, 0), "Game +": (0, 0),
         # the node and the game that exports it
         **{name: (2, 0) for name in CASES if name.startswith("Decision(")}}


def objects():
    """The objects a case works on, made before its numbers are counted."""
    number = m.next_node_number()
    game = Game()
    game += Decision(P, "node", utility=[4, -1])
    root = m.Node("player", "root", number)
    root.children.append(m.Node("P", "node", number + 1, ("numeric", [4, -1])))
    return {"player": Player("Ann"), "node": Decision(P, "d"), "leaf": leaf(), "game": game,
            "model": root, "var": Variable("v"), "spare": Game() + leaf()}


def normal_use(o):
    """Plain operations on the objects, which must answer alike before and after a call."""
    return (o["player"].name, str(o["node"]), o["game"].export(), str(o["game"]),
            o["game"].length(), o["var"].lower, o["var"].higher, Type.Normal == 0)


def counters():
    return m.next_node_number(), m.next_variable_id()


SHARED = (bool, int, float, str, type, type(None), type(NotImplemented))  # counted elsewhere too


@pytest.mark.parametrize("case", CASES)
def test_hostile_values(case, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # where a file name that can be written is written
    call, model_ = CASES[case]
    failures = []
    for value in values():
        if case == "Game(players)" and isinstance(value, int) and 10**6 < value <= m.PLAYER_LIMIT:
            continue  # a machine with the memory for this many players would make them
        o = objects()
        usual = normal_use(o)
        refs = sys.getrefcount(value)
        before = counters()
        want = predicted(lambda: model_(value, o))
        got = outcome(lambda: call(value, o))
        after = counters()
        # The number probes draw two nodes and one variable themselves.
        drawn = (after[0] - before[0] - 2, after[1] - before[1] - 1)
        if got != want or drawn != (DRAWS.get(case, (0, 0)) if got[0] == "ok" else (0, 0)):
            failures.append((value, got, want, drawn))
        children = [o["leaf"]] if case == "Decision.add_nodes" else []
        if case.startswith("Decision.add") or case == "Decision +":
            children += [value] if type(value) is Decision else []
        if [id(c) for c in o["node"].children] != [id(c) for c in children]:
            failures.append((value, "children", o["node"].children))
        if type(value) is Variable and case == "Variable ==":
            assert o["var"].equal == [value.id]
        o["player"].name, o["node"].name = "Ann", "d"  # a rename that took is undone
        if normal_use(o) != usual:
            failures.append((value, "afterwards", normal_use(o), usual))
        del o, children, got, want
        if not isinstance(value, SHARED) and sys.getrefcount(value) != refs:
            failures.append((value, "references", refs, sys.getrefcount(value)))
    assert not failures
