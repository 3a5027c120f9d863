"""Random sequences of the public operations, each outcome checked against the model in
model.py: exact results, exact export texts, or the exact exception type and text. Node and
variable numbers are learnt when the machine starts and then tracked."""

import math
import os
import tempfile

from hypothesis import strategies as st
from hypothesis.stateful import Bundle, RuleBasedStateMachine, initialize, multiple, rule

import model as m
from kelvora import Decision, Game, Player, Type, Variable
from model import argument, outcome, predicted

NAMES = st.text(st.sampled_from('ab Z"\\\n$}{\u00e9\u2603\0'), max_size=4)
BAD_TEXT = st.sampled_from([None, 5, b"x", 1.5, ["a"], "\udc80", "a\udfff", Type.Normal])
DELETE = object()  # stands for `del obj.name`
INTS = st.one_of(st.integers(-3, 9), st.sampled_from([-2**31, 2**31 - 1]))
UTILITY = st.one_of(st.none(), st.lists(INTS, min_size=2, max_size=3), st.lists(INTS, max_size=1))
INFOSETS = st.sampled_from([None, None, None, 1, 2, 2**64 - 1])
SCALES = st.one_of(st.none(), st.floats(width=32), st.sampled_from(
    [3, 0.1, 1 / 3, 1e39, -1e39, 2**200, True, -0.0, math.nan]))
OPS = m.OPS
BAD_DECISION_ARGUMENTS = [
    BAD_TEXT.filter(lambda v: not isinstance(v, Player)), BAD_TEXT,
    st.sampled_from(["12", {1: 2}, {1}, 5, [1.5], [2**31], [-2**31 - 1], ["x"], [Variable("w")],
                     b"\x01\x02", range(3)]),
    st.sampled_from(["v", 5, [5], [Player()], {1: 2}, (i for i in "")]),
    st.sampled_from([-1, 2**64, 1.5, "1", Type.Extensive, True])]


def read(path):
    if not isinstance(path, str) or not os.path.isfile(path):
        return None
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return f.read()


class Machine(RuleBasedStateMachine):
    players = Bundle("players")
    variables = Bundle("variables")
    nodes = Bundle("nodes")
    games = Bundle("games")

    def __init__(self):
        super().__init__()
        self.models, self.reals, self.keep = {}, {}, []
        self.dir = tempfile.TemporaryDirectory()

    def learn_counters(self):
        """Learnt at the first step: what happens before it (or between examples) is unknown."""
        if not hasattr(self, "next_node"):
            self.next_node = m.next_node_number()
            self.next_var = m.next_variable_id()

    @initialize(target=variables)
    def first_variables(self):
        self.learn_counters()
        return multiple(*(self.make_variable(name) for name in ("x", "y")))

    def teardown(self):
        self.dir.cleanup()

    def own(self, real, model_):
        self.keep.append(real)
        self.models[id(real)] = model_
        self.reals[id(model_)] = real
        return real

    def model_of(self, real):
        return self.models[id(real)]

    def expect(self, call, model_):
        """Checks `call()` against `model_()`: the results, or None when both refuse alike."""
        want = predicted(model_)
        got = outcome(call)
        if want[0] != "ok":
            assert got == want
            return None
        assert got[0] == "ok", got
        return got[1], want[1]

    # --- players ---

    @rule(target=players, name=st.none() | NAMES, keyword=st.booleans())
    def make_player(self, name, keyword):
        got = self.expect(lambda: Player(name=name) if keyword else Player(name),
                          lambda: ["player" if name is None else m.text(name)])
        return self.own(*got)

    @rule(name=BAD_TEXT.filter(lambda v: v is not None))
    def refused_player(self, name):
        assert self.expect(lambda: Player(name), lambda: argument("name", m.text, name)) is None

    def rename(self, obj, value, model_):
        if value is DELETE:
            def call():
                del obj.name
            got = self.expect(call, lambda: m.refuse(AttributeError, "can't delete attribute"))
        else:
            got = self.expect(lambda: setattr(obj, "name", value), lambda: m.text(value))
        if got is not None:
            model_(value)
        assert obj.name == (self.model_of(obj)[0] if type(obj) is Player else
                            self.model_of(obj).name)

    @rule(player=players, value=NAMES | BAD_TEXT | st.just(DELETE))
    def rename_player(self, player, value):
        self.rename(player, value, lambda v: self.model_of(player).__setitem__(0, v))

    # --- variables ---

    @rule(target=variables, name=NAMES)
    def make_variable(self, name):
        real, var = self.expect(lambda: Variable(name=name), lambda: m.Var(name, self.next_var))
        self.next_var += 1
        assert real.id == var.id
        return self.own(real, var)

    @rule(name=BAD_TEXT)
    def refused_variable(self, name):
        assert self.expect(lambda: Variable(name),
                           lambda: argument("name", m.text, name, optional=False)) is None

    @rule(target=variables, a=variables, b=variables, op=st.sampled_from(sorted(OPS)))
    def compare(self, a, b, op):
        va, vb = self.model_of(a), self.model_of(b)

        def model_():
            if a is b:  # busy as the left operand, so declined both ways
                return m.compared(a, b, op)
            lists = {"<": va.higher, ">": va.lower, "==": va.equal}
            if op in lists:
                lists[op].append(vb.id)
            return vb.copy()

        got = self.expect(lambda: OPS[op](a, b), model_)
        if got is None or isinstance(got[1], bool):
            assert got is None or got[0] is got[1]
            return multiple()
        real, copy = got
        assert real is not b and type(real) is Variable
        assert (real.name, real.id, real.lower, real.higher, real.equal) == copy.state()
        return self.own(real, copy)

    @rule(v=variables)
    def check_variable(self, v):
        assert (v.name, v.id, v.lower, v.higher, v.equal) == self.model_of(v).state()

    # --- decisions ---

    def decision_model(self, *args):
        node = m.decision(args, self.next_node, lambda p: self.model_of(p)[0],
                          lambda v: self.model_of(v).copy())
        self.next_node += 1
        return node

    def decide(self, args, keyword):
        def call():
            if keyword:
                return Decision(**dict(zip(
                    ["player", "name", "utility", "variable", "information_set"], args)))
            return Decision(*args)

        got = self.expect(call, lambda: self.decision_model(*args))
        return multiple() if got is None else self.own(*got)

    @rule(target=nodes, player=players, name=NAMES, utility=UTILITY,
          variable=st.none() | st.lists(variables, max_size=3), information_set=INFOSETS,
          keyword=st.booleans())
    def make_decision(self, player, name, utility, variable, information_set, keyword):
        return self.decide([player, name, utility, variable, information_set], keyword)

    @rule(target=nodes, player=players, which=st.integers(0, 4), data=st.data())
    def refused_decision(self, player, which, data):
        bad = BAD_DECISION_ARGUMENTS[which]
        args = [player, "n", None, None, None]
        args[which] = data.draw(bad)
        return self.decide(args, keyword=False)

    @initialize(target=nodes, data=st.data())
    def first_tree(self, data):
        self.learn_counters()
        return self.make_tree(data)

    @rule(target=nodes, data=st.data())
    def make_tree(self, data):
        """A small tree that both exports can draw (most of the time: a level's information
        set may have a single member), built in pre-order."""
        top = self.decide([self.make_player("T", True), data.draw(NAMES), None, None, None],
                          keyword=False)
        todo = [(top, 0)]
        while todo:
            parent, depth = todo.pop()
            player = self.make_player(data.draw(st.sampled_from(["A", "B\n"])), False)
            for _ in range(data.draw(st.integers(1, 3))):
                leaf = depth == 2 or data.draw(st.booleans())
                ints = data.draw(st.lists(INTS, min_size=2, max_size=3)) if leaf else None
                names = data.draw(st.lists(self.variables, min_size=2, max_size=2)) \
                    if leaf and self.bundle("variables") and data.draw(st.booleans()) else None
                infoset = None if leaf else data.draw(st.sampled_from([None, 1, 1, 2]))
                child = self.decide([player, data.draw(NAMES), None if names else ints, names,
                                     infoset], keyword=True)
                self.attach_now(parent, [child], "add_node")
                if not leaf:
                    todo.append((child, depth + 1))
        return top

    @rule(target=games, node=nodes, more=st.lists(nodes, max_size=2))
    def game_of(self, node, more):
        game = self.new_game([None, None, None], keyword=False)
        for child in [node, *more]:
            game = self.game_add(game, child, in_place=True)
        return game

    @rule(node=nodes, value=NAMES | BAD_TEXT | st.just(DELETE))
    def rename_node(self, node, value):
        self.rename(node, value, lambda v: setattr(self.model_of(node), "name", v))

    def attach_now(self, parent, children, how):
        model_ = self.model_of(parent)
        if how == "add_nodes":
            assert parent.add_nodes(*children) is parent
        for child in children if how != "add_nodes" else []:
            if how == "add_node":
                assert parent.add_node(other=child) is parent
            elif how == "+":
                assert parent + child is parent
            else:
                alias = parent
                alias += child
                assert alias is parent
        model_.children.extend(self.model_of(c) for c in children)

    @rule(parent=nodes, children=st.lists(nodes, min_size=1, max_size=3),
          how=st.sampled_from(["add_node", "add_nodes", "+", "+="]))
    def attach(self, parent, children, how):
        """Later nodes below earlier ones: no cycle."""
        number = self.model_of(parent).node_id
        self.attach_now(parent, [c for c in children if self.model_of(c).node_id > number], how)

    @rule(parent=nodes, child=nodes)
    def attach_anywhere(self, parent, child):
        """Cycles included: a node below itself, or below one of its descendants."""
        self.attach_now(parent, [child], "add_node")

    @rule(parent=nodes, before=st.lists(nodes, max_size=2), after=nodes,
          value=st.sampled_from([5, None, "d", Player(), Variable("x"), Game(), Decision]),
          how=st.sampled_from(["add_node", "add_nodes", "+"]))
    def refused_attach(self, parent, before, after, value, how):
        model_ = self.model_of(parent)

        def model_refusal():
            if how == "add_node":
                raise m.mismatch(value, "Decision").prefixed("other")
            if how == "+":
                raise m.Refused(TypeError, "unsupported operand type(s) for +: 'Decision' "
                                           f"and '{type(value).__name__}'")
            model_.children.extend(self.model_of(c) for c in before)
            raise m.mismatch(value, "Decision")

        calls = {"add_node": lambda: parent.add_node(value),
                 "add_nodes": lambda: parent.add_nodes(*before, value, after),
                 "+": lambda: parent + value}
        assert self.expect(calls[how], model_refusal) is None

    @rule(target=nodes, node=nodes, depth=st.integers(1, 300), leaf=st.booleans())
    def grow_chain(self, node, depth, leaf):
        player = Player("c")
        bottom, model_ = node, self.model_of(node)
        for i in range(depth):
            last = leaf and i == depth - 1
            child = Decision(player, f"c{i}", utility=[i, -i] if last else None)
            step = self.own(child, m.Node("c", f"c{i}", self.next_node,
                                          ("numeric", [i, -i]) if last else None))
            self.next_node += 1
            bottom.add_node(step)
            model_.children.append(self.model_of(step))
            bottom, model_ = step, self.model_of(step)
        return bottom

    @rule(node=nodes)
    def check_node(self, node):
        model_ = self.model_of(node)
        assert (str(node), node.name, node.player.name, node.information_set) == (
            str(model_), model_.name, model_.player, model_.information_set)
        assert [id(c) for c in node.children] == [id(self.reals[id(c)]) for c in model_.children]

    # --- games ---

    def game_model(self, title, players, gametype):
        t = argument("title", m.text, title)
        count = argument("players", m.u64, players)
        kind = argument("gametype", m.gametype, gametype)
        names = m.players_list(2 if count is None else count)
        root = m.Node("player", "root", self.next_node)
        self.next_node += 1
        return m.GameModel("Untitled Game" if t is None else t, names, kind or 0, root)

    def new_game(self, args, keyword):
        call = (lambda: Game(**dict(zip(["title", "players", "gametype"], args)))) if keyword \
            else (lambda: Game(*args))
        got = self.expect(call, lambda: self.game_model(*args))
        if got is None:
            return multiple()
        game, model_ = got
        self.own(game.root, model_.root)
        return self.own(game, model_)

    @rule(target=games, title=st.none() | NAMES, players=st.none() | st.integers(0, 4),
          gametype=st.sampled_from([None, Type.Normal, Type.Extensive]), keyword=st.booleans())
    def make_game(self, title, players, gametype, keyword):
        return self.new_game([title, players, gametype], keyword)

    @rule(target=games, which=st.integers(0, 2), data=st.data())
    def refused_game(self, which, data):
        bad = [BAD_TEXT.filter(lambda v: v is not None),
               st.sampled_from([-1, 1.5, "2", 2**64, 2**64 - 1, Type.Normal, [2]]),
               st.sampled_from([1, "Normal", Player(), True])][which]
        args = [None, None, None]
        args[which] = data.draw(bad)
        return self.new_game(args, keyword=True)

    @rule(target=nodes, game=games)
    def root_of(self, game):
        root = game.root
        assert root is self.reals[id(self.model_of(game).root)]
        return root

    @rule(target=games, game=games, node=nodes, in_place=st.booleans())
    def game_add(self, game, node, in_place):
        model_ = self.model_of(game)
        if in_place:
            result = game
            result += node
        else:
            result = game + node
        assert result is not game and result.root is game.root
        model_.root.children.append(self.model_of(node))
        return self.own(result, model_.copy())

    @rule(game=games, value=st.sampled_from([5, None, "g", Player(), Variable("y"), Game()]))
    def refused_game_add(self, game, value):
        assert self.expect(lambda: game + value, lambda: m.refuse(
            TypeError, f"unsupported operand type(s) for +: 'Game' and '{type(value).__name__}'"
        )) is None

    @rule(target=games, game=games)
    def get_ref(self, game):
        copy = game.get_ref()
        assert copy is not game and copy.root is game.root
        return self.own(copy, self.model_of(game).copy())

    @rule(game=games)
    def check_game(self, game):
        model_ = self.model_of(game)
        kind = game.gametype
        assert (str(game), game.length(), game.title, [p.name for p in game.player]) == (
            str(model_), len(model_.root.children), model_.title, model_.players)
        assert kind == model_.gametype and int(kind) == model_.gametype
        assert kind == (Type.Extensive if model_.gametype else Type.Normal)
        assert repr(kind) == ("Type.Extensive" if model_.gametype else "Type.Normal")

    @rule(game=games)
    def export(self, game):
        got = self.expect(game.export, lambda: m.render_dot(self.model_of(game).root))
        if got is not None:
            assert got[0] == got[1]

    @rule(game=games, scale=SCALES, to_file=st.integers(0, 3), positional=st.booleans())
    def export_latex(self, game, scale, to_file, positional):
        """Returned, or (one time in four) written to a file."""
        root = self.model_of(game).root
        path = [None, None, None, os.path.join(self.dir.name, "figure.tex")][to_file]
        self.latex(game, root, scale, path, positional)

    @rule(game=games, scale=SCALES, which=st.integers(0, 5))
    def refused_export_latex(self, game, scale, which):
        where = self.dir.name
        scale, path = [("2", None), (scale, 5), (scale, "\udc80"), (scale, ""),
                       (scale, os.path.join(where, "missing", "f.tex")), (scale, where)][which]
        self.latex(game, self.model_of(game).root, scale, path, positional=False)

    def latex(self, game, root, scale, path, positional):
        before = read(path)
        good = os.path.join(self.dir.name, "figure.tex")

        def model_():
            s = 2.5 if scale is None else argument("scale", m.f32, scale)
            name = argument("filename", m.text, path)
            text = m.render_latex(root, s)
            if name not in (None, good):
                raise m.io_failure(name)
            return text

        want = predicted(model_)
        got = outcome(lambda: game.export_latex(scale, path) if positional
                      else game.export_latex(scale=scale, filename=path))
        if want[0] != "ok":
            assert got == want
            assert read(path) == before
            return
        assert got[0] == "ok"
        text = got[1] if path is None else read(path)
        assert path is None or got[1] is None
        assert m.canonical_latex(text) == m.canonical_latex(want[1])

    @rule()
    def counters_agree(self):
        """Only successful constructors drew numbers: the next ones are as tracked."""
        self.next_node += 2  # the game and the leaf that tell the number
        assert m.next_node_number() == self.next_node
        self.next_var += 1
        assert m.next_variable_id() == self.next_var


TestModel = Machine.TestCase
TestModel.settings = m.FUZZ
