// A laid-out drawing as the writers in draw/ take it: dots, paths and labels at their final
// places, in pixels of a 12 px text, y growing downwards, whatever the direction of the tree.
// The writers only print; every decision about where things go is taken in layout/.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "machine.hpp"
#include "text.hpp"
#include "tree/node.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

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
// Of a dot, the path whose last point is its centre, written out before it (an edge into its
// node), so that a writer may copy the centre's text from there; no_path where there is none.
constexpr std::uint32_t no_path = UINT32_MAX;
struct Dot {
  Point at;
  DotKind kind;
  std::uint32_t edge;
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

// What a label shows: the action that leads to a node, the player who moves at it (the first
// child's player), its payoff (a leaf's, or an inner node's shown after the player), or the
// probability of the chance move to it, as written, set upright after the action's name.
enum class LabelKind : std::uint8_t { action, player, payoff, probability };
enum class Anchor : std::uint8_t { start, middle, end };
// What the payoff in a label's text is made of: numbers as they are written (integers, decimals,
// fractions), or names of variables; none in a label without a payoff.
enum class Entries : std::uint8_t { none, numbers, names };
// A label's text is Scene::text[text, text + size), made once by the layout while it read the
// node: the action's name; the player's name, then (after name_size() bytes) a space and the
// payoff; the payoff, "(3, -2)"; or the probability, "(1/3)" after a name, "1/3" without one. The
// entries of a payoff of names are told apart by their sizes, which follow the text (see
// for_each_entry).
struct Label {
  Point at;  // on the baseline
  std::uint64_t text;
  std::uint32_t size;
  LabelKind kind;
  Anchor anchor;  // of the text at `at`
  Entries entries;
  std::uint8_t widest : 2;  // the widest character of the text, as Text::width counts it
  bool paired : 1;          // of an action's name: the next label is the probability of its move
};
static_assert(sizeof(Label) == 32);

// Where the arrays of drawings get their memory. A drawing's arrays first take room in turn
// from one block kept for them all, the arena, which is whole again once every one of them has
// given its room back: a small drawing goes neither to the allocator nor to the kept blocks for
// them. An array that outgrows its room there moves out, to a block that other arrays gave back
// and that is kept for the next one to take, or to one from the allocator. At most a MiB is kept
// so; a larger block, or one more, goes back to the allocator.
namespace spares {
// The size of the least block from the allocator: any kept block serves any small array.
constexpr std::size_t least = 8192;
// The arena: its block, the room not yet taken (from `next` to its end), and the arrays holding
// room there. The module's calls hold the interpreter lock while they draw, so they never overlap.
struct Arena {
  std::uintptr_t begin = 0, size = 0;
  std::uintptr_t next = 0, end = 0;
  std::size_t holders = 0;
};
extern Arena arena;
// Room is taken in the arena in whole lines of 64 bytes, so that no two arrays share one.
constexpr std::size_t line = 64;
// A block of at least `bytes` (then set to its size) for what a block of `held` bytes (null, or
// one from here) holds in its first `used` bytes: room in the arena, a kept block or one from the
// allocator, or the block grown (std::bad_alloc when there is none).
void* more(void* block, std::size_t held, std::size_t used, std::size_t& bytes);
// Keeps a block of `bytes` outside the arena (from malloc) or frees it.
void give_kept(void* block, std::size_t bytes);

inline bool in_arena(const void* block) {
  return reinterpret_cast<std::uintptr_t>(block) - arena.begin < arena.size;
}
// The sanitized builds, which run the tests, see the room in the arena that no array holds as
// freed memory, and keep a line of it after each array: reading or writing past an array there
// is reported as it is past a block of its own.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t gap = line;
inline void lend(void* room, std::size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(room, bytes); }
inline void take_back(void* room, std::size_t bytes) { ASAN_POISON_MEMORY_REGION(room, bytes); }
#else
constexpr std::size_t gap = 0;
inline void lend(void*, std::size_t) {}
inline void take_back(void*, std::size_t) {}
#endif
// Whether the arena has room of `bytes` (a multiple of `line`) left for an array.
inline bool room_in_arena(std::size_t bytes) { return arena.end - arena.next >= bytes + gap; }
// Room of `bytes` in the arena for an array, where room_in_arena(bytes).
inline void* lend_from_arena(std::size_t bytes) {
  void* const room = reinterpret_cast<void*>(arena.next);
  arena.next += bytes + gap;
  ++arena.holders;
  lend(room, bytes);
  return room;
}
// A first block of `bytes` (a multiple of `line`) for an array: room in the arena where there
// is that much left, else as more() gives it.
inline void* first(std::size_t& bytes) {
  if (room_in_arena(bytes)) return lend_from_arena(bytes);
  return more(nullptr, 0, 0, bytes);
}
// Gives back a block from first() or more() of `bytes`; null is ignored.
inline void give(void* block, std::size_t bytes) {
  if (in_arena(block)) {
    take_back(block, bytes);
    // The last room given back makes the arena whole again.
    if (--arena.holders == 0) arena.next = arena.begin;
    return;
  }
  if (block != nullptr) give_kept(block, bytes);
}
}  // namespace spares

// Elements of a trivially copyable type in one block that grows in place where the system can
// (realloc, with huge pages advised), appended to through a pointer. `Slack` elements more than
// its size can always be read. A new block is taken from `spares`, where a dropped one goes.
template <class T, std::size_t Minimum, std::size_t Slack = 0>
class Block {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  static constexpr std::size_t slack = Slack;

  Block() = default;
  Block(Block&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Block& operator=(Block&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~Block() { spares::give(data_, (capacity_ + Slack) * sizeof(T)); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }

  // `count` more elements at the end, to be written.
  T* extend(std::size_t count) {
    if (capacity_ - size_ < count) grow(size_ + count);
    T* at = data_ + size_;
    size_ += count;
    return at;
  }
  void push_back(const T& value) { *extend(1) = value; }
  // Appends where grow() has made room for it already. The sanitized builds, which run the
  // tests, check that it has.
  void push_reserved(const T& value) {
#if defined(__SANITIZE_ADDRESS__)
    if (size_ >= capacity_) std::abort();
#endif
    data_[size_++] = value;
  }
  // Forgets the elements from `size` on.
  void cut(std::size_t size) { size_ = size; }
  // Just `count` copies of `value`.
  void assign(std::size_t count, const T& value) {
    grow(count);
    size_ = count;
    std::fill(data_, data_ + count, value);
  }

  // Makes room for `count` elements in all (std::bad_alloc when there is none).
  void grow(std::size_t count) {
    if (count <= capacity_) return;
    std::size_t bytes;
    if (data_ == nullptr) {
      bytes =
          ((std::max(count, Minimum) + Slack) * sizeof(T) + spares::line - 1) & ~(spares::line - 1);
      data_ = static_cast<T*>(spares::first(bytes));
    } else {
      bytes = (std::max(count, 2 * capacity_) + Slack) * sizeof(T);
      data_ = static_cast<T*>(
          spares::more(data_, (capacity_ + Slack) * sizeof(T), (size_ + Slack) * sizeof(T), bytes));
    }
    capacity_ = bytes / sizeof(T) - Slack;
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The labels' texts, in one block.
class Bytes : public Block<char, 256, 16> {
 public:
  std::string_view view(std::size_t at, std::size_t size) const { return {data() + at, size}; }
  void append(std::string_view text) {
    if (!text.empty()) std::memcpy(extend(text.size()), text.data(), text.size());
  }
  void append(char c) { *extend(1) = c; }
  // A name kept inside its Text is copied as the Text's 16 bytes, into the slack after the end.
  void append_name(const Text& text) {
    static_assert(sizeof(Text) == slack);
    text.copy_to(extend(text.view().size()));
  }
};

// Gives back to the system the pages of an array that will not be read again (a scene's, once
// written out; the places, once the scene is made of them), so that a large drawing does not hold
// all of its arrays and its text in full at once. Only an array of a MiB or more gives its pages
// back as it is written out, which is decided once, so that a small drawing pays one comparison
// per item.
class Release {
 public:
  // Of the array `items`, whose items are then written out in order.
  template <class Items>
  explicit Release(const Items& items) {
    next_ = items.size() * sizeof(*items.data()) >= step ? 0 : UINTPTR_MAX;
  }

  // Frees the whole array, its pages given back first: a block that the allocator keeps for
  // reuse would still count as the process's. An array of fewer bytes than a page holds no
  // whole page of its own: it is left for its owner to free.
  template <class Items>
  static void all(Items& items) {
    if (items.size() * sizeof(*items.data()) < page) return;
    Release release;
    release.before(items, items.data() + items.size(), 0);
    items = Items();
  }
  // The items of `items` before `done` are written out: their pages are given back `least`
  // bytes or more at a time (a MiB). True when some were; most calls only compare `done`.
  template <class Items, class T>
  bool before(const Items& items, const T* done, std::uintptr_t least = step) {
    const auto at = reinterpret_cast<std::uintptr_t>(done);
    if (at < next_) return false;
    give_back(reinterpret_cast<std::uintptr_t>(items.data()), at, least);
    return true;
  }

 private:
  static constexpr std::uintptr_t page = 4096, step = std::uintptr_t{1} << 20;
  Release() = default;
  void give_back(std::uintptr_t begin, std::uintptr_t at, std::uintptr_t least) {
    const std::uintptr_t end = at & ~(page - 1);
    if (released_ < begin) released_ = (begin + page - 1) & ~(page - 1);
    if (end > released_ && end - released_ >= least) {
      madvise(reinterpret_cast<void*>(released_), end - released_, MADV_DONTNEED);
      released_ = end;
    }
    next_ = released_ + least;
  }
  std::uintptr_t released_ = 0;
  std::uintptr_t next_ = 0;  // no page is given back before `done` reaches it
};

struct Scene {
  Block<Dot, 16> dots;
  Block<Path, 16> paths;  // in the order they are drawn
  Block<Segment, 16> segments;
  Block<Point, 16> points;
  Block<Label, 16> labels;
  Bytes text;                       // of the labels
  double left, top, right, bottom;  // the box holding everything drawn, margin included
  // Whether each label's text lies after the texts of the labels before it, so that a writer may
  // give back the text's pages as it writes the labels.
  bool text_in_order = false;
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

// The whole text of a label.
inline std::string_view text_of(const Scene& scene, const Label& label) {
  return scene.text.view(label.text, label.size);
}

// Of a player's label, the bytes of the name in its text (kept just before the text); else all.
inline std::uint32_t name_size(const Scene& scene, const Label& label) {
  if (label.kind != LabelKind::player) return label.size;
  std::uint32_t size;
  std::memcpy(&size, scene.text.data() + label.text - sizeof size, sizeof size);
  return size;
}

// Calls entry(text) for each entry of the label's payoff, in order ("3", "-2", "x"): the
// entries stand between "(" and ")", ", " apart; those of names are cut by their sizes, kept
// after the text (a count, then a size each, as 32-bit numbers), since a name may hold ", ".
template <class Entry>
void for_each_entry(const Scene& scene, const Label& label, Entry&& entry) {
  const char* text = scene.text.data() + label.text;
  const char* at = text + (label.kind == LabelKind::player ? name_size(scene, label) + 1 : 0) + 1;
  const char* end = text + label.size - 1;
  if (label.entries == Entries::names) {
    const char* sizes = text + label.size;
    std::uint32_t count;
    std::memcpy(&count, sizes, 4);
    for (std::uint32_t k = 0; k < count; ++k) {
      std::uint32_t size;
      std::memcpy(&size, sizes + 4 * (k + 1), 4);
      if (k > 0) at += 2;
      entry(std::string_view(at, size));
      at += size;
    }
    return;
  }
  while (at < end) {
    const char* stop = at;
    while (stop < end && *stop != ',') ++stop;
    entry(std::string_view(at, static_cast<std::size_t>(stop - at)));
    at = stop < end ? stop + 2 : end;
  }
}

}  // namespace kelvora::layout
