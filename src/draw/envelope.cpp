#include "draw/envelope.hpp"

#include <algorithm>
#include <limits>

namespace kelvora::draw {
namespace {

// Where line `b` overtakes line `a`, whose slope is lower.
double crossing(const Line& a, const Line& b) {
  return (a.intercept - b.intercept) / (b.slope - a.slope);
}

}  // namespace

std::vector<Piece> upper_envelope(std::vector<Line>& lines) {
  // A line that is neither higher at 0 than the steepest line nor steeper than the line highest
  // at 0 lies under one of those two for every u >= 0: only the others are sorted.
  auto by_slope = [](const Line& a, const Line& b) {
    return a.slope < b.slope || (a.slope == b.slope && a.intercept < b.intercept);
  };
  auto by_intercept = [](const Line& a, const Line& b) {
    return a.intercept < b.intercept || (a.intercept == b.intercept && a.slope < b.slope);
  };
  const Line steepest = *std::max_element(lines.begin(), lines.end(), by_slope);
  const Line highest = *std::max_element(lines.begin(), lines.end(), by_intercept);
  std::erase_if(lines, [&](const Line& line) {
    return line.intercept <= steepest.intercept || line.slope <= highest.slope;
  });
  lines.push_back(steepest);
  lines.push_back(highest);
  std::sort(lines.begin(), lines.end(), by_slope);
  std::vector<Line> hull;
  for (const Line& line : lines) {
    if (!hull.empty() && hull.back().slope == line.slope) hull.pop_back();
    while (hull.size() >= 2 &&
           crossing(hull[hull.size() - 2], line) <= crossing(hull[hull.size() - 2], hull.back())) {
      hull.pop_back();
    }
    hull.push_back(line);
  }
  std::vector<Piece> pieces;
  for (std::size_t k = 0; k < hull.size(); ++k) {
    const double end =
        k + 1 < hull.size() ? crossing(hull[k], hull[k + 1]) : std::numeric_limits<double>::max();
    if (end <= 0) continue;
    const double start = k == 0 ? 0 : std::max(0.0, crossing(hull[k - 1], hull[k]));
    pieces.push_back(Piece{start, hull[k]});
  }
  return pieces;
}

std::vector<Piece> sum(const std::vector<Piece>& a, const std::vector<Piece>& b) {
  constexpr double never = std::numeric_limits<double>::infinity();
  std::vector<Piece> pieces;
  std::size_t i = 0, j = 0;
  double start = 0;
  for (;;) {
    pieces.push_back(Piece{
        start, Line{a[i].line.slope + b[j].line.slope, a[i].line.intercept + b[j].line.intercept}});
    const double next_a = i + 1 < a.size() ? a[i + 1].start : never;
    const double next_b = j + 1 < b.size() ? b[j + 1].start : never;
    start = std::min(next_a, next_b);
    if (start == never) return pieces;
    if (next_a == start) ++i;
    if (next_b == start) ++j;
  }
}

}  // namespace kelvora::draw
