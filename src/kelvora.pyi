"""All of kelvora's structures and functions are packed into the kelvora module."""

from collections.abc import Sequence
from typing import final

__all__ = ["Variable", "Decision", "Player"]

@final
class Variable:
    """A symbolic payoff. `a < b`, `a > b` and `a == b` record b's id on a (in `higher`,
    `lower`, `equal`) and evaluate to a copy of b."""

    def __new__(cls, name: str) -> Variable: ...
    @property
    def name(self) -> str: ...
    @property
    def id(self) -> int: ...
    @property
    def lower(self) -> list[int]: ...
    @property
    def higher(self) -> list[int]: ...
    @property
    def equal(self) -> list[int]: ...
    def __lt__(self, other: Variable, /) -> Variable: ...  # type: ignore[override]
    def __le__(self, other: Variable, /) -> Variable: ...  # type: ignore[override]
    def __eq__(self, other: object, /) -> Variable | bool: ...  # type: ignore[override]
    def __ne__(self, other: object, /) -> Variable | bool: ...  # type: ignore[override]
    def __gt__(self, other: Variable, /) -> Variable: ...  # type: ignore[override]
    def __ge__(self, other: Variable, /) -> Variable: ...  # type: ignore[override]
    __hash__: None  # type: ignore[assignment]

@final
class Decision:
    """A node of a game tree: the action `name` taken by `player`. Children are shared; the
    player and the payoff are copied in."""

    def __new__(
        cls,
        player: Player,
        name: str,
        utility: Sequence[int] | None = None,
        variable: Sequence[Variable] | None = None,
        information_set: int | None = None,
    ) -> Decision: ...
    @property
    def player(self) -> Player: ...
    @property
    def name(self) -> str: ...
    @name.setter
    def name(self, value: str) -> None: ...
    @property
    def children(self) -> list[Decision]: ...
    @property
    def information_set(self) -> int | None: ...
    def add_node(self, other: Decision) -> Decision: ...
    def add_nodes(self, *args: Decision) -> Decision: ...
    def __add__(self, other: Decision, /) -> Decision: ...
    def __radd__(self, other: Decision, /) -> Decision: ...

@final
class Player:
    """A participant of a game, known by name. Players are copied wherever they are handed over."""

    def __new__(cls, name: str | None = None) -> Player: ...
    @property
    def name(self) -> str: ...
    @name.setter
    def name(self, value: str) -> None: ...
