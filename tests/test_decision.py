"""Decision: tree nodes that share their children and copy their player and payoff."""

import sys

import pytest

from kelvora import Decision, Player, Variable

from helpers import error


class Lying:
    """A sequence whose length cannot be had but whose items can."""

    def __len__(self):
        raise ValueError("no length")

    def __getitem__(self, i):
        if i < 3:
            return i * 10
        raise IndexError


class Breaking:
    """A sequence whose iteration fails after its first item."""

    def __len__(self):
        return 2

    def __getitem__(self, i):
        if i == 0:
            return 1
        raise KeyError("broken")


class TestConstruction:
    def test_plain_node(self):
        d = Decision(Player("Ann"), "Left")
        assert str(d) == "(player: Ann action: Left)"
        assert d.player.name == "Ann" and d.name == "Left"
        assert d.information_set is None and d.children == []

    def test_every_argument_by_keyword(self):
        d = Decision(information_set=3, variable=None, utility=[1], name="n", player=Player("P"))
        assert (d.player.name, d.name, d.information_set) == ("P", "n", 3)

    def test_empty_names_and_unicode(self):
        assert str(Decision(Player(""), "")) == "(player:  action: )"
        assert str(Decision(Player("Zoë"), "\u2603 \U0001F600")) == "(player: Zoë action: \u2603 \U0001F600)"

    @pytest.mark.parametrize("value, expected", [
        (0, 0), (True, 1), (2**64 - 1, 2**64 - 1), (None, None)])
    def test_information_set(self, value, expected):
        assert Decision(Player(), "a", information_set=value).information_set == expected

    @pytest.mark.parametrize("args, kwargs, exc, message", [
        ((), {}, TypeError,
         "Decision.__new__() missing 2 required positional arguments: 'player' and 'name'"),
        ((), {"name": "x"}, TypeError,
         "Decision.__new__() missing 1 required positional argument: 'player'"),
        ((Player(), "a", None, None, None, None), {}, TypeError,
         "Decision.__new__() takes from 2 to 5 positional arguments but 6 were given"),
        ((Player(), "a"), {"payoff": [1]}, TypeError,
         "Decision.__new__() got an unexpected keyword argument 'payoff'"),
        ((Player(), "a", [1]), {"utility": [2]}, TypeError,
         "Decision.__new__() got multiple values for argument 'utility'"),
        (("Ann", "a"), {}, TypeError,
         "argument 'player': 'str' object cannot be converted to 'Player'"),
        ((Variable("v"), "a"), {}, TypeError,
         "argument 'player': 'Variable' object cannot be converted to 'Player'"),
        ((Player(), None), {}, TypeError,
         "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
        ((Player(), "\udc80"), {}, UnicodeEncodeError, None),
        ((Player(), "a"), {"utility": "12"}, TypeError,
         "argument 'utility': Can't extract `str` to `Vec`"),
        ((Player(), "a"), {"utility": {1: 2}}, TypeError,
         "argument 'utility': 'dict' object cannot be converted to 'Sequence'"),
        ((Player(), "a"), {"utility": 5}, TypeError,
         "argument 'utility': 'int' object cannot be converted to 'Sequence'"),
        ((Player(), "a"), {"utility": (i for i in [1])}, TypeError,
         "argument 'utility': 'generator' object cannot be converted to 'Sequence'"),
        ((Player(), "a"), {"utility": [1.5]}, TypeError,
         "argument 'utility': 'float' object cannot be interpreted as an integer"),
        ((Player(), "a"), {"utility": [1, "2"]}, TypeError,
         "argument 'utility': 'str' object cannot be interpreted as an integer"),
        ((Player(), "a"), {"utility": [2**31]}, OverflowError,
         "Python int too large to convert to a signed 32-bit integer"),
        ((Player(), "a"), {"utility": [-2**31 - 1]}, OverflowError,
         "Python int too small to convert to a signed 32-bit integer"),
        ((Player(), "a"), {"utility": [2**100]}, OverflowError,
         "Python int too large to convert to a signed 32-bit integer"),
        ((Player(), "a"), {"utility": (1, "2")}, TypeError,
         "argument 'utility': 'str' object cannot be interpreted as an integer"),
        ((Player(), "a"), {"utility": (1, -2**31 - 1)}, OverflowError,
         "Python int too small to convert to a signed 32-bit integer"),
        ((Player(), "a"), {"variable": (Variable("v"), 5)}, TypeError,
         "argument 'variable': 'int' object cannot be converted to 'Variable'"),
        ((Player(), "a"), {"utility": Breaking()}, KeyError, "'broken'"),
        ((Player(), "a"), {"variable": "ab"}, TypeError,
         "argument 'variable': Can't extract `str` to `Vec`"),
        ((Player(), "a"), {"variable": {Player()}}, TypeError,
         "argument 'variable': 'set' object cannot be converted to 'Sequence'"),
        ((Player(), "a"), {"variable": [Variable("v"), Player()]}, TypeError,
         "argument 'variable': 'Player' object cannot be converted to 'Variable'"),
        ((Player(), "a"), {"utility": [3], "variable": [5]}, TypeError,
         "argument 'variable': 'int' object cannot be converted to 'Variable'"),
        ((Player(), "a"), {"information_set": -1}, OverflowError,
         "can't convert negative int to unsigned"),
        ((Player(), "a"), {"information_set": 2**64}, OverflowError, None),
        ((Player(), "a"), {"information_set": 2.0}, TypeError,
         "argument 'information_set': 'float' object cannot be interpreted as an integer"),
        ((Player(), "a"), {"information_set": "1"}, TypeError,
         "argument 'information_set': 'str' object cannot be interpreted as an integer"),
        # Arguments are converted in parameter order: the first bad one is reported.
        (("Ann", 5), {"utility": "x"}, TypeError,
         "argument 'player': 'str' object cannot be converted to 'Player'"),
        ((Player(), "a"), {"utility": [1.5], "information_set": -1}, TypeError,
         "argument 'utility': 'float' object cannot be interpreted as an integer"),
    ])
    def test_refusals(self, args, kwargs, exc, message):
        kind, text = error(lambda: Decision(*args, **kwargs))
        assert kind is exc
        if message is not None:
            assert text == message

    def test_player_is_copied_in_and_out(self):
        ann = Player("Ann")
        d = Decision(ann, "a")
        ann.name = "Changed"
        assert d.player.name == "Ann"
        out = d.player
        assert out is not d.player
        out.name = "Zed"
        assert d.player.name == "Ann"

    def test_deep_chain_is_released_without_recursion(self, fresh):
        out = fresh("""
            from kelvora import Decision, Player
            p = Player()
            top = node = Decision(p, "top")
            for _ in range(1_000_000):
                child = Decision(p, "n")
                node.add_node(child)
                node = child
            del node, child
            del top
            print("released")
        """)
        assert out == "released\n"


class TestPayoff:
    """The payoff has no attribute; the probe reads it from the record."""

    @pytest.mark.parametrize("utility, numbers", [
        ([], []), ([3, 1], [3, 1]), ((1, 2), [1, 2]), (range(3), [0, 1, 2]),
        (b"\x01\x02", [1, 2]), (bytearray(b"\xff"), [255]), ([True, False], [1, 0]),
        ([-2**31, 2**31 - 1], [-2**31, 2**31 - 1]), (Lying(), [0, 10, 20]),
        # around the largest int of one digit, and more items than are kept off the heap
        ((0, -1, 2**30 - 1, 1 - 2**30, 2**30, -2**30), [0, -1, 2**30 - 1, 1 - 2**30, 2**30, -2**30]),
        ((True, 2), [1, 2]), (list(range(6)), [0, 1, 2, 3, 4, 5]),
    ], ids=repr)
    def test_numeric(self, probe, utility, numbers):
        d = probe.Decision(probe.Player(), "a", utility=utility)
        assert probe.node(d)[1] == ("Numeric", numbers)

    def test_list_changed_while_read(self, probe):
        # Items are read as a list iterator reads them: the length is looked at again before
        # each item, so growing or clearing the list from an item's __index__ is safe.
        class Grows:
            def __index__(self):
                while len(numbers) < 7:
                    numbers.append(len(numbers))
                return 9

        class Clears:
            def __index__(self):
                numbers.clear()
                return 7

        for first, expected in [(Grows(), [9, 1, 2, 3, 4, 5, 6]), (Clears(), [7])]:
            numbers = [first, 1]
            d = probe.Decision(probe.Player(), "a", utility=numbers)
            assert probe.node(d)[1] == ("Numeric", expected)

    def test_absent(self, probe):
        assert probe.node(probe.Decision(probe.Player(), "a"))[1] is None
        assert probe.node(probe.Decision(probe.Player(), "a", None, None))[1] is None

    def test_symbolic_payoff_is_a_copy_taken_at_construction(self, probe):
        x, y = probe.Variable("x"), probe.Variable("y")
        x < y
        d = probe.Decision(probe.Player(), "a", variable=(x, y))
        x > y
        assert probe.node(d)[1] == ("Symbolic", [
            ("x", x.id, [], [y.id], []),
            ("y", y.id, [], [], []),
        ])
        assert probe.node(probe.Decision(probe.Player(), "a", variable=[]))[1] == ("Symbolic", [])

    def test_numbers_win_over_variables(self, probe):
        d = probe.Decision(probe.Player(), "a", utility=[3, 1], variable=[probe.Variable("v")])
        assert probe.node(d)[1] == ("Numeric", [3, 1])

    def test_consecutive_nodes_get_consecutive_numbers(self, probe):
        p = probe.Player()
        first = probe.node(probe.Decision(p, "a"))[0]
        for bad in [(), ("Ann", "a"), (p, "a", "12"), (p, "a", None, None, -1)]:
            with pytest.raises((TypeError, OverflowError)):
                probe.Decision(*bad)
        assert probe.node(probe.Decision(p, "b"))[0] == first + 1
        assert probe.node(probe.Decision(p, "c"))[0] == first + 2

    def test_first_node_of_a_process_is_number_zero(self, probe, fresh):
        out = fresh(f"""
            import importlib.util
            spec = importlib.util.spec_from_file_location("_kelvora_probe", {probe.__file__!r})
            probe = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(probe)
            print(probe.node(probe.Decision(probe.Player(), "a"))[0])
        """)
        assert out == "0\n"

    def test_record_copy_is_deep_for_values_and_shallow_for_children(self, probe):
        p = probe.Player("Ann")
        child = probe.Decision(p, "c")
        d = probe.Decision(p, "a", utility=[1, 2], information_set=4).add_node(child)
        copy = probe.copy(d)
        assert copy is not d
        assert probe.node(copy) == probe.node(d)
        assert (str(copy), copy.information_set) == (str(d), 4)
        assert copy.children[0] is child
        copy.name = "renamed"
        copy.add_node(probe.Decision(p, "only in copy"))
        assert d.name == "a" and d.children == [child]
        child.name = "shared"
        assert copy.children[0].name == "shared"


class TestAttributes:
    def test_rename(self):
        d = Decision(Player(), "a")
        d.name = "b"
        assert d.name == "b" and str(d) == "(player: player action: b)"

    @pytest.mark.parametrize("value, exc, message", [
        (None, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
        (5, TypeError, "'int' object cannot be converted to 'PyString'"),
        ("\udc80", UnicodeEncodeError, None),
    ])
    def test_refused_rename_changes_nothing(self, value, exc, message):
        d = Decision(Player(), "a")
        kind, text = error(lambda: setattr(d, "name", value))
        assert kind is exc and (message is None or text == message)
        assert d.name == "a"

    def test_name_cannot_be_deleted(self):
        d = Decision(Player(), "a")
        assert error(lambda: delattr(d, "name")) == (AttributeError, "can't delete attribute")

    @pytest.mark.parametrize("attr", ["player", "children", "information_set"])
    def test_read_only(self, attr):
        d = Decision(Player(), "a", information_set=1)
        before = getattr(d, attr)
        with pytest.raises(AttributeError):
            setattr(d, attr, before)
        with pytest.raises(AttributeError):
            delattr(d, attr)

    def test_children_is_a_new_list_each_time(self):
        d, c = Decision(Player(), "a"), Decision(Player(), "c")
        d.add_node(c)
        listed = d.children
        assert listed is not d.children
        listed.append(Decision(Player(), "x"))
        listed.clear()
        assert d.children == [c]

    def test_identity_equality_and_hash(self):
        a, b = Decision(Player(), "a"), Decision(Player(), "a")
        assert a == a and a != b
        assert len({a, b, a}) == 2


class TestAttaching:
    def test_add_node_returns_the_receiver_and_shares_the_child(self):
        d, c = Decision(Player(), "d"), Decision(Player(), "c")
        assert d.add_node(c) is d
        assert d.add_node(other=c) is d
        assert d.children == [c, c] and d.children[0] is c
        c.name = "Up"
        assert d.children[0].name == "Up"
        assert d.add_node(c).add_node(d) is d
        assert d.children[-1] is d

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "Decision.add_node() missing 1 required positional argument: 'other'"),
        ((5,), {}, "argument 'other': 'int' object cannot be converted to 'Decision'"),
        ((Player(),), {}, "argument 'other': 'Player' object cannot be converted to 'Decision'"),
        ((None,), {}, "argument 'other': 'NoneType' object cannot be converted to 'Decision'"),
        ((1, 2), {}, "Decision.add_node() takes 1 positional arguments but 2 were given"),
        ((), {"node": 1}, "Decision.add_node() got an unexpected keyword argument 'node'"),
    ])
    def test_add_node_refusals_append_nothing(self, args, kwargs, message):
        d = Decision(Player(), "d")
        assert error(lambda: d.add_node(*args, **kwargs)) == (TypeError, message)
        assert d.children == []

    def test_add_nodes(self):
        d, a, b = (Decision(Player(), n) for n in "dab")
        assert d.add_nodes() is d and d.children == []
        assert d.add_nodes(a, b, a) is d
        assert d.children == [a, b, a]

    def test_add_nodes_keeps_what_came_before_a_refused_item(self):
        d, a, b = (Decision(Player(), n) for n in "dab")
        assert error(lambda: d.add_nodes(a, 5, b)) == (
            TypeError, "'int' object cannot be converted to 'Decision'")
        assert d.children == [a]
        assert error(lambda: d.add_nodes(other=a)) == (
            TypeError, "Decision.add_nodes() got an unexpected keyword argument 'other'")
        assert d.children == [a]

    def test_plus(self):
        d, a, b = (Decision(Player(), n) for n in "dab")
        assert (d + a + b) is d
        assert d.children == [a, b]
        before = d
        d += a
        assert d is before and d.children == [a, b, a]

    @pytest.mark.parametrize("other", [5, None, "x", Player(), Variable("v")], ids=repr)
    def test_plus_with_another_kind_is_unsupported(self, other):
        d = Decision(Player(), "d")
        kind, text = error(lambda: d + other)
        assert kind is TypeError and text.startswith("unsupported operand type(s) for +")
        assert error(lambda: other + d)[0] is TypeError
        assert d.children == []

    def test_attaching_holds_one_reference_per_entry(self):
        d, c = Decision(Player(), "d"), Decision(Player(), "c")
        base = sys.getrefcount(c)
        d.add_node(c).add_nodes(c, c)
        d + c
        assert sys.getrefcount(c) == base + 4
        del d
        assert sys.getrefcount(c) == base

    def test_shared_subtree_survives_one_parent(self):
        p = Player()
        left, right, shared = Decision(p, "l"), Decision(p, "r"), Decision(p, "s")
        left.add_node(shared)
        right.add_node(shared)
        del shared, left
        assert right.children[0].name == "s"

    def test_wide_node(self):
        d = Decision(Player(), "root")
        leaves = [Decision(Player(), str(i)) for i in range(100_000)]
        d.add_nodes(*leaves)
        assert len(d.children) == 100_000 and d.children[-1] is leaves[-1]


class TestBorrows:
    """Borrows held across calls into Python, through the probe."""

    def test_busy_operands_are_declined_by_comparison(self, probe):
        a, b = probe.Variable("a"), probe.Variable("b")
        assert probe.hold("shared", b, lambda: (a < b).id) == b.id
        assert error(lambda: probe.hold("exclusive", b, lambda: a < b))[0] is TypeError
        assert probe.hold("exclusive", b, lambda: a == b) is False
        assert a.higher == [b.id]
        # A busy left operand declines; the interpreter then asks b > a, which b answers.
        assert probe.hold("shared", a, lambda: (a < b).id) == a.id
        assert a.higher == [b.id] and b.lower == [a.id]

    def test_checked_borrows_of_nodes(self, probe):
        d = probe.Decision(probe.Player(), "d")
        for read in (lambda: d.name, lambda: d.children, lambda: str(d), lambda: d.player):
            assert error(lambda: probe.hold("exclusive", d, read)) == (
                RuntimeError, "Already mutably borrowed")
        assert error(lambda: probe.hold("shared", d, lambda: setattr(d, "name", "x"))) == (
            RuntimeError, "Already borrowed")
        assert d.name == "d"

    def test_busy_arguments_are_refused_without_prefix(self, probe):
        p, v = probe.Player(), probe.Variable("v")
        assert error(lambda: probe.hold("exclusive", p, lambda: probe.Decision(p, "a"))) == (
            RuntimeError, "Already mutably borrowed")
        assert error(lambda: probe.hold(
            "exclusive", v, lambda: probe.Decision(p, "a", variable=[v]))) == (
            RuntimeError, "Already mutably borrowed")

    def test_attaching_to_a_busy_node_is_a_fault(self, probe):
        d, c = probe.Decision(probe.Player(), "d"), probe.Decision(probe.Player(), "c")
        for attach in (lambda: d.add_node(c), lambda: d.add_nodes(c), lambda: d + c):
            kind, text = error(lambda: probe.hold("shared", d, attach))
            assert kind.__name__ == "PanicException" and text == "Already borrowed: PyBorrowMutError"
        assert d.children == []


def test_failed_calls_leak_no_references():
    p, v, c = Player(), Variable("v"), Decision(Player(), "c")
    d = Decision(p, "d")
    watched = (p, v, c, d)
    bad_calls = [
        lambda: Decision(p, "a", utility=[1, "x"]),
        lambda: Decision(p, "a", utility=[1], variable=[v, 5]),
        lambda: Decision(p, "a", variable=[v], information_set=-1),
        lambda: Decision(p, 5),
        lambda: d.add_node(v),
        lambda: d.add_nodes(c, v),
        lambda: d + v,
        lambda: v < p,
    ]
    for call in bad_calls:  # warm up caches
        with pytest.raises(BaseException):
            call()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(1000):
        for call in bad_calls:
            with pytest.raises(BaseException):
                call()
    # Only add_nodes changed anything: it kept c, which came before the refused item.
    assert len(d.children) == 1001
    assert [sys.getrefcount(o) for o in watched] == [before[0], before[1], before[2] + 1000,
                                                     before[3]]


def test_no_borrow_is_held_while_python_code_can_run():
    """Making a list can start the garbage collector, whose callbacks are Python code."""
    import gc

    d, c = Decision(Player(), "d"), Decision(Player(), "c")
    a, b = Variable("a"), Variable("b")
    d.add_node(c)
    outcomes = []

    def callback(phase, info):
        if phase == "start":
            try:
                d.name = "renamed"
                a < b
                outcomes.append("ok")
            except BaseException as exc:  # noqa: B036 - the PanicException too
                outcomes.append(repr(exc))

    threshold = gc.get_threshold()
    gc.set_threshold(1)
    gc.callbacks.append(callback)
    try:
        # Kept, so that the lists cannot come from the interpreter's free list.
        kept = [(d.children, a.lower) for _ in range(200)]
    finally:
        gc.callbacks.remove(callback)
        gc.set_threshold(*threshold)
    assert len(kept) == 200
    assert outcomes and set(outcomes) == {"ok"}
    assert len(a.higher) == len(outcomes)


def hostile_values():
    from test_player import Hostile, generator

    return [None, True, 0, -1, 2**31, 2**64, 2**200, float("nan"), float("inf"), -0.0, "",
            "\udc80", "a\0b", b"\x00\xff", bytearray(b"\x01"), {1: 2}, {1}, [1, "x"], (2**40,),
            [Variable("v"), 1], generator(), Hostile(), [Hostile()], Decision, Player("P"),
            Variable("v"), object(), NotImplemented]


def test_hostile_attachments_append_nothing():
    d = Decision(Player(), "d")
    for value in hostile_values():
        for attach in (d.add_node, d.add_nodes, lambda v: d + v):
            with pytest.raises(TypeError):
                attach(value)
        if not isinstance(value, str):
            with pytest.raises(TypeError):
                d.name = value
    assert d.children == [] and d.name == "d"
