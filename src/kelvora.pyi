"""All of kelvora's structures and functions are packed into the kelvora module."""

from collections.abc import Iterable, Mapping, Sequence
from decimal import Decimal
from fractions import Fraction
from os import PathLike
from typing import (
    ClassVar,
    Literal,
    Never,
    Protocol,
    SupportsFloat,
    SupportsIndex,
    TypeAlias,
    final,
    overload,
)

__all__ = ["Game", "Type", "Variable", "Decision", "Player"]

# What a float parameter accepts: floats, ints and objects with __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An exact number: read exactly, a float by its shortest repr, a str as "0.25" or "1/3".
_Exact: TypeAlias = int | Fraction | Decimal | float | str
# What names a file: as os.fspath() takes it.
_Path: TypeAlias = str | bytes | PathLike[str] | PathLike[bytes]
# The drawings' choices: which way the tree grows, and how an information set is drawn.
_Direction: TypeAlias = Literal["down", "right"]
_SetStyle: TypeAlias = Literal["line", "outline"]

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
    def export_svg(
        self,
        /,
        filename: None = None,
        *,
        direction: _Direction = "down",
        infosets: _SetStyle = "line",
        highlight: Iterable[Decision] | Equilibrium = (),
    ) -> str:
        """The tree drawn by kelvora's own layout, as an SVG document: growing `direction`
        ("down" or "right"), each information set drawn as a dashed `line` or `outline`, the
        edges into the `highlight` nodes drawn thick. Returned as text, or written whole to
        `filename` (an OSError as open() raises it when that fails; the old file stays)."""
    @overload
    def export_svg(
        self,
        /,
        filename: _Path,
        *,
        direction: _Direction = "down",
        infosets: _SetStyle = "line",
        highlight: Iterable[Decision] | Equilibrium = (),
    ) -> None: ...
    @overload
    def export_tikz(
        self,
        /,
        filename: None = None,
        *,
        width: str | None = None,
        height: str | None = None,
        direction: _Direction = "down",
        infosets: _SetStyle = "line",
        highlight: Iterable[Decision] | Equilibrium = (),
    ) -> str:
        """The same drawing as a bare tikzpicture at its natural size, shrunk as a whole only
        to fit `width` (a TeX length, \\linewidth by default) and `height` (no limit by
        default), its names printed as written ($...$ as math): returned as text, or written
        whole to `filename`."""
    @overload
    def export_tikz(
        self,
        /,
        filename: _Path,
        *,
        width: str | None = None,
        height: str | None = None,
        direction: _Direction = "down",
        infosets: _SetStyle = "line",
        highlight: Iterable[Decision] | Equilibrium = (),
    ) -> None: ...
    @overload
    def export_efg(self, /, filename: None = None) -> str:
        """The game as a Gambit .efg file (version 2), if it passes validate(): returned as
        text, or written whole to `filename`. Nature's nodes are chance nodes; information
        sets are numbered per player, and outcomes, in order of first appearance: nodes read
        from one outcome of a file share it, with its name, while their payoffs agree."""
    @overload
    def export_efg(self, /, filename: _Path) -> None: ...
    def _repr_svg_(self) -> str | None:
        """export_svg() for IPython and Jupyter; None above 5,000 node occurrences."""
    def validate(self) -> None:
        """None for a sound game, else ValueError listing its problems, each after the path of
        node names from the root ("root > In > Fight"). Payoff entry i is game.player[i + 1]
        when any mover has one of the game's player names, else the i-th mover (not Nature)
        in order of first appearance."""
    def backward_induction(self, /, limit: int = 100) -> list[Equilibrium]:
        """The pure-strategy subgame-perfect equilibria, at most `limit` (>= 1) of them, in a
        fixed order; [] when there is none. Backward induction where every information set is
        one node, exact expected payoffs at chance nodes, and the pure profiles of a subgame
        with larger sets (at most 1,000,000) kept where no player gains by changing their
        actions. Variables compare through their recorded relations. ValueError for a game
        that validate() refuses, payoffs that cannot be compared, or a subgame too large."""
    def get_ref(self) -> Game: ...
    def length(self) -> int: ...
    def __add__(self, other: Decision, /) -> Game: ...
    # Present because `+` is defined, but only ever declines: a game adds only on the left.
    def __radd__(self, other: Never, /) -> Never: ...

@final
class Equilibrium:
    """A subgame-perfect equilibrium, made by Game.backward_induction(); immutable."""

    @property
    def payoff(self) -> tuple[int | Fraction | Variable, ...]:
        """The expected payoff of its play, one entry per player that payoffs count."""
    @property
    def path(self) -> tuple[Decision, ...]:
        """The nodes reached with positive probability, root first, in pre-order."""
    @property
    def choices(self) -> Mapping[Decision, Decision]:
        """Every node where a player moves, mapped to the child chosen there."""

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
    @property
    def probability(self) -> Fraction | None:
        """The chance of this node where Nature moves at its parent, kept exactly, 0 to 1."""
    @probability.setter
    def probability(self, value: _Exact | None) -> None: ...
    @probability.deleter
    def probability(self) -> None: ...
    @property
    def payoff(self) -> list[int | Fraction] | list[Variable] | None:
        """What this node pays: integers as int, other numbers as Fraction, or Variables."""
    @payoff.setter
    def payoff(self, value: Iterable[_Exact] | Iterable[Variable] | None) -> None: ...
    @payoff.deleter
    def payoff(self) -> None: ...
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

# What load_efg reads a game from besides a path: any object with read().
class _Readable(Protocol):
    def read(self) -> str | bytes: ...

def loads_efg(text: str | bytes | bytearray) -> Game:
    """The Game of a Gambit .efg text: the file's first node is the root, each node named by
    its action; a malformed text raises ValueError with its line and column."""

def load_efg(file: _Path | _Readable) -> Game:
    """The Game of a Gambit .efg file: a path, or a binary or text file object."""
