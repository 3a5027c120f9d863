"""Import, registration and the shape of the classes as Python sees them."""

import gc
import os
import sys
import weakref
from pathlib import Path

import pytest

import kelvora
from conftest import run_fresh

REGISTERED = ["Game", "Type", "Variable", "Decision", "Player"]
# Module functions, which are attributes of the module but not in __all__.
FUNCTIONS = ["load_efg", "loads_efg"]

# Each class with a way to make an instance of it.
CLASSES = {
    kelvora.Game: kelvora.Game,
    kelvora.Type: lambda: kelvora.Type.Normal,
    kelvora.Variable: lambda: kelvora.Variable("v"),
    kelvora.Decision: lambda: kelvora.Decision(kelvora.Player(), "a"),
    kelvora.Player: kelvora.Player,
    kelvora.Equilibrium: lambda: (kelvora.Game() + kelvora.Decision(
        kelvora.Player("Player 1"), "a", utility=[1, 2])).backward_induction()[0],
}


def test_all_lists_the_registered_classes_in_order():
    assert kelvora.__all__ == REGISTERED
    public = [name for name in dir(kelvora) if not name.startswith("__")]
    # Equilibrium, which only Game.backward_induction makes, is reachable but not exported.
    assert sorted(public) == sorted(REGISTERED + FUNCTIONS + ["Equilibrium"])
    assert sorted(n for n in dir(kelvora)
                  if callable(getattr(kelvora, n)) and not isinstance(getattr(kelvora, n), type)
                  ) == FUNCTIONS


def test_module_is_the_shared_library_itself():
    assert kelvora.__file__.endswith(".so")
    # Set where an installed wheel is tested, so that a module found elsewhere cannot pass.
    if "KELVORA_MODULE_DIR" in os.environ:
        assert Path(kelvora.__file__).parent == Path(os.environ["KELVORA_MODULE_DIR"])
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


# Runs SUB (code that imports kelvora) in a new sub-interpreter of each kind this CPython has.
# Legacy ones share the main interpreter's lock and settings; isolated ones (3.12 on) have their
# own lock and refuse single-phase modules such as kelvora.
SUBINTERPRETERS = {"legacy": "import _testcapi; _testcapi.run_in_subinterp(SUB)"}
if sys.version_info >= (3, 13):
    SUBINTERPRETERS["isolated"] = (
        "import _interpreters as i; s = i.create('isolated'); i.run_string(s, SUB); i.destroy(s)")
elif sys.version_info >= (3, 12):
    SUBINTERPRETERS["isolated"] = (
        "import _xxsubinterpreters as i; s = i.create(isolated=True); i.run_string(s, SUB); "
        "i.destroy(s)")

REFUSED = ("ImportError: kelvora does not support sub-interpreters: it can be imported only in "
           "the main interpreter")
# What CPython 3.12 and 3.13 themselves raise for a single-phase module in an isolated one.
CPYTHON_REFUSES = "ImportError: module kelvora does not support loading in subinterpreters"
SUBINTERPRETER_CASES = [  # kind, the sub-interpreter imports first, what it gets
    ("legacy", True, REFUSED),
    ("legacy", False, REFUSED),
    # 3.12 calls PyInit_kelvora before its own check; 3.13 loads the module in the main
    # interpreter first and then refuses it to the isolated one.
    ("isolated", True, REFUSED if sys.version_info < (3, 13) else CPYTHON_REFUSES),
    # Once the module is loaded, CPython refuses it without calling PyInit_kelvora.
    ("isolated", False, CPYTHON_REFUSES),
]


@pytest.mark.parametrize("kind, sub_first, expected", [
    pytest.param(*case, id=f"{case[0]}-{'sub' if case[1] else 'main'}-first")
    for case in SUBINTERPRETER_CASES if case[0] in SUBINTERPRETERS
])
def test_only_the_main_interpreter_can_import(kind, sub_first, expected):
    sub = (f"import sys; sys.path[:] = {sys.path!r}\n"
           "try:\n"
           "    import kelvora\n"
           "    print('sub:', kelvora.Player('s').name, flush=True)\n"
           "except ImportError as exc:\n"
           "    print('sub: ImportError:', exc, flush=True)\n")
    steps = [f"SUB = {sub!r}\n{SUBINTERPRETERS[kind]}",
             "import kelvora\nprint('main:', kelvora.Player('m').name, flush=True)"]
    result = run_fresh("\n".join(steps if sub_first else steps[::-1]))
    assert result.returncode == 0, result.stderr
    lines = [f"sub: {expected}", "main: m"]
    assert result.stdout.splitlines() == (lines if sub_first else lines[::-1])


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
    assert kelvora.Game.export_svg.__text_signature__ == (
        "($self, /, filename=None, *, direction='down', infosets='line', highlight=())")
    assert kelvora.Game.export_tikz.__text_signature__ == (
        "($self, /, filename=None, *, width=None, height=None, direction='down', "
        "infosets='line', highlight=())")
    assert kelvora.Game._repr_svg_.__text_signature__ == "($self, /)"
