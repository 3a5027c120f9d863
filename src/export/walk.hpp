// What both renderers need to walk a game tree without recursion: reading a node, the
// first-child player, the bounds fault, and the stack of the path being walked.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tree/node.hpp"

namespace kelvora::walk {

// The record of a node object (only Decision objects are ever attached). A walk runs no
// Python code, so nothing can change a node while the walk reads it; a node that an
// unfinished operation holds exclusively is the fatal shared-borrow fault.
inline const Decision& read(PyObject* node) {
  auto* cell = reinterpret_cast<Cell<Decision>*>(node);
  if (cell->borrow == -1) detail::shared_conflict(OnConflict::fault);
  return cell->value;
}

// "index out of bounds: the len is <len> but the index is <index>", as a fault.
[[noreturn]] void out_of_bounds(std::size_t len, std::size_t index);

// The player name of a node's first child; a node without children is out of bounds.
inline const std::string& first_child_player(const Decision& node) {
  if (node.children.empty()) out_of_bounds(0, 0);
  return read(node.children.front().get()).player.name;
}

// Appends the decimal form of an integer.
template <class Int>
void append_number(std::string& out, Int value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// "(a, b)" from the first two entries of a payoff, integers in decimal and variables by their
// names as `write_name` writes them; a payoff of fewer than two entries is out of bounds.
template <class WriteName>
void append_payoff_pair(std::string& out, const Payoff& payoff, WriteName write_name) {
  auto pair = [&](const auto& entries, auto write) {
    if (entries.size() < 2) out_of_bounds(entries.size(), entries.size());
    out += '(';
    write(entries[0]);
    out += ", ";
    write(entries[1]);
    out += ')';
  };
  if (const auto* numbers = std::get_if<Numeric>(&payoff)) {
    pair(*numbers, [&](std::int32_t n) { append_number(out, n); });
  } else {
    pair(std::get<Symbolic>(payoff), [&](const Variable& v) { write_name(out, v.name); });
  }
}

// Stops a walk that is taking too long to be useful: a few shared subtrees stacked on each
// other make a tree of billions of paths, each of which is written out. Every 65,536 nodes it
// checks whether the user pressed Ctrl-C (KeyboardInterrupt) and whether the text has grown
// past what this machine could hold as a Python string beside it (MemoryError).
class Progress {
 public:
  void step(std::size_t text_size) {
    if (--countdown_ == 0) {
      countdown_ = interval;
      check(text_size);
    }
  }

 private:
  static constexpr std::uint32_t interval = 1 << 16;
  static void check(std::size_t text_size);
  std::uint32_t countdown_ = interval;
};

// Refuses a node met again below itself: ValueError naming the node.
[[noreturn]] void cycle(const Decision& node);

// The nodes from the root down to the one being walked, each with the walk's own state. A
// node on the path is marked, so that a cycle is refused instead of walked for ever; the
// marks are cleared when the walk ends, however it ends.
template <class Frame>  // Frame has a member `const Decision* node`
class Path {
 public:
  Path() = default;
  Path(const Path&) = delete;
  Path& operator=(const Path&) = delete;
  ~Path() {
    for (const Frame& frame : frames_) frame.node->on_path = false;
  }

  // Enters a node; meeting a node that is already on the path is a cycle.
  void push(const Frame& frame) {
    if (frame.node->on_path) cycle(*frame.node);
    frames_.push_back(frame);
    frame.node->on_path = true;
  }
  // Leaves the deepest node and returns its frame.
  Frame pop() {
    Frame frame = frames_.back();
    frames_.pop_back();
    frame.node->on_path = false;
    return frame;
  }
  Frame& top() { return frames_.back(); }
  bool empty() const { return frames_.empty(); }

 private:
  std::vector<Frame> frames_;
};

}  // namespace kelvora::walk
