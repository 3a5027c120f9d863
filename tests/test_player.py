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
