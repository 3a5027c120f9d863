// Upper envelopes of lines: the maximum of many linear functions of one variable u >= 0, as
// the pieces where one of them is highest. A drawing's width as a function of its scale is the
// sum of two of them (draw/tikz.cpp).
#pragma once

#include <vector>

namespace kelvora::draw {

struct Line {
  double slope, intercept;
  double at(double u) const { return slope * u + intercept; }
};

// A piece of an envelope: its line, from `start` to the next piece's start.
struct Piece {
  double start;
  Line line;
};

// The maximum of `lines` (at least one) for u >= 0, piece by piece, the first from 0. Takes
// linear time for the lines under the steepest or the highest at 0, and sorts the others.
std::vector<Piece> upper_envelope(std::vector<Line>& lines);

// The pieces of the sum of two envelopes.
std::vector<Piece> sum(const std::vector<Piece>& a, const std::vector<Piece>& b);

}  // namespace kelvora::draw
