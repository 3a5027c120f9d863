"""The call boundary in every shape, through the test-only probe extension (see conftest)."""

import math
import types

import pytest
from helpers import error, raising, with_type_name

ALL, SOME, ONE_OF_ONE_OPTIONAL, KW_ONLY, POS_ONLY, COLLECT, ONE_REQUIRED, NO_PARAMS = range(8)


@pytest.fixture(scope="module")
def panic_type(probe):
    with pytest.raises(BaseException) as info:
        probe.fault("find the class")
    return info.type


class TestMatching:
    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((ALL,), {}, "Probe.all_required() missing 3 required positional arguments: 'a', 'b', and 'c'"),
            ((ALL, 1), {}, "Probe.all_required() missing 2 required positional arguments: 'b' and 'c'"),
            ((ALL, 1, 2), {}, "Probe.all_required() missing 1 required positional argument: 'c'"),
            ((ALL,), {"b": 1}, "Probe.all_required() missing 2 required positional arguments: 'a' and 'c'"),
            ((ALL, 1, 2, 3, 4), {}, "Probe.all_required() takes 3 positional arguments but 4 were given"),
            ((ONE_REQUIRED, 1, 2), {}, "Probe.one_required() takes 1 positional arguments but 2 were given"),
            ((NO_PARAMS, 1), {}, "Probe.no_parameters() takes 0 positional arguments but 1 was given"),
            ((ONE_OF_ONE_OPTIONAL, 1, 2), {}, "Probe.none_required() takes from 0 to 1 positional arguments but 2 were given"),
            ((SOME, 1, 2, 3, 4), {"zz": 1}, "Probe.some_required() takes from 1 to 3 positional arguments but 4 were given"),
            ((SOME,), {"c": 1}, "Probe.some_required() missing 1 required positional argument: 'a'"),
            ((SOME, 1), {"x": 1, "a": 2}, "Probe.some_required() got an unexpected keyword argument 'x'"),
            ((SOME, 1), {"a": 2, "x": 1}, "Probe.some_required() got multiple values for argument 'a'"),
            ((SOME,), {"b": 1, "b\u00e9": 1}, "Probe.some_required() got an unexpected keyword argument 'b\u00e9'"),
            ((KW_ONLY, 1), {}, "keyword_only() missing 1 required keyword argument: 'k'"),
            ((KW_ONLY,), {"k": 1}, "keyword_only() missing 1 required positional argument: 'a'"),
            ((KW_ONLY, 1, 2), {"k": 1}, "keyword_only() takes 1 positional arguments but 2 were given"),
            ((POS_ONLY,), {"a": 1, "b": 2},
             "Probe.positional_only() got some positional-only arguments passed as keyword arguments: 'a' and 'b'"),
            ((COLLECT,), {}, "Probe.collect() missing 1 required positional argument: 'a'"),
            ((COLLECT, 1, 2), {"a": 3}, "Probe.collect() got multiple values for argument 'a'"),
            ((COLLECT, 1), {"rest": 3}, "Probe.collect() got an unexpected keyword argument 'rest'"),
        ],
    )
    def test_messages(self, probe, args, kwargs, message):
        assert error(lambda: probe.match(*args, **kwargs)) == (TypeError, message)

    def test_slots_are_filled_by_position_then_keyword(self, probe):
        assert probe.match(SOME, 1, c=3) == (1, None, 3, None)
        assert probe.match(SOME, c=3, a=1, b=2) == (1, 2, 3, None)
        assert probe.match(KW_ONLY, 1, opt=5, k=2) == (1, 2, 5, None)
        assert probe.match(POS_ONLY, 1, 2, c=3) == (1, 2, 3, None)

    def test_surplus_positionals_are_collected(self, probe):
        assert probe.match(COLLECT, 1) == (1, ())
        assert probe.match(COLLECT, 1, 2, 3) == (1, (2, 3))


class TestIntegers:
    @pytest.mark.parametrize(
        "kind, value, expected",
        [
            ("i32", 5, 5), ("i32", True, 1), ("i32", 2**31 - 1, 2**31 - 1), ("i32", -2**31, -2**31),
            ("i64", 2**63 - 1, 2**63 - 1), ("i64", -2**63, -2**63),
            ("u64", 0, 0), ("u64", 2**64 - 1, 2**64 - 1),
        ],
    )
    def test_in_range(self, probe, kind, value, expected):
        assert probe.convert(kind, value) == expected

    @pytest.mark.parametrize(
        "kind, value",
        [("i32", 2**31), ("i32", -2**31 - 1), ("i32", 2**200), ("i32", -2**200),
         ("i64", 2**63), ("u64", -1), ("u64", 2**64)],
    )
    def test_out_of_range_is_overflow_error_without_prefix(self, probe, kind, value):
        kind_, text = error(lambda: probe.convert(kind, value))
        assert kind_ is OverflowError and not text.startswith("argument")

    def test_index_protocol(self, probe):
        class Index:
            def __index__(self):
                return 7

        class WrongIndex:
            def __index__(self):
                return "7"

        class FailingIndex:
            def __index__(self):
                raise ValueError("no index")

        for kind in ("i32", "i64", "u64"):
            assert probe.convert(kind, Index()) == 7
            assert error(lambda: probe.convert(kind, WrongIndex())) == (
                TypeError, "argument 'value': __index__ returned non-int (type str)")
            assert error(lambda: probe.convert(kind, FailingIndex())) == (ValueError, "no index")
            assert error(lambda: probe.convert(kind, 1.0)) == (
                TypeError, "argument 'value': 'float' object cannot be interpreted as an integer")


class TestFloats:
    @pytest.mark.parametrize(
        "value, expected",
        [
            (2.5, 2.5), (3, 3.0), (0.1, 0.10000000149011612), (1 / 3, 0.3333333432674408),
            (3.4028235e38, 3.4028234663852886e38),
            (3.4028235677973362e38, 3.4028234663852886e38),  # just below the rounding edge
            (3.4028235677973366e38, math.inf),  # the edge itself rounds to infinity
            (1e39, math.inf), (-1e39, -math.inf), (1e300, math.inf), (1e-50, 0.0),
            (math.inf, math.inf), (True, 1.0),
        ],
    )
    def test_rounded_to_single_precision(self, probe, value, expected):
        assert probe.convert("f32", value) == expected

    def test_nan_and_negative_zero(self, probe):
        assert math.isnan(probe.convert("f32", math.nan))
        assert math.copysign(1, probe.convert("f32", -0.0)) == -1

    def test_float_protocols(self, probe):
        class Floaty:
            def __float__(self):
                return 1.25

        class Indexy:
            def __index__(self):
                return 4

        class Failing:
            def __float__(self):
                raise ValueError("no float")

        assert probe.convert("f32", Floaty()) == 1.25
        assert probe.convert("f32", Indexy()) == 4.0
        assert error(lambda: probe.convert("f32", Failing())) == (ValueError, "no float")
        assert error(lambda: probe.convert("f32", "2.5")) == (
            TypeError, "argument 'value': must be real number, not str")
        assert error(lambda: probe.convert("f32", 2**2000))[0] is OverflowError


class TestLists:
    @pytest.mark.parametrize(
        "value, expected",
        [([], []), ([1, 2], [1, 2]), ((1, 2), [1, 2]), (range(3), [0, 1, 2]),
         (b"\x01\x02", [1, 2]), ([True, -2**31, 2**31 - 1], [1, -2**31, 2**31 - 1])],
    )
    def test_sequences(self, probe, value, expected):
        assert probe.convert("list_i32", value) == expected

    @pytest.mark.parametrize(
        "value, message",
        [
            ("12", "argument 'value': Can't extract `str` to `Vec`"),
            ({1: 2}, "argument 'value': 'dict' object cannot be converted to 'Sequence'"),
            ({1, 2}, "argument 'value': 'set' object cannot be converted to 'Sequence'"),
            ((i for i in range(2)), "argument 'value': 'generator' object cannot be converted to 'Sequence'"),
            (5, "argument 'value': 'int' object cannot be converted to 'Sequence'"),
            ([1, "a"], "argument 'value': 'str' object cannot be interpreted as an integer"),
            ([1.5], "argument 'value': 'float' object cannot be interpreted as an integer"),
        ],
    )
    def test_refusals(self, probe, value, message):
        assert error(lambda: probe.convert("list_i32", value)) == (TypeError, message)

    def test_str_subclass_is_refused_first(self, probe):
        class Text(str):
            pass

        assert error(lambda: probe.convert("list_i32", Text("1"))) == (
            TypeError, "argument 'value': Can't extract `str` to `Vec`")

    def test_item_out_of_range(self, probe):
        assert error(lambda: probe.convert("list_i32", [1, 2**31]))[0] is OverflowError

    def test_length_is_only_a_hint(self, probe):
        class Liar(list):
            def __len__(self):
                return 2**62

        class NoLength(list):
            def __len__(self):
                raise ValueError("no length")

        assert probe.convert("list_i32", Liar([1, 2, 3])) == [1, 2, 3]
        assert probe.convert("list_i32", NoLength([4])) == [4]

    def test_iteration_errors(self, probe):
        class BadIter(list):
            def __iter__(self):
                raise ValueError("no iter")

        class StopsBadly(list):
            def __iter__(self):
                yield 1
                raise KeyError("midway")

        assert error(lambda: probe.convert("list_i32", BadIter([1]))) == (ValueError, "no iter")
        assert error(lambda: probe.convert("list_i32", StopsBadly([1])))[0] is KeyError


class TestInstances:
    def test_by_value_copies(self, probe):
        p = probe.Player("Ann")
        assert probe.convert("player", p) == "Ann"
        copies = probe.convert("list_player", [p, p])
        assert [c.name for c in copies] == ["Ann", "Ann"]
        assert all(c is not p for c in copies) and copies[0] is not copies[1]

    def test_by_reference_is_the_object(self, probe):
        p = probe.Player("Ann")
        assert probe.convert("player_ref", p) is p

    def test_wrong_kind(self, probe):
        for kind in ("player", "player_ref"):
            assert error(lambda: probe.convert(kind, 5)) == (
                TypeError, "argument 'value': 'int' object cannot be converted to 'Player'")
        assert error(lambda: probe.convert("list_player", [probe.Player(), "x"])) == (
            TypeError, "argument 'value': 'str' object cannot be converted to 'Player'")


class TestBorrows:
    def test_checked_conflicts_raise_runtime_error(self, probe):
        p = probe.Player("Ann")
        assert error(lambda: probe.hold("exclusive", p, lambda: p.name)) == (
            RuntimeError, "Already mutably borrowed")
        assert error(lambda: probe.hold("shared", p, lambda: setattr(p, "name", "x"))) == (
            RuntimeError, "Already borrowed")
        # a borrow conflict during an argument conversion keeps its type and has no prefix
        assert error(lambda: probe.hold("exclusive", p, lambda: probe.convert("player", p))) == (
            RuntimeError, "Already mutably borrowed")
        assert probe.hold("shared", p, lambda: p.name) == "Ann"
        assert probe.hold("shared", p, lambda: probe.convert("player", p)) == "Ann"
        p.name = "Bea"  # every borrow was released
        assert p.name == "Bea"

    def test_fatal_conflicts_are_internal_faults(self, probe, panic_type, capfd):
        p = probe.Player("Ann")
        assert error(lambda: probe.hold("exclusive", p, lambda: probe.fatal("shared", p))) == (
            panic_type, "Already mutably borrowed: PyBorrowError")
        assert error(lambda: probe.hold("shared", p, lambda: probe.fatal("exclusive", p))) == (
            panic_type, "Already borrowed: PyBorrowMutError")
        assert probe.fatal("exclusive", p) is None
        assert "Already borrowed: PyBorrowMutError" in capfd.readouterr().err


class TestPanics:
    def test_panic_exception_class(self, panic_type):
        assert panic_type.__name__ == "PanicException"
        assert panic_type.__module__ == "kelvora_runtime"
        assert panic_type.__bases__ == (BaseException,)
        assert not issubclass(panic_type, Exception)
        assert "BaseException" in panic_type.__doc__

    def test_fault_is_reported_and_raised(self, probe, panic_type, capfd):
        with pytest.raises(BaseException) as info:
            try:
                probe.fault("boom")
            except Exception:  # a panic passes through `except Exception`
                pytest.fail("PanicException caught as Exception")
        assert info.type is panic_type and info.value.args == ("boom",)
        err = capfd.readouterr().err
        assert "internal fault at " in err and "probe.cpp:" in err and "boom" in err

    def test_panic_raised_by_python_inside_a_conversion_is_resumed(self, probe, panic_type, capfd):
        raised = panic_type("from python")

        class Index:
            def __index__(self):
                raise raised

        with pytest.raises(BaseException) as info:
            probe.convert("i32", Index())
        assert info.type is panic_type and info.value is not raised
        assert str(info.value) == "from python"
        err = capfd.readouterr().err
        assert ("--- kelvora_runtime is resuming a panic after fetching a PanicException "
                "from Python. ---\nPython stack trace below:\n") in err
        assert "from python" in err

    def test_panic_while_building_an_error_message(self, probe, panic_type):
        class Name(str):
            def __str__(self):
                raise panic_type("name")

        assert error(lambda: probe.match(SOME, 1, **{Name("zz"): 1})) == (panic_type, "name")


def test_conversions_leak_no_references(probe):
    import sys

    big, item, player = 2**40, object(), probe.Player("Ann")
    values = [[1, item], (1, 2), [player, player], "12", {1: 2}, big]
    watched = [big, item, player, *values]

    def convert_all():
        for kind in ("i32", "u64", "f32", "list_i32", "list_player", "player", "player_ref", "text"):
            for value in values:
                try:
                    probe.convert(kind, value)
                except (TypeError, OverflowError):
                    pass

    convert_all()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(500):
        convert_all()
    assert [sys.getrefcount(o) for o in watched] == before


def test_panic_while_raising_a_failure_is_raised_not_aborted(probe, panic_type):
    # A setter's type mismatch gets its text only when it is raised; reading the type's
    # name raises a PanicException at that late point.
    p = probe.Player("Ann")
    with pytest.raises(BaseException) as info:
        p.name = with_type_name(raising(panic_type("late")))
    assert (info.type, str(info.value)) == (panic_type, "late")
    assert p.name == "Ann"


class TestRegistration:
    def test_register_appends_to_all(self, probe):
        module = types.ModuleType("m")
        probe.register(module, "Player")
        probe.register(module, "Plain")
        assert module.__all__ == ["Player", "Plain"]
        assert module.Player is probe.Player

    def test_all_that_is_not_a_list(self, probe):
        module = types.ModuleType("m")
        module.__all__ = ("x",)
        assert error(lambda: probe.register(module, "Player")) == (
            TypeError, "'tuple' object cannot be converted to 'PyList'")

    def test_class_attributes_are_made_once(self, probe):
        module = types.ModuleType("m")
        probe.register(module, "Plain")
        assert module.Plain.Answer == 42
        assert module.Plain.Answer is module.Plain.Answer
        assert module.Plain.__doc__ is None

    def test_class_without_constructor(self, probe):
        module = types.ModuleType("m")
        probe.register(module, "Plain")
        assert error(module.Plain) == (TypeError, "No constructor defined")
        assert error(lambda: module.Plain(1, x=2)) == (TypeError, "No constructor defined")

    def test_failed_class_attribute(self, probe):
        module = types.ModuleType("m")
        with pytest.raises(RuntimeError) as info:
            probe.register(module, "Broken")
        assert str(info.value) == "An error occurred while initializing class Broken"
        inner = info.value.__cause__
        assert (type(inner), str(inner)) == (
            RuntimeError, "An error occurred while initializing `Broken.First`")
        assert (type(inner.__cause__), str(inner.__cause__)) == (ValueError, "attribute refused")
        assert not hasattr(module, "Broken") and getattr(module, "__all__", []) == []
