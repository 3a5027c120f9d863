"""The geometry of kelvora's own drawings, read back from the SVG: no label overlaps another
label or a dot, no edge runs through a label, no two edges cross, and information-set lines
and outlines pass through no label and no node outside their set, nor share a stroke. Checked
over many random trees in both directions and both set styles, and over textbook games."""

import random
import re
import sys
import xml.etree.ElementTree as ET
from collections import Counter
from itertools import combinations
from pathlib import Path

import pytest

from kelvora import Decision, Game, Player

from helpers import rsvg_draws

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
import centipede, horse, poker, signalling, ultimatum  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"
EPS = 0.01
DOT = 4
# Advance widths of DejaVu Sans in ems, rounded up to the hundredth (its oblique face is as
# wide); anything else counts as a full em.
WIDTHS = {}
for chars, em in [("'ijl", .28), ("IJ", .30), (" ,.", .32), ("/:;\\|", .34), ("f", .36),
                  ("-", .37), ("()[]t", .40), ("!", .41), ("r", .42), ("sz", .53), ("c", .55),
                  ("L", .56), ("Fk", .58), ("vxy", .60), ("P", .61), ("TYaeo", .62),
                  ("0123456789ESbdghnpqu", .64), ("K", .66), ("ABVXZ", .69), ("CR", .70),
                  ("U", .74), ("N", .75), ("H", .76), ("DG", .78), ("OQ", .79), ("w", .82),
                  ("M", .87), ("m", .98), ("W", .99)]:
    WIDTHS.update(dict.fromkeys(chars, em))


def text_box(text):
    """The box of an SVG text element: (x0, y0, x1, y1)."""
    width = 12 * sum(WIDTHS.get(c, 1.0) for c in text.text)
    x, y = float(text.get("x")), float(text.get("y"))
    anchor = text.get("text-anchor", "start")
    x0 = x - {"start": 0, "middle": width / 2, "end": width}[anchor]
    return (x0, y - 11, x0 + width, y + 3)


def path_points(d):
    """The polylines of a path's data (M, L, C, Z; curves sampled), as a list of points."""
    tokens = re.findall(r"[MLCZ]|-?[\d.]+", d)
    points, i, command = [], 0, None
    while i < len(tokens):
        if tokens[i] in "MLCZ":
            command = tokens[i]
            i += 1
            if command == "Z":
                points.append(points[0])
            continue
        count = 6 if command == "C" else 2
        values = [float(v) for v in tokens[i:i + count]]
        i += count
        if command == "C":
            (x0, y0), (x1, y1, x2, y2, x3, y3) = points[-1], values
            for k in range(1, 9):
                t = k / 8
                a, b, c, e = (1 - t) ** 3, 3 * (1 - t) ** 2 * t, 3 * (1 - t) * t * t, t ** 3
                points.append((a * x0 + b * x1 + c * x2 + e * x3, a * y0 + b * y1 + c * y2 + e * y3))
        else:
            points.append(tuple(values))
    return points


def segments(points):
    return [(points[k], points[k + 1]) for k in range(len(points) - 1)
            if points[k] != points[k + 1]]


def boxes_overlap(a, b):
    return a[0] < b[2] - EPS and b[0] < a[2] - EPS and a[1] < b[3] - EPS and b[1] < a[3] - EPS


def segment_hits_box(seg, box):
    """Whether a segment passes through the inside of a box (Liang-Barsky clipping)."""
    (x0, y0), (x1, y1) = seg
    lo, hi = 0.0, 1.0
    for p, q in ((-(x1 - x0), x0 - box[0] - EPS), (x1 - x0, box[2] - EPS - x0),
                 (-(y1 - y0), y0 - box[1] - EPS), (y1 - y0, box[3] - EPS - y0)):
        if p == 0:
            if q < 0:
                return False
        elif p < 0:
            lo = max(lo, q / p)
        else:
            hi = min(hi, q / p)
    return lo < hi


def distance_to_segment(point, seg):
    (px, py), ((x0, y0), (x1, y1)) = point, seg
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)))
    return ((x0 + t * dx - px) ** 2 + (y0 + t * dy - py) ** 2) ** 0.5


def cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def segments_cross(s, t):
    """Whether two segments meet anywhere but at an end they share."""
    shared = {s[0], s[1]} & {t[0], t[1]}
    d1, d2 = cross(t[0], t[1], s[0]), cross(t[0], t[1], s[1])
    d3, d4 = cross(s[0], s[1], t[0]), cross(s[0], s[1], t[1])
    if abs(d1) < EPS and abs(d2) < EPS:  # on one line: do they overlap beyond a point?
        axis = 0 if abs(s[0][0] - s[1][0]) > abs(s[0][1] - s[1][1]) else 1
        lo = max(min(s[0][axis], s[1][axis]), min(t[0][axis], t[1][axis]))
        hi = min(max(s[0][axis], s[1][axis]), max(t[0][axis], t[1][axis]))
        return hi - lo > EPS
    if shared:
        return False
    return (d1 > EPS and d2 < -EPS or d1 < -EPS and d2 > EPS) and \
           (d3 > EPS and d4 < -EPS or d3 < -EPS and d4 > EPS)


def problems(svg):
    """Every overlap and crossing in a drawing, described."""
    root = ET.fromstring(svg)
    found = []
    labels = [(t.text, text_box(t)) for t in root.iter(SVG + "text")]
    circles = [(float(c.get("cx")), float(c.get("cy")), float(c.get("r", DOT)))
               for c in root.iter(SVG + "circle")]
    dots = [(x, y) for x, y, _ in circles]
    edges, sets = [], []
    for path in root.iter(SVG + "path"):
        segs = segments(path_points(path.get("d")))
        (sets if path.get("stroke-dasharray") else edges).append(segs)
    for (a, box_a), (b, box_b) in combinations(labels, 2):
        if boxes_overlap(box_a, box_b):
            found.append(f"labels {a!r} and {b!r} overlap")
    for name, box in labels:
        for x, y, r in circles:
            nearest = (min(max(x, box[0]), box[2]), min(max(y, box[1]), box[3]))
            if (nearest[0] - x) ** 2 + (nearest[1] - y) ** 2 < (r - EPS) ** 2:
                found.append(f"label {name!r} covers the dot at {x, y}")
        for kind, paths in (("edge", edges), ("set line", sets)):
            if any(segment_hits_box(s, box) for p in paths for s in p):
                found.append(f"a {kind} runs through label {name!r}")
    for p, q in combinations(edges, 2):
        if any(segments_cross(s, t) for s in p for t in q):
            found.append(f"edges {p[0][0]}.. and {q[0][0]}.. cross")
    for p in sets:
        corners = {point for s in p for point in s}
        for dot in dots:
            if dot not in corners and any(distance_to_segment(dot, s) < DOT - EPS for s in p):
                found.append(f"a set line passes through the node at {dot}")
    for p, q in combinations(sets, 2):
        for s in p:
            for t in q:
                if abs(cross(t[0], t[1], s[0])) < EPS and abs(cross(t[0], t[1], s[1])) < EPS \
                        and segments_cross(s, t):
                    found.append(f"set lines share a stroke at {s}")
    return found


LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -'"


def random_game(rng):
    """A random tree: fan-outs 1 to 5, depth up to 7, names of 0 to 20 characters, some chance
    moves with probabilities, information sets among nodes where one player moves, some nodes
    to highlight."""
    players = [Player("".join(rng.choice(LETTERS) for _ in range(rng.randint(1, 12))))
               for _ in range(3)]
    name = lambda: "".join(rng.choice(LETTERS) for _ in range(rng.randint(rng.random() < .1, 20)))
    chances = ["1/3", "0.25", "999/1000", 0.1, 1]
    # Each node as [player, name, children, payoff, set, parent, probability], its children's
    # mover chosen at once.
    root = [players[0], "root", [], None, None, None, None]
    below = lambda node, top: node[5] is not None and (node[5] is top or below(node[5], top))
    stack, movers, budget = [(root, 0)], {}, rng.randint(3, 40)
    while stack:
        spec, depth = stack.pop()
        mover, count, chance = rng.choice(players), rng.randint(1, 5), rng.random() < 0.2
        budget -= count
        for _ in range(count):
            child = [mover, name(), [], None, None, spec, rng.choice(chances) if chance else None]
            spec[2].append(child)
            if depth + 2 < 7 and budget > 0 and rng.random() < 0.5:
                stack.append((child, depth + 1))
            else:
                child[3] = [rng.randint(-99, 999) for _ in range(rng.randint(1, 3))]
        if spec is not root:
            movers.setdefault(id(mover), []).append(spec)
    # Sets whose members mostly lie side by side (and share a level); a few have a member
    # below another (and are joined across levels).
    number = 1
    for nodes in movers.values():
        rng.shuffle(nodes)
        while len(nodes) >= 2 and rng.random() < 0.7:
            members, nested = [], rng.random() < 0.25
            for node in nodes[:rng.randint(2, 4)]:
                if nested or not any(below(node, m) or below(m, node) for m in members):
                    members.append(node)
            for member in members:
                member[4] = number
            nodes, number = [n for n in nodes if n not in members], number + 1
    made = []

    def build(spec):
        player, label, children, payoff, info, _, probability = spec
        node = Decision(player, label, utility=payoff, information_set=info)
        node.probability = probability
        node.add_nodes(*[build(c) for c in children])
        made.append(node)
        return node

    game = Game("random")
    game.root.add_nodes(*[build(c) for c in root[2]])
    return game, rng.sample(made, min(len(made), rng.randint(0, 3)))


TEXTBOOK = [horse.game, centipede.game, ultimatum.game, signalling.game, poker.game]


@pytest.mark.parametrize("direction", ["down", "right"])
@pytest.mark.parametrize("infosets", ["line", "outline"])
def test_nothing_overlaps_or_crosses(direction, infosets):
    rng = random.Random(f"{direction} {infosets}")
    games = [(g, []) for g in TEXTBOOK] + [random_game(rng) for _ in range(150)]
    for k, (game, highlight) in enumerate(games):
        svg = game.export_svg(direction=direction, infosets=infosets, highlight=highlight)
        found = problems(svg)
        assert not found, (k, found[:5])
        assert len(ET.fromstring(svg).findall(f".//{SVG}path[@stroke-width]")) == len(highlight)
        if k < len(TEXTBOOK) or k == len(games) - 1:
            rsvg_draws(svg)


def test_checker_sees_overlaps():
    """The checks above find what they look for."""
    svg = ('<svg xmlns="http://www.w3.org/2000/svg"><path d="M0 0L100 100"/>'
           '<path d="M100 0L0 100"/><path d="M0 50L100 50" stroke-dasharray="4 3"/>'
           '<circle cx="50" cy="20" r="4"/><text x="40" y="30">Wide</text>'
           '<text x="45" y="31">x</text><circle cx="80" cy="50" r="4"/>'
           '<text x="20" y="55">Set</text></svg>')
    found = " ".join(problems(svg))
    for what in ("overlap", "covers the dot", "edge runs through", "cross",
                 "set line runs through", "passes through the node"):
        assert what in found, what


def test_only_sets_waiting_in_a_cycle_keep_their_depths():
    """Sets 1 and 2 each have a member below a member of the other: they keep their members'
    depths. Set 3 has a member below set 2's and one under the root: it waits, but still shares
    a level once set 2 is dissolved."""
    p, q = Player("P"), Player("Q")
    c = Decision(p, "c", information_set=3).add_node(Decision(q, "e", utility=[1]))
    a = Decision(p, "a", information_set=1).add_node(Decision(p, "x", information_set=2).add_node(c))
    y = Decision(p, "y", information_set=1).add_node(Decision(p, "f", utility=[2]))
    b = Decision(p, "b", information_set=2).add_node(y)
    d = Decision(p, "d", information_set=3).add_node(Decision(q, "g", utility=[3]))
    game = Game("cycle")
    game.root.add_nodes(a, b, d)
    for direction in ("down", "right"):
        root = ET.fromstring(game.export_svg(direction=direction))
        level = 1 if direction == "down" else 0
        shapes = sorted(abs(ps[0][level] - ps[-1][level]) < EPS for ps in
                        (path_points(path.get("d")) for path in root.iter(SVG + "path")
                         if path.get("stroke-dasharray")))
        assert shapes == [False, False, True]


def test_every_edge_ends_at_a_dot():
    """Each edge ends at its node's centre, and every node but the root has one edge: the
    centres of the dots, read from each drawing, are the ends of its edges and the root's."""
    rng = random.Random("ends")
    games = [(g, []) for g in TEXTBOOK] + [random_game(rng) for _ in range(60)]
    number = r"(-?[\d.]+)"
    for k, (game, highlight) in enumerate(games):
        for direction in ("down", "right"):
            options = dict(direction=direction, highlight=highlight)
            root = ET.fromstring(game.export_svg(**options))
            ends = [path_points(p.get("d"))[-1] for p in root.iter(SVG + "path")
                    if not p.get("stroke-dasharray")]
            centres = [(float(c.get("cx")), float(c.get("cy"))) for c in root.iter(SVG + "circle")]
            tikz = game.export_tikz(**options)
            edges = re.findall(rf"\\draw(?:\[very thick\])? .*\({number},{number}\);", tikz)
            dots = re.findall(rf"\\fill(?:draw\[fill=white\])? \({number},{number}\) circle", tikz)
            for found_ends, found_centres in ((ends, centres), (edges, dots)):
                left_over = Counter(found_centres) - Counter(found_ends)
                assert not Counter(found_ends) - Counter(found_centres), (k, direction)
                assert sum(left_over.values()) == 1, (k, direction)  # the root's
