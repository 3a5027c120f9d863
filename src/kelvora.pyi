"""All of kelvora's structures and functions are packed into the kelvora module."""

from collections.abc import Iterable, Sequence
from os import PathLike
from typing import ClassVar, Never, SupportsFloat, SupportsIndex, TypeAlias, final, overload

__all__ = ["Game", "Type", "Variable", "Decision", "Player"]

# What a float parameter accepts: floats, ints and objects with __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# What names a file: as os.fspath() takes it.
_Path: TypeAlias = str | bytes | PathLike[str] | PathLike[bytes]

@final
class Game:
    """A game: a title, the players ("Nature" first), its Type and the root of its tree. The
    tree is shared: nodes added to it stay the very objects the caller holds."""

    def __new__(
        cls, title: str | None = None, players: int | None = None, gametype: Type | None = None
    ) -> Game: ...
    @property
    def title(self) -> str: ...
    @property
    def player(self) -> list[Player]: ...
    @property
    def gametype(self) -> Type: ...
    @property
    def root(self) -> Decision: ...
    def export(self) -> str:
        """The tree as Graphviz DOT text."""
    @overload
    def export_latex(self, scale: _Real | None = None, filename: None = None) -> str:
        """The tree as a LaTeX/TikZ figure: returned as text, or written to `filename`."""
    @overload
    def export_latex(self, scale: _Real | None, filename: str) -> None: ...
    @overload
    def export_latex(self, scale: _Real | None = None, *, filename: str) -> None: ...
    @overload
    def export_svg(self, /, filename: None = None, *, direction: str | None = None,
                   infosets: str | None = None,
                   highlight: Iterable[Decision] | None = None) -> str:
        """The tree drawn by kelvora's own layout, as an SVG document: returned as text, or
        written whole to `filename` (an OSError as open() raises it when that fails). It grows
        "down" or "right" (`direction`), draws information sets as dashed lines or outlines
        (`infosets`: "line" or "outline") and the edges into the `highlight` nodes thick."""
    @overload
    def export_svg(self, /, filename: _Path, *, direction: str | None = None,
                   infosets: str | None = None,
                   highlight: Iterable[Decision] | None = None) -> None: ...
    @overload
    def export_tikz(self, /, filename: None = None, *, width: str | None = None) -> str:
        """The tree drawn by kelvora's own layout, as a bare tikzpicture as wide as `width` (a
        TeX length, \\linewidth by default), its names set as text with TeX's special
        characters escaped ($...$ as math): returned as text, or written whole to `filename`."""
    @overload
    def export_tikz(self, /, filename: _Path, *, width: str | None = None) -> None: ...
    def _repr_svg_(self) -> str | None:
        """export_svg() for IPython and Jupyter; None above 5,000 node occurrences."""
    def get_ref(self) -> Game: ...
    def length(self) -> int: ...
    def __add__(self, other: Decision, /) -> Game: ...
    # Present because `+` is defined, but only ever declines: a game adds only on the left.
    def __radd__(self, other: Never, /) -> Never: ...

@final
class Type:
    """The kind of a game. Equal to its int value (0 or 1) and to itself; not ordered, not
    hashable, and not constructible: use Type.Normal or Type.Extensive."""

    Normal: ClassVar[Type]
    Extensive: ClassVar[Type]
    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    __hash__: None  # type: ignore[assignment]

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
