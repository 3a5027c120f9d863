"""Game and Type: a game's own fields, its shared tree, and the kind of game."""

import sys

import pytest

from kelvora import Decision, Game, Player, Type, Variable

import model as m
from helpers import error


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def other_instance(member):
    """A Type equal to `member` that is not the class attribute itself."""
    return Game(gametype=member).gametype


class TestType:
    def test_members_are_made_once(self):
        assert Type.Normal is Type.Normal and Type.Extensive is Type.Extensive
        assert Type.Normal is not Type.Extensive
        assert type(Type.Normal) is Type
        assert error(Type) == (TypeError, "No constructor defined")

    @pytest.mark.parametrize("member, text, value", [
        (Type.Normal, "Type.Normal", 0),
        (Type.Extensive, "Type.Extensive", 1),
    ])
    def test_text_and_value(self, member, text, value):
        assert repr(member) == str(member) == text
        assert int(member) == value and type(int(member)) is int

    @pytest.mark.parametrize("member, other, equal", [
        (Type.Normal, 0, True),
        (Type.Normal, 1, False),
        (Type.Extensive, 1, True),
        (Type.Extensive, True, True),
        (Type.Normal, False, True),
        (Type.Extensive, 2, False),
        (Type.Extensive, -1, False),
        (Type.Extensive, Index(1), True),
        (Type.Normal, Index(0), True),
        (Type.Normal, Type.Normal, True),
        (Type.Normal, Type.Extensive, False),
        # Declined: CPython falls back to identity.
        (Type.Extensive, 1.0, False),
        (Type.Normal, 0.0, False),
        (Type.Normal, "Normal", False),
        (Type.Normal, "0", False),
        (Type.Normal, 2**70, False),
        (Type.Normal, -(2**70), False),
        (Type.Normal, Index(2**64), False),
        (Type.Normal, None, False),
        (Type.Normal, [0], False),
    ], ids=repr)
    def test_equality_whichever_side(self, member, other, equal):
        assert (member == other) is equal and (other == member) is equal
        assert (member != other) is not equal and (other != member) is not equal

    def test_members_read_from_games_are_new_but_equal(self):
        game = Game(gametype=Type.Extensive)
        first, second = game.gametype, game.gametype
        assert first is not second and first is not Type.Extensive
        assert first == second == Type.Extensive != Type.Normal

    def test_failing_index_is_swallowed(self):
        class Failing:
            def __index__(self):
                raise ValueError("index")

        assert (Type.Normal == Failing()) is False
        assert (Type.Normal != Failing()) is True

    def test_panic_raised_by_index_is_not_swallowed(self, probe, capfd):
        with pytest.raises(BaseException) as info:
            probe.fault("find the class")
        panic = info.type

        class Index:
            def __index__(self):
                raise panic("stop")

        with pytest.raises(BaseException) as info:
            probe.Type.Normal == Index()
        assert info.type is panic and str(info.value) == "stop"
        assert "resuming a panic" in capfd.readouterr().err

    def test_ordering_and_hashing_are_unsupported(self):
        for order in (lambda a, b: a < b, lambda a, b: a <= b, lambda a, b: a > b,
                      lambda a, b: a >= b):
            with pytest.raises(TypeError, match="not supported between instances of 'Type' and"):
                order(Type.Normal, Type.Extensive)
            with pytest.raises(TypeError):
                order(Type.Normal, 0)
        assert error(lambda: hash(Type.Normal)) == (TypeError, "unhashable type: 'Type'")
        with pytest.raises(TypeError):
            {Type.Extensive}

    def test_busy_member_is_declined(self, probe):
        member = probe.Type.Extensive
        assert probe.hold("exclusive", member, lambda: member == 1) is False
        assert probe.hold("shared", member, lambda: member == 1) is True
        assert probe.hold("exclusive", member, lambda: probe.Type.Normal == member) is False


class TestConstruction:
    def test_defaults(self):
        game = Game()
        assert game.title == "Untitled Game"
        assert [p.name for p in game.player] == ["Nature", "Player 1", "Player 2"]
        assert game.gametype == Type.Normal
        assert game.root.name == "root" and game.root.player.name == "player"
        assert game.root.children == [] and game.root.information_set is None
        assert game.length() == 0
        assert str(game) == "title: Untitled Game root: root children: "

    def test_arguments_by_position_and_keyword(self):
        for game in (Game("Entry", 1, Type.Extensive),
                     Game(gametype=Type.Extensive, players=1, title="Entry"),
                     Game("Entry", players=Index(1), gametype=other_instance(Type.Extensive))):
            assert game.title == "Entry" and game.gametype == Type.Extensive
            assert [p.name for p in game.player] == ["Nature", "Player 1"]
        assert Game(None, None, None).title == "Untitled Game"

    @pytest.mark.parametrize("count", [0, 3, 12, True])
    def test_player_names(self, count):
        names = [p.name for p in Game(players=count).player]
        assert names == ["Nature"] + [f"Player {i}" for i in range(1, count + 1)]

    def test_a_million_players(self):
        players = Game(players=10**6).player
        assert len(players) == 10**6 + 1 and players[-1].name == "Player 1000000"

    @pytest.mark.parametrize("count", [2**62, 2**64 - 1, 10**12])
    def test_absurd_player_counts_are_refused_before_allocating(self, count):
        kind, text = error(lambda: Game(players=count))
        assert kind is MemoryError and str(count) in text

    def test_the_models_player_bound_is_the_codes(self, probe):
        assert m.BYTES_PER_PLAYER == probe.bytes_per_player()
        kind, text = error(lambda: Game(players=m.PLAYER_LIMIT + 1))
        assert kind is MemoryError and str(m.PLAYER_LIMIT + 1) in text

    @pytest.mark.parametrize("kwargs, expected", [
        ({"title": 5}, (TypeError, "argument 'title': 'int' object cannot be converted to 'PyString'")),
        ({"title": "\udc80"}, UnicodeEncodeError),
        ({"players": -1}, (OverflowError, "can't convert negative int to unsigned")),
        ({"players": 2**64}, OverflowError),
        ({"players": 1.5}, (TypeError,
                            "argument 'players': 'float' object cannot be interpreted as an integer")),
        ({"players": "2"}, TypeError),
        ({"gametype": 1}, (TypeError, "argument 'gametype': 'int' object cannot be converted to 'Type'")),
        ({"gametype": "Normal"}, TypeError),
        ({"gametype": Type}, TypeError),
        ({"title": "t", "x": 1}, (TypeError, "Game.__new__() got an unexpected keyword argument 'x'")),
    ], ids=repr)
    def test_refused_arguments(self, kwargs, expected):
        kind, text = error(lambda: Game(**kwargs))
        if isinstance(expected, tuple):
            assert (kind, text) == expected
        else:
            assert kind is expected

    def test_first_failure_wins_in_parameter_order(self):
        kind, text = error(lambda: Game(title=1, players=-1, gametype=1))
        assert text.startswith("argument 'title'")
        kind, text = error(lambda: Game(players=1.5, gametype=1))
        assert text.startswith("argument 'players'")

    def test_busy_gametype_is_refused(self, probe):
        member = probe.Type.Extensive
        assert probe.hold("exclusive", member, lambda: error(lambda: probe.Game(gametype=member))) == (
            RuntimeError, "Already mutably borrowed")
        game = probe.hold("shared", member, lambda: probe.Game(gametype=member))
        assert game.gametype == member


class TestNodeNumbers:
    def test_a_game_uses_exactly_one_node_number(self, probe, fresh):
        out = fresh(f"""
            import importlib.util
            spec = importlib.util.spec_from_file_location("_kelvora_probe", {probe.__file__!r})
            probe = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(probe)
            first = probe.Decision(probe.Player(), "a")
            game = probe.Game()
            for bad in [dict(players=-1), dict(title=1), dict(gametype=0)]:
                try:
                    probe.Game(**bad)
                except (TypeError, OverflowError):
                    pass
            after = probe.Decision(probe.Player(), "b")
            print([probe.node(n)[0] for n in (first, game.root, after)])
        """)
        assert out == "[0, 1, 2]\n"

    def test_copies_and_additions_make_no_node(self, probe):
        game = probe.Game()
        start = probe.node(game.root)[0]
        game.get_ref()
        game + probe.Decision(probe.Player(), "a")
        assert probe.node(probe.Decision(probe.Player(), "b"))[0] == start + 2


class TestAttributes:
    def test_reads_give_new_objects_except_the_root(self):
        game = Game("T")
        assert game.root is game.root
        assert game.player is not game.player and game.player[0] is not game.player[0]
        taken = game.player[1]
        taken.name = "Zed"
        assert game.player[1].name == "Player 1"
        assert game.title == "T"

    @pytest.mark.parametrize("attr", ["title", "player", "gametype", "root"])
    def test_read_only(self, attr):
        game = Game()

        def read():
            value = getattr(game, attr)
            return [p.name for p in value] if attr == "player" else str(value)

        before = read()
        for change in (lambda: setattr(game, attr, getattr(game, attr)),
                       lambda: delattr(game, attr)):
            with pytest.raises(AttributeError):
                change()
        assert read() == before

    def test_root_changes_show_through_the_game(self):
        game = Game()
        game.root.name = "start"
        assert " root: start children: " in str(game)
        game.root.add_node(Decision(Player("Player 1"), "In"))
        assert game.length() == 1

    def test_busy_game_refuses_reads_and_declines_addition(self, probe):
        game = probe.Game()
        d = probe.Decision(probe.Player(), "a")
        reads = [lambda: game.title, lambda: game.player, lambda: game.gametype,
                 lambda: game.root, game.length, game.get_ref, lambda: str(game)]
        refused = probe.hold("exclusive", game, lambda: [error(read) for read in reads])
        assert refused == [(RuntimeError, "Already mutably borrowed")] * len(reads)
        assert probe.hold("exclusive", game, lambda: error(lambda: game + d))[0] is TypeError
        assert probe.hold("shared", game, lambda: error(lambda: game + d))[0] is TypeError
        assert probe.hold("shared", game, lambda: game.length()) == 0

    def test_busy_root_is_a_fault(self, probe):
        game = probe.Game()
        game.root.add_node(probe.Decision(probe.Player(), "a"))
        d = probe.Decision(probe.Player(), "d")
        for call in (game.length, lambda: str(game), lambda: game + d):
            kind, text = probe.hold("shared", game.root, lambda: error(call))
            assert kind.__name__ == "PanicException" and text == "Already borrowed: PyBorrowMutError"
        assert game.length() == 1
        # A busy child fails the text form too, and nothing is left borrowed afterwards.
        child = game.root.children[0]
        kind, _ = probe.hold("shared", child, lambda: error(lambda: str(game)))
        assert kind.__name__ == "PanicException"
        assert str(game) == "title: Untitled Game root: root children: (player: player action: a)"


class TestTextForm:
    def test_children_are_listed_without_separator(self):
        game = Game("Entry", 1)
        game.root.add_nodes(Decision(Player("Player 1"), "In"), Decision(Player("Player 1"), "Out"))
        assert str(game) == ("title: Entry root: root children: "
                             "(player: Player 1 action: In)(player: Player 1 action: Out)")

    def test_only_direct_children_and_odd_texts(self):
        game = Game("a\nb \u00e9")
        child = Decision(Player("\U0001f600"), "x y")
        child.add_node(Decision(Player(), "deep"))
        game.root.add_node(child)
        assert str(game) == "title: a\nb \u00e9 root: root children: (player: \U0001f600 action: x y)"

    def test_root_among_its_own_children(self):
        game = Game()
        game.root.add_node(game.root)
        assert str(game) == "title: Untitled Game root: root children: (player: player action: root)"
        assert game.length() == 1


class TestAddition:
    def test_game_plus_decision(self):
        game = Game("G")
        d = Decision(Player("Player 1"), "In")
        result = game + d
        assert type(result) is Game and result is not game
        assert result.root is game.root and game.root.children[-1] is d
        assert game.length() == result.length() == 1
        assert result.title == "G"
        again = result + d
        assert game.length() == 2 and game.root.children == [d, d]
        assert again.root is game.root

    def test_in_place_addition_rebinds(self):
        game = original = Game()
        game += Decision(Player(), "a")
        assert game is not original and game.root is original.root and original.length() == 1

    @pytest.mark.parametrize("other", [5, None, "d", Player(), Variable("v"), Type.Normal,
                                       [Decision(Player(), "a")]], ids=repr)
    def test_other_operands_are_refused(self, other):
        game = Game()
        with pytest.raises(TypeError, match="unsupported operand type"):
            game + other
        with pytest.raises(TypeError):
            other + game
        assert game.length() == 0

    def test_game_plus_game_and_decision_plus_game(self):
        game, other = Game(), Game()
        d = Decision(Player(), "d")
        assert error(lambda: game + other) == (
            TypeError, "unsupported operand type(s) for +: 'Game' and 'Game'")
        assert error(lambda: d + game) == (
            TypeError, "unsupported operand type(s) for +: 'Decision' and 'Game'")
        assert game.length() == other.length() == 0 and d.children == []

    def test_references_are_balanced(self):
        game = Game()
        root, d = game.root, Decision(Player(), "d")
        before = sys.getrefcount(d), sys.getrefcount(root)
        for _ in range(1000):
            game + d
        for _ in range(1000):
            with pytest.raises(TypeError):
                game + 5
        after = sys.getrefcount(d), sys.getrefcount(root)
        assert after == (before[0] + 1000, before[1])


class TestGetRef:
    def test_shares_the_root_and_copies_the_rest(self):
        game = Game("G", 3, Type.Extensive)
        ref = game.get_ref()
        assert ref is not game and ref.root is game.root
        assert (ref.title, ref.gametype, [p.name for p in ref.player]) == (
            "G", Type.Extensive, [p.name for p in game.player])
        ref.root.add_node(Decision(Player(), "a"))
        assert game.length() == 1
        game + Decision(Player(), "b")
        assert [c.name for c in ref.root.children] == ["a", "b"]

    def test_root_outlives_the_game(self):
        game = Game()
        ref = game.get_ref()
        root = game.root
        del game
        assert ref.root is root and root.name == "root"

    @pytest.mark.parametrize("method", ["get_ref", "length", "export"])
    def test_methods_take_no_arguments(self, method):
        call = getattr(Game(), method)
        # The interpreter's own refusals: these methods take its no-argument convention.
        assert error(lambda: call(1)) == (
            TypeError, f"Game.{method}() takes no arguments (1 given)")
        for keywords in [lambda: call(x=1), lambda: call(1, x=1)]:
            assert error(keywords) == (TypeError, f"Game.{method}() takes no keyword arguments")
        assert error(getattr(Game, method)) == (
            TypeError, f"unbound method Game.{method}() needs an argument")

    def test_length_counts_direct_children_only(self):
        game = Game()
        d = Decision(Player(), "d").add_node(Decision(Player(), "e"))
        game.root.add_nodes(d, d)
        assert game.length() == 2


def test_deep_tree_under_a_game_is_released(fresh):
    out = fresh("""
        from kelvora import Decision, Game, Player
        game = Game()
        node = game.root
        p = Player()
        for _ in range(1_000_000):
            child = Decision(p, "n")
            node.add_node(child)
            node = child
        del node, child
        copy = game.get_ref()
        del game, copy
        print("released")
    """)
    assert out == "released\n"
