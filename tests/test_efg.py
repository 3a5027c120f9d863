"""Gambit .efg files: pygambit's catalog of games read, drawn and written back; the grammar's
corners and its errors, with their places; mutated files; a file a million nodes deep. What is
read is checked against a small reading of the file's own (below), not against the writer."""

import io
import os
import re
import xml.etree.ElementTree as ET
from fractions import Fraction
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

import model
from kelvora import Decision, Game, Player, Type, Variable, load_efg, loads_efg

TOKEN = re.compile(r'"((?:\\"|[^"])*)"|([{},])|([^\s{},"]+)', re.S)


def read_file(text):
    """The players of a .efg text, its nodes in pre-order, each as (mover: 0 for chance, a
    player's number, None at a terminal node; the key of its information set; its actions; their
    probabilities; its payoff or None), and the names of its outcomes, sorted."""
    tokens = [(m[1].replace('\\"', '"'), None) if m[1] is not None else (None, m[0])
              for m in TOKEN.finditer(text)]
    at = 0

    def take():
        nonlocal at
        at += 1
        return tokens[at - 1]

    def bracket(pairs):
        assert take()[1] == "{"
        items = []
        while tokens[at][1] != "}":
            string, word = take()
            if word != ",":
                items.append(string if string is not None else Fraction(word))
        take()
        return [tuple(items[i:i + 2]) for i in range(0, len(items), 2)] if pairs else items

    assert [take()[1] for _ in range(3)] == ["EFG", "2", "R"]
    take()
    players = bracket(False)
    if at < len(tokens) and tokens[at][0] is not None:
        take()  # the comment
    nodes, sets, outcomes = [], {}, {}
    while at < len(tokens):
        kind = take()[1]
        take()
        mover = key = None
        if kind != "t":
            mover = 0 if kind == "c" else int(take()[1])
            key = (mover, int(take()[1]))
            if tokens[at][0] is not None:
                take()
                sets[key] = bracket(True) if kind == "c" else [(a, None) for a in bracket(False)]
        outcome = int(take()[1])
        if at < len(tokens) and tokens[at][0] is not None:
            outcomes.setdefault(outcome, (take()[0], bracket(False)))
        actions = sets.get(key, [])
        nodes.append((mover, key, [a for a, _ in actions], [p for _, p in actions],
                      outcomes[outcome][1] if outcome else None))
    return players, nodes, sorted(name for name, _ in outcomes.values())


def read_game(game):
    """The same of a Game, from its nodes, and the information set of each node."""
    players = [p.name for p in game.player]
    nodes, sets, stack = [], [], [game.root]
    while stack:
        node = stack.pop()
        children = node.children
        mover = None if not children else players.index(children[0].player.name)
        payoff = None if node.payoff is None else [Fraction(x) for x in node.payoff]
        nodes.append((mover, [c.name for c in children],
                      [c.probability for c in children] if mover == 0 else [None] * len(children),
                      payoff))
        sets.append(node.information_set)
        stack.extend(reversed(children))
    return players[1:], nodes, sets


def partition(keys):
    """The classes of node indices that share a key (None: a class of its own)."""
    groups = {}
    for i, key in enumerate(keys):
        groups.setdefault(i if key is None else ("k", key), []).append(i)
    return sorted(groups.values())


def agrees(text, game):
    """Whether `game` holds what the .efg `text` says: players, nodes, actions, probabilities,
    payoffs and information sets (of deciding nodes; a set of one node is none in the game)."""
    players, nodes, _ = read_file(text)
    names, tree, sets = read_game(game)
    assert (names, len(tree)) == (players, len(nodes))
    for (mover, _, actions, chances, payoff), mine in zip(nodes, tree):
        assert mine == (mover, actions, chances, payoff)
    deciding = [i for i, node in enumerate(nodes) if node[0] is not None]
    assert partition([nodes[i][1] for i in deciding]) == partition([sets[i] for i in deciding])
    return True


def round_trip(game):
    """The game written, checked against itself, and read back to the same bytes."""
    text = game.export_efg()
    assert agrees(text, game) and loads_efg(text).export_efg() == text
    return text


def corpus():
    place = os.environ.get("KELVORA_EFG_CORPUS") or Path(__file__).parents[1] / "build" / "corpus"
    files = sorted(Path(place).rglob("*.efg"))
    if not files:
        if os.environ.get("KELVORA_REQUIRE_TOOLS"):
            pytest.fail(f"pygambit's catalog of games is required but not in {place} (.ci/corpus)")
        pytest.skip("pygambit's catalog of games is not fetched (.ci/corpus)")
    return files


def test_catalog_games_read_draw_and_write_back():
    files = corpus()
    assert len(files) == 32
    for path in files:
        text = path.read_text(encoding="utf-8")
        game = load_efg(path)
        assert game.validate() is None and agrees(text, game), path
        ET.fromstring(game.export_svg())
        assert game.export_tikz().startswith("\\begin{tikzpicture}")
        assert all(e.path[0] is game.root for e in game.backward_induction()), path
        written = round_trip(game)
        assert written == load_efg(io.BytesIO(text.encode())).export_efg()
        assert read_file(written)[2] == read_file(text)[2], path  # outcomes and their names


HEAD = 'EFG 2 R "T" { "A" "B" }\n""\n'
# Each is read as the independent reading reads it, written, and read back to the same bytes,
# with CRLF line ends too.
CORNERS = [
    # a set met again without its bracket or with it repeated, outcomes reused either way,
    # an outcome on an inner node, fractions and decimals, commas or none
    HEAD + 'p "" 1 1 "" { "L" "R" } 1 "inner" { 1/3, -1.25 }\np "" 2 1 "" { "l" "r" } 0\n'
    't "" 2 "" { .5 1e-3 }\nt "" 3 "" { 2, 0, }\np "" 2 1 "" { "l" "r" } 0\nt "" 2\n'
    't "" 3 "again" { 2 0 }',
    # escaped quotes, other backslashes kept, strings over lines; a chance set of two nodes
    'EFG 2 R "two\nlines" { "say \\"hi\\"" "B" } "a comment, \\"quoted\\""\n'
    'c "" 1 "" { "back\\slash" 1/3 "\\"q\\"" 2/3 } 0\nc "" 7 "" { "x" 1/2 "y" 0.5 } 0\n'
    't "" 1 "\\"won\\"" { 1 2 }\nt "" 1\nc "" 7 0\nt "" 1\nt "" 2 "" { 0 0 }',
    # a player called Nature; every node on one line
    'EFG 2 R "" { "Nature" "B" } p "" 1 4 "" { "a" "b" } 0 t "" 1 "" { 1 1 } t "" 2 "" { 2 2 }',
]


def test_corners_of_the_grammar():
    for text in CORNERS:
        game = loads_efg(text)
        assert game.validate() is None and agrees(text, game) and game.gametype == Type.Extensive
        written = round_trip(game)
        assert read_file(written)[2] == read_file(text)[2]
        # (a string keeps its line ends as they are)
        crlf = loads_efg(text.replace("\n", "\r\n").encode()).export_efg()
        assert crlf.replace("\r\n", "\n") == written
    assert loads_efg(CORNERS[2]).player[0].name == "Nature'"
    assert loads_efg(CORNERS[0]).root.payoff == [Fraction(1, 3), Fraction(-5, 4)]
    assert '{ 0.5, 0.001 }' in loads_efg(CORNERS[0]).export_efg()  # numbers as written
    assert '1 "\\"won\\"" { 1, 2 }' in loads_efg(CORNERS[1]).export_efg()
    # A leaf whose payoff changes leaves the outcome it shared; joined games keep theirs apart.
    game = loads_efg(CORNERS[0])
    game.root.children[1].children[0].payoff = [7, 7]
    assert read_file(game.export_efg())[2] == ["", "", "", "inner"]
    one = 'EFG 2 R "" { "A" } p "" 1 1 "" { "a" } 0 t "" 1 "" { 1 }'
    joined = Game() + Decision(Player("A"), "x").add_nodes(
        loads_efg(one).root.children[0], loads_efg(one).root.children[0])
    assert read_file(joined.export_efg())[2] == ["", ""]
    # No players, and a file that is only a terminal node.
    alone = loads_efg('EFG 2 R "" { } c "" 1 "" { "x" 1 } 0 t "" 1 "" { }')
    assert [p.name for p in alone.player] == ["Nature"] and round_trip(alone)
    assert loads_efg(HEAD + 't "" 1 "" { 1 2 }').root.payoff == [1, 2]


ERRORS = [
    ('EFG 3 R "" {}', "line 1, column 5: expected the version 2, found '3'"),
    ("GAME", "line 1, column 1: expected EFG (a Gambit extensive-form game file), found 'GAME'"),
    ('EFG 2 R "é" x', "line 1, column 13: expected '{' before the players' names, found 'x'"),
    (HEAD + "q", "line 3, column 1: expected a node type c, p or t, found 'q'"),
    ('EFG 2 R "" { } p', "line 1, column 16: expected a node type c or t (the file names no "
     "players), found 'p'"),
    (HEAD + 'p "" 3 1 "" { "a" } 0', "line 3, column 6: expected a player's number from 1 to 2, "
     "found '3'"),
    (HEAD + 'p "" 1 0', "line 3, column 8: expected an information set number of player 1 "
     "(from 1), found '0'"),
    (HEAD + 'p "" 1 1 "" { } 0', "line 3, column 15: expected an action's name (a quoted "
     "string): a node has at least one, found '}'"),
    (HEAD + 'p "" 1 1 "" { "a" 1 } 0', "line 3, column 19: expected an action's name (a quoted "
     "string) or '}', found '1'"),
    (HEAD + 't "" 1 "" { 1 2 3 }', "line 3, column 17: expected '}' after the 2 payoffs (one per "
     "player), found '3'"),
    (HEAD + 't "" 1 "" { 1 }', "line 3, column 15: expected payoff 2 of 2 (a number, one per "
     "player), found '}'"),
    (HEAD + 't "" 1 "" { 1 ,, 2 }', "line 3, column 16: expected payoff 2 of 2 (a number, one per "
     "player), found ','"),
    (HEAD + 't "" 1 "" { 1 2/0 }', "line 3, column 15: expected payoff 2 of 2 (a number, one per "
     "player), found '2/0'"),
    (HEAD + 't "" 1 "" { 1 99999999999999999999999 }', "line 3, column 15: expected payoff 2 of 2 "
     "(a number, one per player) whose numerator and denominator fit in 64 bits, found "
     "'99999999999999999999999'"),
    (HEAD + 'c "" 1 "" { "a" 3/2 } 0', "line 3, column 17: expected the action's probability (a "
     "number from 0 to 1), found '3/2'"),
    (HEAD + 'c "" 1 "" { "a" 1/2 "b" 1/3 } 0', "line 3, column 29: the probabilities of these "
     "actions add up to less than 1"),
    (HEAD + 'p "" 1 1 "" { "a" } 0\r\np "" 1 2 0', "line 4, column 10: expected the name and "
     "actions of information set 2 of player 1, which is new here, found '0'"),
    (HEAD + 'p "" 1 1 "" { "a" "b" } 0\np "" 1 1 "s" { "b" "a" } 0', "line 4, column 10: "
     "information set 1 of player 1 has other actions here than at line 3, column 10"),
    (HEAD + 'c "" 1 "" { "a" 1 } 0\nc "" 1 "" { "a" 1/1 } 0\nc "" 1 "" { "b" 1 } 0', "line 5, "
     "column 8: chance information set 1 has other actions or probabilities here than at line "
     "3, column 8"),
    (HEAD + 'p "" 1 1 "" { "a" } 0\nt "" 2', "line 4, column 7: expected the name and payoffs of "
     "outcome 2, which is new here, found the end of the file"),
    (HEAD + 'p "" 1 1 "" { "a" "b" } 0\nt "" 1 "" { 1 2 }\nt "" 1 "" { 1 3 }', "line 5, "
     "column 8: outcome 1 has other payoffs here than at line 4, column 8"),
    (HEAD + 't "" 0 "x" {}', "line 3, column 8: expected the next node (outcome 0 has no name "
     "or payoffs), found '\"x\"'"),
    (HEAD + 't "" 1 "" { 1 2 } junk', "line 3, column 19: expected the end of the file, found "
     "'junk'"),
    (HEAD + 'p "" 1 1 "" { "a" } 0\n', "line 4, column 1: expected a node type c, p or t, found "
     "the end of the file"),
    (HEAD + 'p "x\n\n', "line 3, column 3: this string is never closed: expected a '\"' before "
     "the end of the file"),
    (HEAD + 't\x01\t"" 1', "line 3, column 1: expected a node type c, p or t, found 't\\x01'"),
    ('EFG 2 R "ok"\n "\xe9\xff"'.encode("latin-1"), "line 2, column 3: the file is not UTF-8 text "
     "(byte 0xE9)"),
]


def test_malformed_files_are_refused_where_they_go_wrong():
    for text, message in ERRORS:
        with pytest.raises(ValueError) as info:
            loads_efg(text)
        assert str(info.value) == message, text


def test_games_built_by_hand_are_written_and_refused_as_files_need():
    game = Game("Entry", players=2, gametype=Type.Extensive)
    nature, one, two = game.player
    luck = Decision(nature, "lucky")
    luck.probability = "0.25"
    fight = Decision(one, "In", information_set=9).add_nodes(
        Decision(two, "Fight", utility=[-1, -1]), Decision(two, "Share", utility=[1, 1]))
    bluff = Decision(one, "Bluff", information_set=9).add_nodes(
        Decision(two, "Fight", utility=[-1, -1]), Decision(two, "Share", utility=[1, 1]))
    out = Decision(one, "Out")
    out.payoff = ["1/2", 2]
    rest = Decision(nature, "unlucky").add_nodes(out)
    rest.probability = "3/4"
    game = game + luck.add_nodes(fight, bluff) + rest
    assert game.export_efg() == (
        'EFG 2 R "Entry" { "Player 1" "Player 2" }\n""\n\n'
        'c "" 1 "" { "lucky" 0.25 "unlucky" 3/4 } 0\n'
        'p "" 1 1 "" { "In" "Bluff" } 0\n'
        'p "" 2 1 "" { "Fight" "Share" } 0\nt "" 1 "" { -1, -1 }\nt "" 2 "" { 1, 1 }\n'
        'p "" 2 1 0\nt "" 1\nt "" 2\n'
        'p "" 1 2 "" { "Out" } 0\nt "" 3 "" { 1/2, 2 }\n')
    round_trip(game)
    # Players of one's own: the movers, in order of first appearance.
    ann, bob = Player("Ann"), Player("Bob")
    own = Game() + Decision(ann, "a").add_nodes(Decision(bob, "l", utility=[2, 1]))
    text = own.export_efg()
    assert text.startswith('EFG 2 R "Untitled Game" { "Ann" "Bob" }')
    assert loads_efg(text).export_efg() == text

    refused = [
        (Game() + Decision(ann, "a"), "the game has 1 problem:\n  root > a: a leaf without payoff"),
        (Game() + Decision(ann, "a", variable=[Variable("x")]),
         "the payoff of 'a' is of Variables, which a .efg file cannot hold"),
        (Game(players=1) + Decision(Game().player[0], "draw", utility=[1]),
         "Nature moves at 'root', but its action 'draw' has no probability, which a .efg file "
         "needs"),
        (Game() + Decision(ann, 'x\\"', utility=[1]), "the name 'x\\\"' cannot be written to a "
         ".efg file: a backslash before a double quote or at the end of a name reads as another "
         "text"),
        (Game() + Decision(ann, "x\\", utility=[1]), "the name 'x\\' cannot be written"),
    ]
    for bad, message in refused:
        with pytest.raises(ValueError, match=re.escape(message)):
            bad.export_efg()


def test_files_are_read_from_paths_and_file_objects_and_written_whole(tmp_path):
    path = tmp_path / "game.efg"
    text = CORNERS[1]
    loads_efg(text).export_efg(path)
    written = path.read_text(encoding="utf-8")
    assert loads_efg(text).export_efg(str(path)) is None and path.read_text() == written
    with open(path, "rb") as opened:
        for source in (path, str(path), io.BytesIO(text.encode()), io.StringIO(text), opened):
            assert load_efg(source).export_efg() == written
    with pytest.raises(FileNotFoundError):
        load_efg(tmp_path / "missing.efg")
    with pytest.raises(IsADirectoryError):
        load_efg(tmp_path)
    with pytest.raises(FileNotFoundError):
        loads_efg(text).export_efg(tmp_path / "no" / "game.efg")
    for call, message in [(lambda: load_efg(5), "argument 'file': expected a path (str or "
                           "os.PathLike) or a file object, got int"),
                          (lambda: loads_efg(5), "argument 'text': expected a str or bytes, got "
                           "int")]:
        with pytest.raises(TypeError, match=re.escape(message)):
            call()


MUTATIONS = [b'"', b"{", b"}", b",", b"c", b"p", b"t", b"0", b"1", b"3", b"1/2", b"-1", b"\\",
             b"\r\n", b" ", b"\xff", b"\xc3\xa9", b'"" 1 ""', b"1e400", b"99999999999999999999"]


@model.FUZZ
@given(st.lists(st.tuples(st.integers(0, 10 ** 6), st.integers(0, 3),
                          st.sampled_from(MUTATIONS)), min_size=1, max_size=4),
       st.sampled_from(CORNERS[:2]))
def test_mutated_files_give_a_game_or_a_value_error(edits, base):
    data = base.encode()
    for at, cut, insert in edits:
        at %= len(data) + 1
        data = data[:at] + insert + data[at + cut:]
    try:
        game = loads_efg(data)
    except ValueError:
        return
    try:
        text = game.export_efg()
    except ValueError:
        return
    assert loads_efg(text).export_efg() == text


def test_a_million_nodes_deep():
    n = 10 ** 6
    text = ('EFG 2 R "deep" { "A" "B" }\n""\n\n'
            + "".join(f'p "" {1 + i % 2} {1 + i // 2} "" {{ "a" }} 0\n' for i in range(n))
            + 't "" 1 "" { 1, 2 }\n')
    assert loads_efg(text).export_efg() == text
