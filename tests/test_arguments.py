"""Argument matching, conversion errors and their exact texts, reached through Player."""

import sys

import pytest

from helpers import raising, with_type_name
from kelvora import Player


def message_of(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.type, str(info.value)


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda make: make("Ann", "Bob"),
         "Player.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda make: make("a", "b", "c"),
         "Player.__new__() takes from 0 to 1 positional arguments but 3 were given"),
        # too many positionals are reported before a wrong keyword is looked at
        (lambda make: make("a", "b", nam=1),
         "Player.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda make: make(nam=1), "Player.__new__() got an unexpected keyword argument 'nam'"),
        (lambda make: make("a", name="b"), "Player.__new__() got multiple values for argument 'name'"),
        (lambda make: make(name="a", nam="b"),
         "Player.__new__() got an unexpected keyword argument 'nam'"),
        (lambda make: make(5), "argument 'name': 'int' object cannot be converted to 'PyString'"),
        (lambda make: make(name=b"Ann"),
         "argument 'name': 'bytes' object cannot be converted to 'PyString'"),
        (lambda make: make([]), "argument 'name': 'list' object cannot be converted to 'PyString'"),
        (lambda make: make(Player),
         "argument 'name': 'type' object cannot be converted to 'PyString'"),
        (lambda make: make(Player()),
         "argument 'name': 'Player' object cannot be converted to 'PyString'"),
    ],
)
# A call of the class and an explicit __new__ call take different routes into the module
# (an argument array, or a tuple and a dict); both must match arguments alike.
@pytest.mark.parametrize("make", [Player, lambda *a, **k: Player.__new__(Player, *a, **k)],
                         ids=["call", "__new__"])
def test_type_errors(make, call, expected):
    assert message_of(lambda: call(make)) == (TypeError, expected)


def test_none_means_the_default():
    assert Player(None).name == Player().name == Player(name=None).name == "player"


def test_lone_surrogate_is_the_interpreters_unicode_error_without_prefix():
    kind, text = message_of(lambda: Player("\ud800"))
    assert kind is UnicodeEncodeError
    assert not text.startswith("argument")


def test_unexpected_keyword_with_lone_surrogate_is_shown_replaced():
    kind, text = message_of(lambda: Player(**{"x\ud800": 1}))
    assert (kind, text) == (
        TypeError,
        "Player.__new__() got an unexpected keyword argument 'x\ufffd\ufffd\ufffd'",
    )


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text")


def test_keyword_whose_str_fails_is_reported_unraisable():
    hook_calls = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = hook_calls.append
    try:
        kind, text = message_of(lambda: Player(**{UnprintableName("zz"): 1}))
    finally:
        sys.unraisablehook = old_hook
    assert (kind, text) == (
        TypeError, "Player.__new__() got an unexpected keyword argument '<unprintable UnprintableName object>'")
    assert len(hook_calls) == 1 and isinstance(hook_calls[0].exc_value, ValueError)


def test_keyword_that_is_not_the_interned_name_still_matches():
    class Name(str):
        pass

    built = "".join(["na", "me"])
    assert sys.intern(built) is not built
    for name in [Name("name"), built]:
        assert Player(**{name: "Ann"}).name == "Ann"
        assert message_of(lambda: Player("Bob", **{name: "Ann"})) == (
            TypeError, "Player.__new__() got multiple values for argument 'name'")


def test_type_name_that_cannot_be_read_is_replaced():
    hidden = with_type_name(raising(ValueError("hidden")))
    odd = with_type_name(lambda: 5)

    expected = "argument 'name': '<failed to extract type name>' object cannot be converted to 'PyString'"
    assert message_of(lambda: Player(hidden)) == (TypeError, expected)
    assert message_of(lambda: Player(odd)) == (TypeError, expected)


def test_prefixed_error_has_no_context_and_no_cause():
    with pytest.raises(TypeError) as info:
        Player(5)
    assert info.value.__cause__ is None


def test_failed_calls_leak_no_references():
    name, value, good = "nam", object(), "Ann"
    before = [sys.getrefcount(o) for o in (name, value, good)]
    for _ in range(1000):
        with pytest.raises(TypeError):
            Player(**{name: value})
        with pytest.raises(TypeError):
            Player(value)
        with pytest.raises(TypeError):
            Player(good, name=good)
        Player(good)
    assert [sys.getrefcount(o) for o in (name, value, good)] == before
