"""All of kelvora's structures and functions are packed into the kelvora module."""

from typing import final

__all__ = ["Player"]

@final
class Player:
    """A participant of a game, known by name. Players are copied wherever they are handed over."""

    def __new__(cls, name: str | None = None) -> Player: ...
    @property
    def name(self) -> str: ...
    @name.setter
    def name(self, value: str) -> None: ...
