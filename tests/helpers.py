"""Hostile objects shared by several test files."""


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
