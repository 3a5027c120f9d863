"""Game.export_svg() and Game._repr_svg_(): the tree as laid out by kelvora itself. The
drawings are checked for their geometry, not their bytes; rsvg-convert draws every one."""

import errno
import json
import os
import random
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from collections import Counter
from pathlib import Path

import pytest

from kelvora import Decision, Game, Player, Variable

from helpers import required_tool, rsvg_draws, worked_example

import kelvora

SVG = "{http://www.w3.org/2000/svg}"
A, B, C = Player("Ann"), Player("Bob"), Player("Cy")
# A text box: 11 px above the baseline, 3 below, and at least this wide (in ems of 12 px): the
# module's estimate, from the widths of DejaVu Sans, is as wide or wider for every character.
ASCENT, DESCENT = 11, 3
NARROW = set(" ilfjtrI'.,:;|!()[]-/\\\"")


def width(text):
    return 12 * sum(0.27 if c in NARROW else 0.5 for c in text)


def leaf(name, *payoff, player=B):
    return Decision(player, name, utility=list(payoff))


def node(name, *children, player=A, **kwargs):
    return Decision(player, name, **kwargs).add_nodes(*children)


def game(*children):
    g = Game("test")
    g.root.add_nodes(*children)
    return g


def horse():
    three = lambda n, k: node(n, leaf("L", 3, 3, 2, player=C), leaf("R", 0, 0, 0, player=C),
                              player=A, information_set=k)
    return game(three("D", 1), node("A", three("d", 1), leaf("a", 1, 1, 1)))


def mutual():
    """Two sets, each with a member below a member of the other."""
    return game(node("a", node("x", leaf("p", 1, 1, player=A), information_set=2), information_set=1),
                node("b", node("y", leaf("q", 1, 1, player=A), information_set=1), information_set=2))


shared = leaf("s", 5, 5)
hollow = Decision(A, "empty")  # neither payoff nor children
v = Variable("v")

# (name, game, texts that must be drawn, whether the set's dashed lines are level)
GAMES = [
    ("worked example", worked_example(kelvora), {"L", "R", "Bob", "(3, 3)"}, True),
    ("horse: a set over two depths", horse(), {"(3, 3, 2)", "(1, 1, 1)", "Cy"}, True),
    ("members apart", game(*(node(n, leaf("l", 1, 0), leaf("r", 0, 1), information_set=i)
                              for n, i in (("A", 1), ("B", None), ("C", 1)))), {"B"}, True),
    ("member below a member", game(node("m", node("n", leaf("x", 1, 1, player=A), information_set=1),
                                        information_set=1)), {"(1, 1)"}, False),
    ("sets waiting on each other", mutual(), {"(1, 1)"}, False),
    ("nothing to draw", Game("empty"), set(), None),
    ("undrawable for the exports", game(hollow, node("one", leaf("z", 1), information_set=7),
                                         Decision(A, "leaf in a set", utility=[1, 2],
                                                  information_set=7)), {"(1)", "empty"}, None),
    ("odd fan, long names", game(node("x" * 30, leaf("a" * 25, 1, 2), leaf("b" * 40, 3, 4),
                                      leaf("middle move", 5, 6))), {"b" * 40}, None),
    ("shared subtree", game(node("a", shared), node("b", shared, shared)), {"(5, 5)"}, None),
    ("payoff at a decision node", game(node("p", leaf("q", 2, 2), utility=[1, 2])),
     {"Bob (1, 2)"}, None),
    ("extreme integers, long player", game(node("p", *(leaf(n, *pay, player=Player("a" * 20))
                                                      for n, pay in (("q", (-2**31, 2**31 - 1, 100, -99)),
                                                                     ("r", (12345, -1)))),
                                                utility=[-10, 1000])),
     {"(-2147483648, 2147483647, 100, -99)", "(12345, -1)", "a" * 20 + " (-10, 1000)"}, None),
    ("symbolic payoffs, odd names", game(Decision(Player("é<&>\"'"), "a\x01b & <c>\ufffe",
                                                  variable=[v, v, v])),
     {"a\ufffdb & <c>\ufffd", "(v, v, v)"}, None),
]


def boxes_and_lines(svg):
    """The document parsed: its view box, the boxes of dots and labels (with their texts),
    the solid edges and the dashed lines as lists of points."""
    root = ET.fromstring(svg)
    assert root.tag == SVG + "svg" and root.get("version") == "1.1"
    view = [float(x) for x in root.get("viewBox").split()]
    boxes = []
    for circle in root.iter(SVG + "circle"):
        x, y, r = (float(circle.get(k)) for k in ("cx", "cy", "r"))
        boxes.append(((x - r, y - r, x + r, y + r), None))
    for text in root.iter(SVG + "text"):
        x, y, w = float(text.get("x")), float(text.get("y")), width(text.text)
        left = {"start": x, "middle": x - w / 2, "end": x - w}[text.get("text-anchor", "start")]
        boxes.append(((left, y - ASCENT, left + w, y + DESCENT), text.text))
    # A white ground under everything, as large as the view (dark notebook themes).
    ground = root.find(SVG + "rect")
    assert [float(ground.get(k)) for k in ("x", "y", "width", "height")] == view
    assert ground.get("fill") == "#fff" and list(root).index(ground) == 1
    lines = {"edges": [], "dashed": []}
    for path in root.iter(SVG + "path"):
        kind = "dashed" if path.get("stroke-dasharray") else "edges"
        # Points that a path runs through (a curve by its end).
        steps = re.findall(r"([MLC])((?:-?[\d.]+ ?)+)", path.get("d"))
        lines[kind].append([tuple(float(n) for n in numbers.split()[-2:]) for _, numbers in steps])
    return view, boxes, lines


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def crosses(point, segment, r):
    """Whether the segment passes within r of the point (a dot it would run through)."""
    (x1, y1), (x2, y2), (px, py) = *segment, point
    dx, dy = x2 - x1, y2 - y1
    t = max(0, min(1, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy or 1)))
    return (x1 + t * dx - px) ** 2 + (y1 + t * dy - py) ** 2 < r * r


@pytest.mark.parametrize("name, made, texts, level", GAMES, ids=[g[0] for g in GAMES])
def test_drawings_are_tidy(name, made, texts, level):
    svg = rsvg_draws(made.export_svg())
    assert made.export_svg() == svg and made._repr_svg_() == svg
    (vx, vy, vw, vh), boxes, lines = boxes_and_lines(svg)
    assert texts <= {text for _, text in boxes}
    for i, (box, _) in enumerate(boxes):
        assert vx <= box[0] and box[2] <= vx + vw and vy <= box[1] and box[3] <= vy + vh, box
        clash = [text for other, text in boxes[i + 1:]
                 if overlap(box, other) and "ground" not in (text, boxes[i][1])]
        assert not clash, (boxes[i], clash)
    # Each parent centred over its children (a bend over the one child it has).
    below = {}
    for start, end, *_ in lines["edges"]:
        below.setdefault(start, []).append(end)
    for (x, _), children in below.items():
        xs = [cx for cx, _ in children]
        assert abs(x - (min(xs) + max(xs)) / 2) < 0.02
    # Set members joined level where they can be, and never through another node's dot.
    dots = [((b[0] + b[2]) / 2, (b[1] + b[3]) / 2) for b, text in boxes if text is None]
    assert bool(lines["dashed"]) == (level is not None)
    for points in lines["dashed"]:
        ends = {points[0], points[-1]}
        if level:
            assert points[0][1] == points[-1][1]
        for dot in set(dots) - ends:
            assert not any(crosses(dot, seg, 5) for seg in zip(points, points[1:])), dot


def chain(length):
    g = Game("chain")
    below = Decision(A, "end", utility=[1, 2])
    for _ in range(length - 1):
        below = Decision(A, "a").add_node(below)
    g.root.add_node(below)
    return g


def test_notebook_bound_and_deep_chain():
    assert chain(4999)._repr_svg_().count("<circle") == 5000
    assert chain(5000)._repr_svg_() is None
    assert repr(chain(1)).startswith("<kelvora.Game object at ")
    deep = chain(10**6).export_svg()
    assert deep.count("<circle") == 10**6 + 1 and deep.endswith("</svg>\n")


def test_large_drawings_read_back_whole():
    """Trees large enough that the arrays behind a drawing are given back to the system as the
    drawing passes them (places, paths, dots, labels and their texts, in the order of the places
    or not): every text and every dot comes back as made, in both directions and both writers."""
    wide, binary = Game("wide"), Game("binary")
    made = {wide: Counter({"Ann": 1}), binary: Counter({"Ann": 2**15 - 1})}
    nodes = {wide: 50_001, binary: 2**16 - 1}
    for k in range(50_000):
        wide.root.add_node(Decision(A, f"move {k:05} to the left", utility=[k, -k]))
        made[wide].update([f"move {k:05} to the left", f"({k}, {-k})"])
    level, k = [binary.root], 0
    for depth in range(15):
        below = []
        for parent in level:
            for side in "LR":
                k += 1
                below.append(Decision(A, f"{side} move {k:05} down",
                                      utility=[k, 1] if depth == 14 else None))
                parent.add_node(below[-1])
                made[binary].update([f"{side} move {k:05} down"] + [f"({k}, 1)"] * (depth == 14))
        level = below
    number = r"(-?[\d.]+)"
    for g, texts in made.items():
        actions = Counter({text: n for text, n in texts.items() if "move" in text})
        for direction in ("down", "right"):
            svg = g.export_svg(direction=direction)
            assert Counter(re.findall(r"<text [^>]*>([^<]*)</text>", svg)) == texts
            ends = set(re.findall(rf"L{number} {number}\"", svg))
            centres = set(re.findall(rf'cx="{number}" cy="{number}"', svg))
            assert len(ends) == len(centres) - 1 == nodes[g] - 1 and ends < centres
            tikz = g.export_tikz(direction=direction)
            assert Counter(re.findall(r"\\textit\{([^}]*)\}", tikz)) == actions
            assert tikz.count(" circle[radius=") == nodes[g]


def test_cycle_is_refused_as_the_exports_refuse_it(tmp_path):
    loop = Decision(A, "loop", information_set=1)
    loop.add_node(loop)
    g = game(loop)
    with pytest.raises(ValueError) as dot:
        g.export()
    target = tmp_path / "kept.svg"
    target.write_text("before")
    with pytest.raises(ValueError) as svg:
        g.export_svg(target)
    assert str(svg.value) == str(dot.value) and target.read_text() == "before"
    assert g._repr_svg_() is None


def test_files(tmp_path):
    """Both drawings, export_svg() and export_tikz(), write their files alike."""
    g = worked_example(kelvora)
    (tmp_path / "dir").mkdir()
    missing = str(tmp_path / "no" / "f.svg")
    for method in ("export_svg", "export_tikz"):
        draw = getattr(g, method)
        text = draw()
        (tmp_path / "long.svg").write_text("x" * 10 * len(text))
        # (filename, exception or None, errno)
        cases = [
            (str(tmp_path / "new.svg"), None, None),
            (tmp_path / "long.svg", None, None),  # os.PathLike; truncated
            (os.fsencode(tmp_path / "bytes.svg"), None, None),
            (missing, FileNotFoundError, errno.ENOENT),
            (tmp_path / "dir", IsADirectoryError, errno.EISDIR),
            ("a\0b", ValueError, None),
            (5, TypeError, None),
        ]
        for filename, exc, code in cases:
            if exc is None:
                assert draw(filename) is None
                assert Path(os.fsdecode(filename)).read_text() == text
                continue
            with pytest.raises(exc) as info:
                draw(filename=filename)
            if code is not None:
                assert info.value.errno == code and info.value.filename == os.fspath(filename)
                with pytest.raises(exc) as opened:
                    open(filename, "w")
                assert str(info.value) == str(opened.value)
        assert str(info.value).startswith("argument 'filename': expected str, bytes or os.PathLike")


def test_notebook_shows_the_drawing(tmp_path, monkeypatch):
    """A one-cell notebook run by a real kernel, of this interpreter, displays the picture."""
    nbclient = pytest.importorskip("nbclient")
    nbformat = pytest.importorskip("nbformat")
    pytest.importorskip("ipykernel")
    spec = tmp_path / "kernels" / "kelvora-test"
    spec.mkdir(parents=True)
    (spec / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "kelvora", "language": "python"}))
    monkeypatch.setenv("JUPYTER_PATH", str(tmp_path))
    notebook = nbformat.v4.new_notebook(cells=[nbformat.v4.new_code_cell(
        "import kelvora\nprint(kelvora.__file__)\n"
        "kelvora.Game('t') + kelvora.Decision(kelvora.Player('p'), 'a', utility=[1, 2])")])
    nbclient.NotebookClient(notebook, kernel_name="kelvora-test", timeout=120,
                            resources={"metadata": {"path": str(tmp_path)}}).execute()
    printed, shown = notebook.cells[0].outputs
    assert printed["text"] == kelvora.__file__ + "\n"
    assert "(1, 2)" in rsvg_draws(shown["data"]["image/svg+xml"])


def test_drawing_ignores_the_order_nodes_were_made_in():
    """Nodes made in a shuffled order (scattered in memory) draw as those made in walk order."""
    rng = random.Random(7)
    plan = [(rng.randrange(k), rng.choice("LRM"), rng.choice([None, [k, -k]]),
             rng.choice([None, None, 1, 2])) for k in range(1, 400)]

    def build(order):
        made = {}
        for i in order:
            _, action, payoff, information_set = plan[i - 1]
            made[i] = Decision(A, action, utility=payoff, information_set=information_set)
        g = Game("order")
        made[0] = g.root
        for i, (parent, *_) in enumerate(plan, 1):
            made[parent].add_node(made[i])
        return g

    shuffled = list(range(1, len(plan) + 1))
    rng.shuffle(shuffled)
    walked, scattered = build(range(1, len(plan) + 1)), build(shuffled)
    for direction in ("down", "right"):
        assert walked.export_svg(direction=direction) == scattered.export_svg(direction=direction)
        assert walked.export_tikz(direction=direction) == scattered.export_tikz(direction=direction)


def test_drawings_carry_nothing_from_one_call_to_the_next():
    """Memory that a drawing leaves for the next is written afresh: a small game draws the same
    in a fresh interpreter and after drawings of larger trees, with sets, in every style."""
    script = """if True:
        import json
        from kelvora import Decision, Game, Player
        a, b = Player("Ann"), Player("Bob")
        g = Game("small")
        x, y = Decision(a, "x", utility=[1, -2]), Decision(a, "y", information_set=1)
        x.probability, y.probability = "2/3", "1/3"
        g.root.add_nodes(x, y.add_node(Decision(b, "z", utility=[3, 4])))
        print(json.dumps([g.export_svg(direction=d, infosets=s) + g.export_tikz(direction=d)
                          for d in ("down", "right") for s in ("line", "outline")]))
    """
    fresh = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                           check=True).stdout
    for big in (chain(3000), horse(), mutual(), chain(2)):
        for draw in (big.export_svg, big.export_tikz):
            draw(direction="right")
            namespace = {}
            exec(script.replace("print(", "out = ("), namespace)
            assert namespace["out"] == fresh.strip()
