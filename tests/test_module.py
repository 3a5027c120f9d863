"""Import, registration and the shape of the classes as Python sees them."""

import gc
import sys
import weakref

import pytest

import kelvora

REGISTERED = ["Game", "Type", "Variable", "Decision", "Player"]

# Each class with a way to make an instance of it.
CLASSES = {
    kelvora.Game: kelvora.Game,
    kelvora.Type: lambda: kelvora.Type.Normal,
    kelvora.Variable: lambda: kelvora.Variable("v"),
    kelvora.Decision: lambda: kelvora.Decision(kelvora.Player(), "a"),
    kelvora.Player: kelvora.Player,
}


def test_all_lists_the_registered_classes_in_order():
    assert kelvora.__all__ == REGISTERED
    public = [name for name in dir(kelvora) if not name.startswith("__")]
    assert sorted(public) == sorted(REGISTERED)
    assert not any(callable(getattr(kelvora, n)) and not isinstance(getattr(kelvora, n), type)
                   for n in dir(kelvora))


def test_module_is_the_shared_library_itself():
    assert kelvora.__file__.endswith(".so")
    assert kelvora.__doc__ and "kelvora" in kelvora.__doc__


def test_reimport_returns_the_identical_module_and_registers_nothing_again():
    player = kelvora.Player
    del sys.modules["kelvora"]
    try:
        import kelvora as again

        assert again is kelvora
        assert again.Player is player
        assert again.__all__ == REGISTERED
    finally:
        sys.modules["kelvora"] = kelvora


def test_import_emits_no_warning(fresh):
    out = fresh("""
        import warnings
        warnings.simplefilter("error")
        import kelvora
        print(kelvora.Player.__module__)
    """)
    assert out == "kelvora\n"


def test_second_interpreter_gets_import_error(fresh):
    out = fresh("""
        import sys, _xxsubinterpreters as interpreters
        import kelvora
        sub = interpreters.create()
        try:
            interpreters.run_string(sub, "import sys; sys.path[:] = %r; import kelvora" % sys.path)
        except interpreters.RunFailedError as exc:
            print(exc)
        interpreters.destroy(sub)
        print(kelvora.Player("still here").name)
    """)
    first, second = out.splitlines()
    assert first.startswith("<class 'ImportError'>: ")
    assert "sub-interpreters" in first
    assert second == "still here"


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
class TestClassShape:
    def test_names_are_bare_with_module_kelvora(self, cls):
        assert cls.__module__ == "kelvora"
        assert cls.__qualname__ == cls.__name__
        assert repr(cls) == f"<class 'kelvora.{cls.__name__}'>"

    def test_cannot_be_subclassed(self, cls):
        with pytest.raises(TypeError, match=f"^type '{cls.__name__}' is not an acceptable base type$"):
            type("Sub", (cls,), {})

    def test_instances_have_no_dict_no_weakref_and_no_gc(self, cls):
        obj = CLASSES[cls]()
        with pytest.raises(AttributeError):
            obj.undeclared = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)
        assert not gc.is_tracked(obj)
        assert not hasattr(obj, "__dict__")


@pytest.mark.parametrize("cls, signature", [
    (kelvora.Game, "(title=None, players=None, gametype=None)"),
    (kelvora.Player, "(name=None)"),
    (kelvora.Variable, "(name)"),
    (kelvora.Decision, "(player, name, utility=None, variable=None, information_set=None)"),
], ids=lambda v: getattr(v, "__name__", ""))
def test_documentation_gives_signatures(cls, signature):
    assert cls.__text_signature__ == signature
    assert cls.__doc__ == ""
    getter = next(v for v in vars(cls).values() if type(v).__name__ == "getset_descriptor")
    assert getter.__doc__ == ""


def test_class_without_constructor_has_no_documentation():
    assert kelvora.Type.__doc__ is None and kelvora.Type.__text_signature__ is None
    assert list(vars(kelvora.Type)).count("Normal") == 1


def test_method_signatures():
    assert kelvora.Decision.add_node.__text_signature__ == "($self, other)"
    assert kelvora.Decision.add_nodes.__text_signature__ == "($self, *args)"
    assert kelvora.Game.get_ref.__text_signature__ == "($self)"
    assert kelvora.Game.length.__text_signature__ == "($self)"
    assert kelvora.Game.export.__text_signature__ == "($self)"
    assert kelvora.Game.export_latex.__text_signature__ == "($self, scale=None, filename=None)"
