// A laid-out drawing as the writers in draw/ take it: dots, paths and labels at their final
// places, in pixels of a 12 px text, y growing downwards, whatever the direction of the tree.
// The writers only print; every decision about where things go is taken in layout/.
#pragma once

#include <cstdint>
#include <vector>

#include "tree/node.hpp"

namespace kelvora::layout {

// Which way the tree grows from its root.
enum class Direction : std::uint8_t { down, right };
// How an information set is drawn: dashed lines joining its members, or a dashed outline
// round them.
enum class SetStyle : std::uint8_t { line, outline };

// What a caller may choose about a drawing.
struct Options {
  Direction direction = Direction::down;
  SetStyle sets = SetStyle::line;
  // Nodes whose incoming edge is drawn thick, sorted by address (looked up by binary search).
  std::vector<const Decision*> highlight;
};

struct Point {
  double x, y;
};

// A chance node (one whose children carry probabilities: Nature moves there) is drawn hollow
// and larger than a decision node, a leaf hollow.
enum class DotKind : std::uint8_t { decision, leaf, chance };
struct Dot {
  Point at;
  DotKind kind;
};

// A path: a start point, then straight lines or cubic curves (`curve`: the two control points
// and the end, as three consecutive points), optionally closed.
enum class PathKind : std::uint8_t { edge, thick_edge, set_line, set_outline };
struct Segment {
  bool curve;  // false: a line to points[first]; true: a curve through points[first..first+2]
  std::uint32_t first;
};
struct Path {
  PathKind kind;
  bool closed;
  Point start;
  std::uint32_t first_segment, segment_count;  // into Scene::segments
};

// What a label shows: the action that leads to `node`, the player who moves at it (the first
// child's player), its payoff (a leaf's, or an inner node's shown after the player), or the
// probability of the chance move to it, as written, set upright after the action's name.
enum class LabelKind : std::uint8_t { action, player, payoff, probability };
enum class Anchor : std::uint8_t { start, middle, end };
struct Label {
  const Decision* node;
  LabelKind kind;
  Anchor anchor;  // of the text at `at`
  Point at;       // on the baseline
  double width;   // estimated, in pixels
};

struct Scene {
  std::vector<Dot> dots;
  std::vector<Path> paths;  // in the order they are drawn
  std::vector<Segment> segments;
  std::vector<Point> points;
  std::vector<Label> labels;
  double left, top, right, bottom;  // the box holding everything drawn, margin included
};

// Calls line(to) or curve(control, control, to) for each segment of `path`, in order.
template <class Line, class Curve>
void for_each_segment(const Scene& scene, const Path& path, Line&& line, Curve&& curve) {
  for (std::uint32_t k = 0; k < path.segment_count; ++k) {
    const Segment& segment = scene.segments[path.first_segment + k];
    const Point* points = &scene.points[segment.first];
    if (segment.curve) {
      curve(points[0], points[1], points[2]);
    } else {
      line(points[0]);
    }
  }
}

}  // namespace kelvora::layout
