// What both renderers need to walk a game tree without recursion and write its text: the
// first-child player, the bounds fault, the output, and the stack of the path being walked.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "export/destination.hpp"
#include "export/failure.hpp"
#include "tree/node.hpp"

namespace kelvora::walk {

// A walk reads each node with read_node (tree/node.hpp). It runs no Python code, so nothing
// can change a node, nor free one, until the text is finished.

// "index out of bounds: the len is <len> but the index is <index>", as a fault.
[[noreturn]] void out_of_bounds(std::size_t len, std::size_t index);

// The player name of a node's first child; a node without children is out of bounds.
inline const Text& first_child_player(const Decision& node) {
  if (node.children.empty()) out_of_bounds(0, 0);
  return read_node(node.children.front()).player.name;
}

// The text being written: put() appends, into a buffer from a Destination that doubles it on
// demand, and notes the widest character of every name. Each put() leaves room for a fixed
// number of spare bytes, so that short pieces are copied in fixed-size moves.
class Out {
 public:
  explicit Out(Destination& destination) : destination_(destination) {
    const std::span<char> buffer = destination.grow(0, 0);
    begin_ = at_ = buffer.data();
    end_ = buffer.data() + buffer.size();
  }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  void put(std::string_view text) {
    if (text.size() > spare) return put_long(text);
    std::memcpy(room(text.size()), text.data(), text.size());
    at_ += text.size();
  }
  void put(char c) {
    *room(1) = c;
    ++at_;
  }
  // A name: an inline one is copied as the 16 bytes that hold it.
  void put_name(const Text& name) {
    const std::string_view text = name.view();
    if (text.size() >= 16) return put_text(text);
    note_width(name.width());
    std::memcpy(room(16), text.data(), 16);
    at_ += text.size();
  }
  // Any other text from the user, whose characters are looked at here.
  void put_text(std::string_view text) {
    note_width(Text::width_of(text));
    put_long(text);
  }
  // The decimal form of an integer, without an intermediate copy.
  void put_number(std::uint64_t value) {
    const unsigned count = digit_count(value);
    char* end = room(count) + count;
    at_ = end;
    while (value >= 100) {
      end -= 2;
      std::memcpy(end, &digit_pairs[value % 100 * 2], 2);
      value /= 100;
    }
    if (value >= 10) {
      std::memcpy(end - 2, &digit_pairs[value * 2], 2);
    } else {
      end[-1] = static_cast<char>('0' + value);
    }
  }
  void put_number(std::int32_t value) {
    if (value < 0) put('-');
    put_number(std::uint64_t{value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                       : static_cast<std::uint32_t>(value)});
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
  void put_long(std::string_view text) {
    char* at = room(text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    at_ = at + text.size();
  }
  static unsigned digit_count(std::uint64_t value) {
    constexpr auto powers = [] {
      std::array<std::uint64_t, 20> powers{1};
      for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
      return powers;
    }();
    // log10 from the bit length (1233 / 4096 is just above log10(2)), then one comparison.
    const unsigned guess = static_cast<unsigned>(std::bit_width(value | 1)) * 1233 >> 12;
    return guess + ((value | 1) >= powers[guess]);
  }
  static constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
      pairs[2 * i] = static_cast<char>('0' + i / 10);
      pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
  }();

  Destination& destination_;
  char* begin_;
  char* at_;
  char* end_;
  unsigned widest_ = 0;
};

// "(a, b)" from the first two entries of a payoff, integers in decimal and variables by their
// names as `write_name` writes them; a payoff of fewer than two entries is out of bounds.
template <class WriteName>
void put_payoff_pair(Out& out, const Payoff& payoff, WriteName write_name) {
  auto pair = [&](const auto& entries, auto write) {
    if (entries.size() < 2) out_of_bounds(entries.size(), entries.size());
    out.put('(');
    write(entries[0]);
    out.put(", ");
    write(entries[1]);
    out.put(')');
  };
  if (payoff.is_numeric()) {
    pair(payoff.numbers(), [&](std::int32_t n) { out.put_number(n); });
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
// marks are cleared when the walk ends, however it ends. The frames are kept like a text, in
// memory that grows by remapping (a path can be a million nodes long).
template <class Frame>  // trivially copyable, with a member `const Decision* node`
class Path {
 public:
  Path() = default;
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
  bool empty() const { return size_ == 0; }

 private:
  MemoryDestination memory_;
  Frame* frames_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace kelvora::walk
