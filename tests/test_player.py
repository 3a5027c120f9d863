"""Player: a name that is copied wherever it goes."""

import pytest

from kelvora import Player


def test_default_and_given_names():
    assert Player().name == "player"
    assert Player("").name == ""
    assert Player(name="Ann").name == "Ann"
    assert Player("Zoë \u2603 \U0001F600").name == "Zoë \u2603 \U0001F600"
    assert Player("a\0b").name == "a\0b"


def test_str_subclass_becomes_a_plain_str():
    class Name(str):
        pass

    name = Player(Name("Ann")).name
    assert name == "Ann" and type(name) is str


def test_rename():
    p = Player("Ann")
    p.name = "Bea"
    assert p.name == "Bea"


@pytest.mark.parametrize("value", [7, None, b"Bea", ["Bea"]])
def test_rename_with_non_str_is_refused_and_changes_nothing(value):
    p = Player("Ann")
    with pytest.raises(TypeError) as info:
        p.name = value
    assert str(info.value) == f"'{type(value).__qualname__}' object cannot be converted to 'PyString'"
    assert p.name == "Ann"


def test_rename_with_lone_surrogate_changes_nothing():
    p = Player("Ann")
    with pytest.raises(UnicodeEncodeError):
        p.name = "\udc80"
    assert p.name == "Ann"


def test_name_cannot_be_deleted():
    p = Player("Ann")
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del p.name
    assert p.name == "Ann"


def test_each_read_is_a_new_string():
    p = Player("a long enough name to not be interned")
    assert p.name is not p.name


def test_identity_semantics():
    a, b = Player("Ann"), Player("Ann")
    assert a != b and a == a
    assert hash(a) != hash(b) or a is not b
    assert repr(a).startswith("<kelvora.Player object at ")


def test_descriptor_refuses_foreign_receivers():
    with pytest.raises(TypeError):
        Player.name.__get__(5)
    with pytest.raises(TypeError):
        Player.name.__set__(5, "x")


class Hostile:
    """An object whose every protocol method fails."""

    def __index__(self):
        raise ValueError("index")

    def __str__(self):
        raise ValueError("str")

    def __eq__(self, other):
        raise ValueError("eq")

    __hash__ = None

    def __len__(self):
        raise ValueError("len")

    def __iter__(self):
        raise ValueError("iter")


def generator():
    yield "Ann"


@pytest.mark.parametrize(
    "value",
    [True, 0, -1, 2**31, 2**64, 2**200, float("nan"), float("inf"), -0.0, b"Ann",
     bytearray(b"Ann"), {"Ann": 1}, {"Ann"}, ["Ann"], ("Ann",), generator(), Hostile(), Player,
     Player("Ann"), object(), NotImplemented, Ellipsis],
    ids=repr,
)
def test_every_non_str_name_is_refused_with_its_type_named(value):
    expected = f"'{type(value).__qualname__}' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as info:
        Player(value)
    assert str(info.value) == "argument 'name': " + expected
    with pytest.raises(TypeError) as info:
        Player(name=value)
    assert str(info.value) == "argument 'name': " + expected
    p = Player("Ann")
    with pytest.raises(TypeError) as info:
        p.name = value
    assert str(info.value) == expected
    assert p.name == "Ann"


def test_constructor_through_dunder_new():
    assert Player.__new__(Player, "Ann").name == "Ann"
    with pytest.raises(TypeError):
        Player.__new__(int)


def test_players_cannot_be_pickled_or_copied_by_accident():
    import copy
    import pickle

    with pytest.raises(TypeError):
        pickle.dumps(Player("Ann"))
    with pytest.raises(TypeError):
        copy.copy(Player("Ann"))
