"""Variable: symbolic payoffs that record comparisons on their left operand."""

import operator

import pytest

from kelvora import Variable

from helpers import with_type_name


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "Variable.__new__() missing 1 required positional argument: 'name'"),
    (("a", "b"), {}, "Variable.__new__() takes 1 positional arguments but 2 were given"),
    (("a",), {"name": "b"}, "Variable.__new__() got multiple values for argument 'name'"),
    ((), {"nam": "a"}, "Variable.__new__() got an unexpected keyword argument 'nam'"),
    ((5,), {}, "argument 'name': 'int' object cannot be converted to 'PyString'"),
    ((None,), {}, "argument 'name': 'NoneType' object cannot be converted to 'PyString'"),
    ((b"x",), {}, "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
])
def test_constructor_refusals(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Variable(*args, **kwargs)
    assert str(info.value) == message


def test_ids_start_at_zero_and_refused_calls_use_none(fresh):
    out = fresh("""
        from kelvora import Variable
        first = Variable("x")
        for bad in [(), (5,), ("\\udc80",), ("a", "b")]:
            try:
                Variable(*bad)
            except (TypeError, UnicodeEncodeError):
                pass
        print(first.id, Variable("y").id, Variable(name="z").id)
    """)
    assert out == "0 1 2\n"


def test_fresh_variable():
    v = Variable("utility of Ann")
    assert v.name == "utility of Ann"
    assert (v.lower, v.higher, v.equal) == ([], [], [])
    assert Variable("w").id == v.id + 1


@pytest.mark.parametrize("attr", ["name", "id", "lower", "higher", "equal"])
def test_attributes_are_read_only(attr):
    v = Variable("v")
    before = getattr(v, attr)
    with pytest.raises(AttributeError):
        setattr(v, attr, before)
    with pytest.raises(AttributeError):
        delattr(v, attr)
    assert getattr(v, attr) == before


def test_lists_are_fresh_copies():
    a, b = Variable("a"), Variable("b")
    a < b
    first = a.higher
    assert first is not a.higher
    first.append(99)
    first.clear()
    assert a.higher == [b.id]


RECORDING = [(operator.lt, "higher"), (operator.gt, "lower"), (operator.eq, "equal"),
             (operator.le, None), (operator.ne, None), (operator.ge, None)]


@pytest.mark.parametrize("op, recorded", RECORDING, ids=lambda v: getattr(v, "__name__", v))
def test_comparison_records_on_left_and_answers_a_copy_of_right(op, recorded):
    a, b, c = Variable("a"), Variable("b"), Variable("c")
    b > c  # b has a list of its own, which the copy must carry
    result = op(a, b)
    assert type(result) is Variable and result is not b
    assert (result.name, result.id) == ("b", b.id)
    assert (result.lower, result.higher, result.equal) == ([c.id], [], [])
    for attr in ("lower", "higher", "equal"):
        assert getattr(a, attr) == ([b.id] if attr == recorded else [])
    assert (b.lower, b.higher, b.equal) == ([c.id], [], [])


def test_results_and_sources_are_independent():
    a, b, c = Variable("a"), Variable("b"), Variable("c")
    copy_of_b = a < b
    b < c
    assert copy_of_b.higher == []
    copy_of_b > c
    assert b.lower == []


def test_repeated_comparisons_append_again():
    a, b = Variable("a"), Variable("b")
    a < b
    a < b
    a == b
    assert a.higher == [b.id, b.id] and a.equal == [b.id]


def test_chained_comparison_records_each_link_and_yields_copy_of_last():
    a, b, c = Variable("a"), Variable("b"), Variable("c")
    result = a < b < c
    assert result.id == c.id and result is not c
    assert a.higher == [b.id] and b.higher == [c.id]


def test_comparing_with_itself_is_declined_and_changes_nothing():
    a = Variable("a")
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError, match="not supported between instances of 'Variable' and 'Variable'"):
            op(a, a)
    assert (a == a) is True and (a != a) is False
    assert (a.lower, a.higher, a.equal) == ([], [], [])


@pytest.mark.parametrize("other", [5, 2.5, "a", None, with_type_name(lambda: "Odd")],
                         ids=["int", "float", "str", "None", "odd"])
def test_comparing_with_other_kinds_is_declined(other):
    a = Variable("a")
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(a, other)
        with pytest.raises(TypeError):
            op(other, a)
    assert (a == other) is False and (other == a) is False
    assert (a != other) is True and (other != a) is True
    assert (a.lower, a.higher, a.equal) == ([], [], [])


def test_unhashable():
    a = Variable("a")
    for use in (hash, lambda v: {v: 1}, lambda v: {v}):
        with pytest.raises(TypeError, match="unhashable type: 'Variable'"):
            use(a)
