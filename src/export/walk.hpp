// What both renderers need to walk a game tree without recursion: the first-child player, the
// bounds fault, the sinks, and the stack of the path being walked.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "export/failure.hpp"
#include "tree/node.hpp"

namespace kelvora::walk {

// A walk reads each node with read_node (tree/node.hpp). It runs no Python code, so nothing
// can change a node while the walk reads it.

// "index out of bounds: the len is <len> but the index is <index>", as a fault.
[[noreturn]] void out_of_bounds(std::size_t len, std::size_t index);

// The player name of a node's first child; a node without children is out of bounds.
inline std::string_view first_child_player(const Decision& node) {
  if (node.children.empty()) out_of_bounds(0, 0);
  return read_node(node.children.front()).player.name;
}

// Where a renderer's text goes. Each renderer walks the tree twice: once into a Measure, which
// only adds up lengths (and meets every failure), then into a Cursor over a buffer of exactly
// that length, so the text is written in place and never moved while it grows. Texts from
// the user (names) go through put_text, so that the Measure also learns whether the whole
// text is ASCII; everything else the renderers write is.
class Measure {
 public:
  void put(std::string_view text) { size_ += text.size(); }
  void put(char) { ++size_; }
  void put_text(std::string_view text) {
    for (const char c : text) high_bits_ |= static_cast<unsigned char>(c);
    size_ += text.size();
  }
  std::size_t size() const { return size_; }
  bool ascii() const { return (high_bits_ & 0x80) == 0; }

 private:
  std::size_t size_ = 0;
  unsigned char high_bits_ = 0;
};

class Cursor {
 public:
  Cursor(char* begin, std::size_t size) : begin_(begin), at_(begin), end_(begin + size) {}
  void put(std::string_view text) {
    const std::size_t n = text.size();
    if (n > static_cast<std::size_t>(end_ - at_)) overrun();
    copy(at_, text.data(), n);
    at_ += n;
  }
  void put(char c) {
    if (at_ == end_) overrun();
    *at_++ = c;
  }
  void put_text(std::string_view text) { put(text); }
  std::size_t size() const { return static_cast<std::size_t>(at_ - begin_); }
  // Whether the buffer has been filled exactly.
  bool full() const { return at_ == end_; }

  // The second walk wrote other than the first measured: a defect, reported as a fault rather
  // than writing past the end or leaving a gap.
  [[noreturn]] static void overrun();

 private:
  // Most pieces are a few bytes long (numbers, names), and a call to memcpy per piece would
  // cost more than the copying: short ones are copied with two fixed-size moves that may
  // overlap, each of which the compiler turns into one instruction.
  static void copy(char* to, const char* from, std::size_t n) {
    if (n >= 8 && n <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n > 16) {
      std::memcpy(to, from, n);
    } else {
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
  }

  char* begin_;
  char* at_;
  char* end_;
};

// Appends to a string, for the short pieces written outside the walks.
class Append {
 public:
  explicit Append(std::string& out) : out_(out) {}
  void put(std::string_view text) { out_ += text; }
  void put(char c) { out_ += c; }
  void put_text(std::string_view text) { out_ += text; }
  std::size_t size() const { return out_.size(); }

 private:
  std::string& out_;
};

// Appends the decimal form of an integer.
template <class Sink, class Int>
void append_number(Sink& out, Int value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.put(std::string_view(digits, result.ptr - digits));
}

// "(a, b)" from the first two entries of a payoff, integers in decimal and variables by their
// names as `write_name` writes them; a payoff of fewer than two entries is out of bounds.
template <class Sink, class WriteName>
void append_payoff_pair(Sink& out, const Payoff& payoff, WriteName write_name) {
  auto pair = [&](const auto& entries, auto write) {
    if (entries.size() < 2) out_of_bounds(entries.size(), entries.size());
    out.put('(');
    write(entries[0]);
    out.put(", ");
    write(entries[1]);
    out.put(')');
  };
  if (payoff.is_numeric()) {
    pair(payoff.numbers(), [&](std::int32_t n) { append_number(out, n); });
  } else {
    pair(payoff.variables(), [&](const Variable& v) { write_name(out, v.name); });
  }
}

// Stops a walk that is taking too long to be useful: a few shared subtrees stacked on each
// other make a tree of billions of paths, each of which is written out. Every 65,536 nodes it
// checks whether the user pressed Ctrl-C (KeyboardInterrupt) and whether the text has grown
// past what this machine could hold as a Python string beside it (too large).
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

// Refuses a node met again below itself: a cycle failure naming the node.
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
