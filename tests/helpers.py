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
