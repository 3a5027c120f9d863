// What both renderers need to walk a game tree without recursion and write its text: the
// first-child player, the bounds fault, the output, and the stack of the path being walked.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "tree/node.hpp"
#include "tree/prefetch.hpp"
#include "write/destination.hpp"
#include "write/failure.hpp"

namespace kelvora::walk {

// "index out of bounds: the len is <len> but the index is <index>", as a fault.
[[noreturn]] void out_of_bounds(std::size_t len, std::size_t index);

// The player name of a node's first child; a node without children is out of bounds.
inline const Text& first_child_player(const Decision& node) {
  if (node.children.empty()) out_of_bounds(0, 0);
  return read_node(node.children.front()).player.name;
}

// The text being written into a Destination's buffer, doubled on demand, with the widest
// character of its names; room is kept for spare bytes, so short pieces move in fixed sizes.
class Out {
 public:
  explicit Out(Destination& destination) : destination_(destination) {
    const std::span<char> buffer = destination.grow(0, 0);
    begin_ = at_ = buffer.data();
    end_ = buffer.data() + buffer.size();
  }

  void put(std::string_view text) {
    char* at = room(text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    at_ = at + text.size();
  }
  // A name: an inline one is copied as the 16 bytes that hold it.
  void put_name(const Text& name) {
    const std::string_view text = name.view();
    if (text.size() >= 16) return put_text(text);
    note_width(name.width());
    put_padded(text.data(), text.size());
  }
  // Any other text from the user, whose characters are looked at here.
  void put_text(std::string_view text) {
    note_width(Text::width_of(text));
    put(text);
  }
  // The decimal form of an integer, its digits made last to first in a fixed-size copy.
  void put_number(std::uint64_t value) {
    char digits[24];
    char* first = digits + sizeof digits;
    do {
      *--first = static_cast<char>('0' + value % 10);
    } while ((value /= 10) != 0);
    put(std::string_view(first, static_cast<std::size_t>(digits + sizeof digits - first)));
  }
  // Copies `text`, which has 16 readable bytes, of which the first `size` are written.
  void put_padded(const char* text, std::size_t size) {
    std::memcpy(room(16), text, 16);
    at_ += size;
  }
  void note_width(unsigned width) { widest_ = width > widest_ ? width : widest_; }

  std::size_t size() const { return static_cast<std::size_t>(at_ - begin_); }
  unsigned widest() const { return widest_; }
  // Hands the text to the destination.
  void finish() { destination_.finish(size(), widest_); }

 private:
  static constexpr std::size_t spare = 32;

  char* room(std::size_t size) {
    if (static_cast<std::size_t>(end_ - at_) < size + spare) grow(size);
    return at_;
  }
  void grow(std::size_t size);
  Destination& destination_;
  char* begin_;
  char* at_;
  char* end_;
  unsigned widest_ = 0;
};

// "(a, b)" from the first two entries of a payoff, integers in decimal, exact numbers as
// written and variables by their names as `write_name` writes them; a payoff of fewer than two
// entries is out of bounds.
template <class WriteName>
void put_payoff_pair(Out& out, const Payoff& payoff, WriteName write_name) {
  auto pair = [&](const auto& entries, auto write) {
    if (entries.size() < 2) out_of_bounds(entries.size(), entries.size());
    out.put("(");
    write(entries[0]);
    out.put(", ");
    write(entries[1]);
    out.put(")");
  };
  if (payoff.is_numeric()) {
    pair(payoff.numbers(), [&](std::int32_t n) {
      if (n < 0) out.put("-");
      out.put_number(n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n));
    });
  } else if (payoff.is_exact()) {
    pair(payoff.exacts(), [&](const Exact& x) { out.put(x.text.view()); });
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

// The nodes from the root down to the one being walked, each with the walk's own state, kept
// like a text (a path can be a million nodes long). A node on the path is marked, so that a
// cycle is refused instead of walked for ever; the marks are cleared however the walk ends.
template <class Frame>  // trivially copyable, with a member `const Decision* node`
class Path {
 public:
  // The frames start in the memory's own buffer.
  Path()
      : frames_(reinterpret_cast<Frame*>(memory_.buffer().data())),
        capacity_(memory_.buffer().size() / sizeof(Frame)) {}
  Path(const Path&) = delete;
  Path& operator=(const Path&) = delete;
  ~Path() {
    for (std::size_t i = 0; i < size_; ++i) frames_[i].node->on_path = false;
  }

  // Enters a node; meeting a node that is already on the path is a cycle.
  void push(const Frame& frame) {
    if (frame.node->on_path) cycle(*frame.node);
    if (size_ == capacity_) {
      const std::span<char> memory =
          memory_.grow(size_ * sizeof(Frame), (capacity_ * 2 + 1) * sizeof(Frame));
      frames_ = reinterpret_cast<Frame*>(memory.data());
      capacity_ = memory.size() / sizeof(Frame);
    }
    frames_[size_++] = frame;
    frame.node->on_path = true;
  }
  // Leaves the deepest node and returns its frame.
  Frame pop() {
    const Frame frame = frames_[--size_];
    frame.node->on_path = false;
    return frame;
  }
  Frame& top() { return frames_[size_ - 1]; }
  // The frame `k` below the top (0 is the top), k < size().
  Frame& below(std::size_t k) { return frames_[size_ - 1 - k]; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  MemoryDestination memory_;
  Frame* frames_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

// Reads ahead of a walk into the subtrees that it will enter later: a subtree's record is asked
// for, and at the next step of the walk, when it is on its way, read, and its array of children
// asked for; at the next step the array is read and the children's records asked for; and so
// on for the first few levels of the subtree. A tree whose nodes lie far apart in memory would
// otherwise cost a wait for memory at every node, above all at the nodes that the walk enters
// one after the other, each found only through the one before (a first child, its first
// child, ...); this way the loads of many nodes overlap with each other and with the walk.
//
// Where the walk finds each record close to the last (a tree made in the order of the walk,
// which the processor's own prefetching serves), reading ahead would only cost time: the walk
// reads ahead only while a quarter or more of its recent steps went far in memory. Nodes are only
// read here, never checked or marked (the walk does that), and only a few levels below a node that
// the walk has reached, so a cycle merely ends a subtree early.
class ReadAhead {
 public:
  // A step of the walk to the record `node`: the reads that are due. Returns whether the walk
  // is reading ahead, that is, whether a quarter or more of its recent steps went far in memory.
  bool step(const Decision& node) {
    const auto at = reinterpret_cast<std::uintptr_t>(&node);
    const bool far = at - last_ + near > 2 * near;
    last_ = at;
    // 256 times the share of far steps, each step weighing 1/16 less than the next.
    far_steps_ = far_steps_ - far_steps_ / 16 + (far ? 16 : 0);
    ++now_;
    run();
    return far_steps_ >= 256 / 4;
  }
  // The subtree of `node`, whose record has just been asked for.
  void add(PyObject* node) { push(node, 0, false); }

 private:
  struct Task {
    PyObject* node;
    std::uint32_t due;    // the step at which it is read
    std::uint16_t level;  // below the node that it started from
    bool children;        // reading the node's array, else its record
  };
  // Tasks kept at most; steps between asking and reading; tasks run per step; levels read
  // below a subtree's node; children of a node asked for; the distance in bytes between
  // records that counts as near.
  static constexpr std::uint32_t capacity = 256, delay = 1, per_step = 8, levels = 5, fan = 4;
  static constexpr std::uintptr_t near = 1024;

  void run() {
    for (unsigned k = 0; k < per_step && head_ != tail_; ++k) {
      const Task task = tasks_[head_ % capacity];
      if (task.due > now_) return;
      ++head_;
      const Decision& reached = peek_node(task.node);
      if (!task.children) {
        prefetch_reached(reached);
        if (!reached.children.empty() && task.level < levels) push(task.node, task.level, true);
        continue;
      }
      const std::size_t n = std::min<std::size_t>(reached.children.size(), fan);
      for (std::size_t i = 0; i < n; ++i) prefetch_node(reached.children[i]);
      for (std::size_t i = 0; i < n; ++i) push(reached.children[i], task.level + 1, false);
    }
  }

  void push(PyObject* node, std::uint32_t level, bool children) {
    if (tail_ - head_ == capacity) return;  // far enough ahead already: left to the walk
    tasks_[tail_++ % capacity] =
        Task{node, now_ + delay, static_cast<std::uint16_t>(level), children};
  }

  Task tasks_[capacity];
  std::uint32_t head_ = 0, tail_ = 0, now_ = 0;
  std::uintptr_t last_ = 0;
  std::uint32_t far_steps_ = 0;
};

// Walks the tree below `root` in pre-order, with a Path: `enter(node, i)` returns the State of
// a node entered as child i of its parent (the root as 0) and `leave(node, state, parent)` is
// called as each node but the root is left; `size()` is the text's size, for the Progress. It
// runs no Python code, so nothing can change or free a node until the text is finished.
//
// Where nodes lie far apart in memory their loads overlap: entering a node asks for its first
// children's records and has the subtrees of all but the first (which comes next) read ahead
// (ReadAhead); under a node of many children, entering one asks for the record (and subtree)
// a few siblings on.
template <class State, class Enter, class Leave, class Size>
void depth_first(const Decision& root, Enter enter, Leave leave, Size size) {
  struct Frame {
    const Decision* node;
    std::size_t next_child;
    State state;
  };
  static constexpr std::size_t ahead = 8;  // children of a node asked for when it is entered
  ReadAhead read_ahead;
  // A node just entered, far from the last: its first children's records are asked for, and
  // all but the first (which comes next) read ahead.
  auto ask_children = [&](const Decision& node) {
    if (const char* name = node.name.heap_block()) prefetch(name);  // for leaving it
    const std::size_t n = std::min(node.children.size(), ahead);
    for (std::size_t k = 0; k < n; ++k) prefetch_node(node.children[k]);
    for (std::size_t k = 1; k < n; ++k) read_ahead.add(node.children[k]);
  };
  Path<Frame> path;
  Progress progress;
  path.push(Frame{&root, 0, State{}});
  path.top().state = enter(root, 0);
  while (!path.empty()) {
    Frame& top = path.top();
    const Children& children = top.node->children;
    if (top.next_child < children.size()) {
      const std::size_t i = top.next_child++;
      const Decision& child = read_node(children[i]);
      if (read_ahead.step(child)) {
        if (i + ahead < children.size()) {
          prefetch_node(children[i + ahead]);
          read_ahead.add(children[i + ahead]);
        }
        ask_children(child);
      }
      path.push(Frame{&child, 0, State{}});
      path.top().state = enter(child, i);
      progress.step(size());
      continue;
    }
    const Frame done = path.pop();
    if (path.empty()) break;
    leave(*done.node, done.state, path.top().state);
  }
}

}  // namespace kelvora::walk
