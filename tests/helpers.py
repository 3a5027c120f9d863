"""Hostile objects and small checks shared by several test files."""

import pytest


def with_type_name(read):
    """An object whose type answers `__qualname__` with whatever `read()` returns or raises."""

    class Meta(type):
        def __getattribute__(cls, attr):
            if attr == "__qualname__":
                return read()
            return super().__getattribute__(attr)

    class Odd(metaclass=Meta):
        pass

    return Odd()


def raising(exc):
    """A function that raises `exc`."""

    def read():
        raise exc

    return read


def error(call):
    """The type and text of the exception that `call()` raises (PanicException included)."""
    with pytest.raises(BaseException) as info:
        call()
    return info.type, str(info.value)


def worked_example(kelvora, information_sets=True):
    """Alice moves L or R, then Bob l or r; made in the order root, A, B, A1, A2, B1, B2, so
    that in a fresh process the node numbers are 0 to 6. A and B share information set 1."""
    game = kelvora.Game()
    alice, bob = kelvora.Player("Alice"), kelvora.Player("Bob")
    k = 1 if information_sets else None
    a = kelvora.Decision(alice, "L", information_set=k)
    b = kelvora.Decision(alice, "R", information_set=k)
    a.add_nodes(kelvora.Decision(bob, "l", utility=[1, 2]), kelvora.Decision(bob, "r", utility=[0, 0]))
    b.add_nodes(kelvora.Decision(bob, "l", utility=[2, 1]), kelvora.Decision(bob, "r", utility=[3, 3]))
    game += a
    game += b
    return game


def required_tool(name):
    """The path of an external program, or None when it is missing. Where the tools must be
    present (KELVORA_REQUIRE_TOOLS is set, as in CI) a missing one fails the test instead."""
    import os
    import shutil

    path = shutil.which(name)
    if path is None and os.environ.get("KELVORA_REQUIRE_TOOLS"):
        pytest.fail(f"{name} is required (KELVORA_REQUIRE_TOOLS is set) but not installed")
    return path


def graphviz_accepts(text):
    """Feeds DOT text to Graphviz when it is installed and checks that it draws it."""
    import subprocess

    dot = required_tool("dot")
    if dot is not None:
        result = subprocess.run([dot, "-Tsvg"], input=text.encode(), capture_output=True,
                                timeout=120)
        assert result.returncode == 0 and not result.stderr, result.stderr.decode()
    return text


def rsvg_draws(svg):
    """Has rsvg-convert (librsvg) draw an SVG document when it is installed, and checks that it
    draws it without a complaint."""
    import subprocess

    rsvg = required_tool("rsvg-convert")
    if rsvg is not None:
        result = subprocess.run([rsvg, "-f", "png"], input=svg.encode(), capture_output=True,
                                timeout=120)
        assert result.returncode == 0 and not result.stderr, result.stderr.decode()
    return svg
