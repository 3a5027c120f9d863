// The tidy layout: the places of the tree's node occurrences (walked depth first, which
// refuses cycles), their levels, a bend for each level that a stretched edge crosses, Walker's
// two passes over the places, the distances between levels, and the scene that the writers
// print.
#include "layout/layout.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <utility>

#include "cell.hpp"
#include "digits.hpp"
#include "machine.hpp"
#include "tree/prefetch.hpp"
#include "write/walk.hpp"

namespace kelvora::layout {

namespace spares {
namespace {

// The kept blocks. The module's calls hold the interpreter lock while they draw, so they never
// overlap (as the kept block of python/output.cpp), and the blocks need no lock of their own.
class Kept {
 public:
  ~Kept() {
    for (std::size_t k = 0; k < count_; ++k) std::free(blocks_[k].data);
  }
  void* take(std::size_t& bytes) {
    if (count_ > 0 && blocks_[count_ - 1].bytes >= bytes) {
      const Entry& top = blocks_[--count_];
      bytes = top.bytes;
      total_ -= bytes;
      return top.data;
    }
    for (std::size_t k = count_; k-- > 0;) {
      if (blocks_[k].bytes < bytes) continue;
      void* data = blocks_[k].data;
      bytes = blocks_[k].bytes;
      total_ -= bytes;
      blocks_[k] = blocks_[--count_];
      return data;
    }
    return nullptr;
  }
  void give(void* data, std::size_t bytes) {
    if (count_ == slots || bytes > most - total_) return std::free(data);
    blocks_[count_++] = {data, bytes};
    total_ += bytes;
  }

 private:
  static constexpr std::size_t slots = 16, most = std::size_t{1} << 20;
  struct Entry {
    void* data;
    std::size_t bytes;
  };
  Entry blocks_[slots];
  std::size_t count_ = 0, total_ = 0;
};
Kept kept;

// Huge pages are asked for under a block of this many bytes or more, which only such a block can
// have.
constexpr std::size_t huge = (std::size_t{1} << 21) - 16384;
// The arena's size: the arrays of a drawing of some dozens of nodes.
constexpr std::size_t arena_size = std::size_t{64} << 10;

// Room of `bytes` or more in the arena (then set to its size), or null where there is none.
void* from_arena(std::size_t& bytes) {
  if (arena.size == 0) {
    // Made at the first drawing and kept; without it, every array goes on to the kept blocks.
    void* block = std::aligned_alloc(line, arena_size);
    if (block == nullptr) return nullptr;
    arena.begin = arena.next = reinterpret_cast<std::uintptr_t>(block);
    arena.size = arena_size;
    arena.end = arena.begin + arena_size;
    take_back(block, arena_size);
  }
  const std::size_t rounded = (bytes + line - 1) & ~(line - 1);
  if (!room_in_arena(rounded)) return nullptr;
  bytes = rounded;
  return lend_from_arena(rounded);
}

}  // namespace

Arena arena;

void* more(void* block, std::size_t held, std::size_t used, std::size_t& bytes) {
  if (block != nullptr && !in_arena(block)) {
    void* data = std::realloc(block, bytes);
    if (data == nullptr) throw std::bad_alloc();
    if (bytes >= huge) advise_huge_pages(data, static_cast<char*>(data) + bytes);
    return data;
  }
  // A block taken afresh, which then holds what the room in the arena held.
  void* data = from_arena(bytes);
  if (data == nullptr) data = kept.take(bytes);
  if (data == nullptr) {
    bytes = std::max(bytes, least);
    data = std::malloc(bytes);
    if (data == nullptr) throw std::bad_alloc();
  }
  if (block != nullptr) {
    std::memcpy(data, block, used);
    give(block, held);
  }
  if (bytes >= huge) advise_huge_pages(data, static_cast<char*>(data) + bytes);
  return data;
}
void give_kept(void* block, std::size_t bytes) { kept.give(block, bytes); }

}  // namespace spares

namespace {

// Advance widths of DejaVu Sans for the printable ASCII characters, in thousandths of an em,
// rounded up. Anything else (other scripts, symbols, control characters, which are drawn as
// U+FFFD) is taken as a full em, which overestimates most of them.
constexpr std::uint16_t ascii_widths[95] = {
    318,  401, 461, 838, 637, 951, 780, 276, 391, 391, 500, 838, 318, 362, 318, 337,  // ' '-'/'
    637,  637, 637, 637, 637, 637, 637, 637, 637, 637, 337, 337, 838, 838, 838, 531,  // '0'-'?'
    1000, 685, 687, 699, 771, 633, 576, 776, 753, 295, 295, 657, 558, 864, 749, 788,  // '@'-'O'
    604,  788, 695, 635, 612, 733, 685, 990, 686, 612, 686, 391, 337, 391, 838, 500,  // 'P'-'_'
    500,  613, 636, 550, 636, 616, 353, 636, 634, 278, 278, 580, 278, 975, 634, 613,  // '`'-'o'
    636,  636, 412, 522, 393, 634, 592, 818, 592, 592, 526, 637, 337, 637, 838,       // 'p'-'~'
};

constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();

// The advance width of a text in thousandths of an em, each byte by a table: a character beyond
// ASCII is a full em for its first byte and nothing for the bytes that continue it. Kept as a
// whole number, so that a text's width may be summed from its parts' and come out the same.
std::uint64_t thousandths(std::string_view text) {
  static constexpr struct Widths {
    std::uint16_t of[256];
    constexpr Widths() : of() {
      for (int c = 0; c < 256; ++c) {
        of[c] = c >= 32 && c < 127 ? ascii_widths[c - 32] : (c & 0xC0) == 0x80 ? 0 : 1000;
      }
    }
  } widths;
  std::uint64_t sum = 0;
  for (const char c : text) sum += widths.of[static_cast<unsigned char>(c)];
  return sum;
}
// In pixels; the sum above is exact, as a double's would be.
double width_of(std::uint64_t thousandths) {
  // As a signed number, which converts in one instruction: a width is far below 2**63.
  return static_cast<double>(static_cast<std::int64_t>(thousandths)) * font_size / 1000;
}

// What a place costs at most, its text included, for the memory check of a walk that could
// run away (a few shared subtrees stacked make billions of occurrences).
constexpr std::size_t bytes_per_place = 320;

// Makes room for `count` items in a large fresh block, backed by huge pages where the system
// agrees, so that filling it costs few page faults.
template <class T>
void reserve(std::vector<T>& items, std::size_t count) {
  items.reserve(count);
  advise_huge_pages(items.data(), items.data() + count);
}

// `count` items in a block, to be written.
template <class T>
Block<T, 64> unfilled(std::size_t count) {
  Block<T, 64> items;
  items.extend(count);
  return items;
}

[[noreturn]] void too_large(std::size_t count) {
  throw RenderFailure(RenderFailure::Kind::too_large,
                      "the drawing would not fit in this machine's memory: " +
                          std::to_string(count) + " places so far");
}

// The side of child `k` of `count`: the first left, the last right (an only child too), any
// other decided once its place is known.
Side side_of(std::uint32_t k, std::uint32_t count) {
  if (k + 1 == count) return Side::right;
  return k == 0 ? Side::left : Side::middle;
}

// Lengths of the labels' arrangement, in pixels. A label beside an edge keeps `pad` from it; a
// player's name stands `beside` its node across the levels and ends `lift` before it along
// them; a payoff starts `lift` after its leaf. Rows of labels between two levels keep `row`
// apart. Lanes of information sets lie `lane_step` apart, the first `lane_first` before the
// players' names; an outline passes `outline` from its members' centres, and along a lane
// `comb_half` from it.
constexpr double pad = 4;
constexpr double lift = 8;
constexpr double row = 4;
constexpr double lane_first = 6;
constexpr double lane_step = 10;
constexpr double outline = 6;
constexpr double comb_half = 2;  // half the width of an outline's band along its lane
constexpr double near = 1e-6;

double beside(bool down) { return down ? 7 : 5; }
double min_band(bool down) { return down ? 64 : 40; }

constexpr std::uint64_t no_text = std::numeric_limits<std::uint64_t>::max();

// What append_payoff() appended: what the payoff is made of, its widest character and its
// width in thousandths of an em.
struct PayoffText {
  Entries entries;
  unsigned widest;
  std::uint64_t thousandths;
};

// Writes "(3, -2)" at `at` (room for 2 + 13 bytes a number) and adds its width in thousandths
// of an em to `width`; returns the end. Every digit is as wide, so a number's width follows
// from its count of digits and its sign.
[[gnu::always_inline]] inline char* put_numbers(char* at, std::span<const std::int32_t> numbers,
                                                std::uint64_t& width) {
  constexpr std::uint64_t digit = 637, minus = 362, parenthesis = 391, separator = 318 + 318;
  static_assert(ascii_widths['0' - 32] == digit && ascii_widths['9' - 32] == digit &&
                ascii_widths['-' - 32] == minus && ascii_widths['(' - 32] == parenthesis &&
                ascii_widths[')' - 32] == parenthesis &&
                ascii_widths[',' - 32] + ascii_widths[' ' - 32] == separator);
  *at++ = '(';
  std::uint64_t sum = 2 * parenthesis;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      std::memcpy(at, ", ", 2);
      at += 2;
      sum += separator;
    }
    const std::int32_t value = numbers[i];
    const std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    *at = '-';
    at += value < 0;
    std::size_t digits = 1;
    if (magnitude < 10) {  // most payoffs are small: one or two digits, written at once
      *at = static_cast<char>('0' + magnitude);
    } else if (magnitude < 100) {
      std::memcpy(at, digit_pairs.text + 2 * magnitude, 2);
      digits = 2;
    } else {
      digits = digit_count(magnitude);
      put_digits_before(at + digits, magnitude);
    }
    at += digits;
    sum += digits * digit + (value < 0 ? minus : 0);
  }
  *at++ = ')';
  width += sum;
  return at;
}

// Appends "(3, 2, 2)": every entry of a payoff, integers in decimal (see put_numbers), exact
// numbers as written, variables by name (then their sizes).
PayoffText append_payoff(const Payoff& payoff, Bytes& out) {
  unsigned widest = 0;
  const std::size_t start = out.size();
  auto measured = [&](Entries entries, std::size_t size) {
    return PayoffText{entries, widest, thousandths(out.view(start, size))};
  };
  if (payoff.is_numeric()) {
    const auto numbers = payoff.numbers();
    char* const begin = out.extend(2 + 13 * numbers.size());
    std::uint64_t width = 0;
    char* const end = put_numbers(begin, numbers, width);
    out.cut(start + static_cast<std::size_t>(end - begin));
    return {Entries::numbers, widest, width};
  }
  out.append('(');
  if (payoff.is_exact()) {
    const Exacts& numbers = payoff.exacts();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      if (i > 0) out.append(", ");
      out.append_name(numbers[i].text);
      widest = std::max(widest, numbers[i].text.width());
    }
  } else {
    const Symbolic& names = payoff.variables();
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out.append(", ");
      out.append(names[i].name);
      widest = std::max(widest, Text::width_of(names[i].name));
    }
    out.append(')');
    auto size = [&](std::size_t value) {
      const auto bytes = static_cast<std::uint32_t>(value);
      out.append(std::string_view(reinterpret_cast<const char*>(&bytes), sizeof bytes));
    };
    const std::size_t text_size = out.size() - start;
    size(names.size());
    for (const Variable& name : names) size(name.name.size());
    return measured(Entries::names, text_size);
  }
  out.append(')');
  return measured(Entries::numbers, out.size() - start);
}

// How far ahead of its use a node of a list of children is fetched.
constexpr std::size_t ahead = 8;

// Whether any of the children carries a probability; their records are fetched ahead.
bool any_probability(const Children& children) {
  const std::size_t count = children.size();
  for (std::size_t k = 0; k < count; ++k) {
    if (k + ahead < count) prefetch_node(children[k + ahead]);
    if (read_node(children[k]).has_probability) return true;
  }
  return false;
}

// The widths of the labels on the edge into a node: its action's name, the space between it
// and the probability of the chance move to it, and that probability (0 for what is not shown).
struct ActionWidths {
  double name, space, probability;
  double total() const { return name + space + probability; }
};
ActionWidths action_widths(std::string_view name, std::string_view probability) {
  const double name_width = name.empty() ? 0 : text_width(name);
  if (probability.empty()) return {name_width, 0, 0};
  return {name_width, name_width > 0 ? text_width(" ") : 0, text_width(probability)};
}

// Appends the texts of the labels on the edge into `node` (its action's name, and the
// probability of the chance move to it: "(1/3)" after a name, "1/3" without one), noting their
// sizes in `head`; returns their widths.
ActionWidths action_texts(const Decision& node, Bytes& texts, Texts& head) {
  const std::size_t at = texts.size();
  const std::string_view name = node.name.view();
  texts.append_name(node.name);
  head.action = static_cast<std::uint32_t>(name.size());
  head.action_widest = static_cast<std::uint8_t>(node.name.width());
  if (node.has_probability) {
    const Text& written = probability_of(node)->text;
    if (!name.empty()) texts.append('(');
    texts.append_name(written);
    if (!name.empty()) texts.append(')');
    head.probability = static_cast<std::uint32_t>(texts.size() - at - name.size());
    head.probability_widest = static_cast<std::uint8_t>(written.width());
  }
  if (!node.has_probability) return {name.empty() ? 0 : text_width(name), 0, 0};
  const std::string_view all = texts.view(at, texts.size() - at);
  return action_widths(all.substr(0, head.action), all.substr(head.action));
}

// The sizes of a text `width` wide, across and along the levels.
inline void label_sizes(float& across, float& along, double width, bool down) {
  across = static_cast<float>(down ? width : ascent + descent);
  along = static_cast<float>(down ? ascent + descent : width);
}

// The room that a place keeps on each side of its dot, on its level, as measure() finds it.
struct Room {
  Side side;
  double left, right;

  // Keeps `room` on the place's side, or `inner` on both while its side is open.
  void keep(double room, double inner) {
    switch (side) {
      case Side::left: left = std::max(left, room); break;
      case Side::right: right = std::max(right, room); break;
      case Side::middle:
        left = std::max(left, inner);
        right = std::max(right, inner);
        break;
    }
  }
  // Keeps `half` on both sides, for a label centred on the dot.
  void centred(double half) {
    left = std::max(left, half);
    right = std::max(right, half);
  }
};

// The room that the action's label `width` wide (more than 0) takes beside the edge into a place.
[[gnu::always_inline]] inline void action_room(Place& place, double width, bool down, Room& room) {
  label_sizes(place.action_across, place.action_along, width, down);
  const double beside_edge = place.action_across + 2 * pad;
  room.keep(beside_edge, 2 * beside_edge + std::max(beside_edge, double{place.action_along}));
}

// The room that a node's own label `width` wide takes beside its dot: a leaf's payoff below it
// and the root's player above it are centred on it, another player's name goes to one side.
[[gnu::always_inline]] inline void own_room(Place& place, double width, bool leaf, bool root,
                                            bool down, Room& room) {
  label_sizes(place.own_across, place.own_along, width, down);
  if (leaf) {
    place.own_payoff = true;
    room.centred(place.own_across / 2.0);
  } else if (root) {
    room.centred(width / 2);
  } else {
    const double beside_dot = beside(down) + place.own_across;
    room.keep(beside_dot, beside_dot + std::max(10.0, double{place.own_along}));
  }
}

// measure() of a node's place whose labels hold names and integers only (no probability; a
// payoff, if any, of integers), the most common: its texts are written through a pointer into
// room made for them at once (a name kept inside its Text is copied as its 16 bytes), and its
// numbers are written once each, in the order measure() takes them. Apart from the general
// case, so that it keeps to few registers.
[[gnu::noinline]] void measure_plain(Place& place, const Decision& node, bool root, bool chance,
                                     bool down, Bytes& texts) {
  const bool leaf = node.children.empty();
  const bool own = !leaf || node.payoff;
  const std::string_view name = node.name.view();
  const Text* const player = leaf ? nullptr : &walk::first_child_player(node);
  const std::size_t player_size = player != nullptr ? player->view().size() : 0;
  const auto numbers = node.payoff.numbers();
  const std::size_t at = texts.size();
  texts.grow(at + std::max<std::size_t>(name.size(), sizeof(Text)) + sizeof(std::uint32_t) +
             std::max<std::size_t>(player_size, sizeof(Text)) + 3 + 13 * numbers.size());
  char* const start = texts.data() + at;
  char* end = start;
  // Read only where the place has texts.
  Texts& head = place.texts;
  head = Texts{0, 0, 0, 0, 0, 0, 0, Entries::none};
  const double radius = chance ? chance_radius : dot_radius;
  Room room{place.side, radius, radius};
  place.action_across = place.action_along = 0;
  if (place.action) {
    end = node.name.copy_to(end);
    head.action = static_cast<std::uint32_t>(name.size());
    head.action_widest = static_cast<std::uint8_t>(node.name.width());
    const double width = name.empty() ? 0 : width_of(thousandths(name));
    if (width > 0) action_room(place, width, down, room);
  }
  place.own_across = place.own_along = 0;
  place.own_payoff = false;
  if (own) {
    // The size of the player's name in its label comes just before the label's text.
    char* const name_at = end;
    end += sizeof head.name;
    char* const own_at = end;
    std::uint64_t sum = 0;
    if (player != nullptr) {
      end = player->copy_to(end);
      head.name = static_cast<std::uint32_t>(player_size);
      head.own_widest = static_cast<std::uint8_t>(player->width());
      sum = thousandths(std::string_view(own_at, player_size));
      if (node.payoff) {
        *end++ = ' ';
        sum += ascii_widths[' ' - 32];
      }
    }
    if (node.payoff) {
      end = put_numbers(end, numbers, sum);
      head.entries = Entries::numbers;
    }
    head.own = static_cast<std::uint32_t>(end - own_at);
    std::memcpy(name_at, &head.name, sizeof head.name);
    own_room(place, width_of(sum), leaf, root, down, room);
  }
  place.text = no_text;
  if (end != start) {
    texts.extend(static_cast<std::size_t>(end - start));
    place.text = at;
  }
  place.chance = chance;
  place.leaf = leaf;
  place.left = static_cast<float>(room.left);
  place.right = static_cast<float>(room.right);
}

// The sizes of a place's labels, across and along the levels, and the room it takes on its
// level: its dot, its player's name beside it (on its side, or on both while its side is open),
// the action on the edge into it (the room beside that edge, counted again here because edges
// are straight: room kept at both ends of a band is kept all the way), a leaf's payoff. A
// child between its first and last sibling keeps more room, as the edges from their parent
// converge towards its labels. The texts of its labels are appended to `texts` (their sizes kept
// in the place's Texts), so that nothing needs to read the node again. `chance`: whether the
// children of a node's place carry probabilities (its caller has read them).
[[gnu::noinline]] void measure_any(Place& place, bool root, bool chance, bool down, Bytes& texts) {
  place.action_across = place.action_along = place.own_across = place.own_along = 0;
  place.own_payoff = false;
  place.text = no_text;
  if (place.kind == PlaceKind::phantom) return;
  const bool dot = place.kind == PlaceKind::node;
  const Decision& node = *place.node;
  const bool leaf = node.children.empty();
  place.chance = chance;
  place.leaf = leaf;
  const Side side = place.side;
  const bool action = place.action;
  const bool own = dot && (!leaf || node.payoff);
  Texts head{0, 0, 0, 0, 0, 0, 0, Entries::none};
  const std::size_t at = texts.size();
  // The widths of the action's labels and of the own label, in pixels (0: none).
  double action_width = 0, own_width = 0;
  if (action) action_width = action_texts(node, texts, head).total();
  if (own) {
    const std::size_t name_at = texts.size();
    texts.extend(sizeof head.name);
    const std::size_t own_at = texts.size();
    unsigned widest = 0;
    std::uint64_t sum = 0;
    if (!leaf) {
      const Text& player = walk::first_child_player(node);
      texts.append_name(player);
      head.name = static_cast<std::uint32_t>(player.view().size());
      widest = player.width();
      sum = thousandths(player.view());
      if (node.payoff) {
        texts.append(' ');
        sum += ascii_widths[' ' - 32];
      }
    }
    if (node.payoff) {
      const PayoffText payoff = append_payoff(node.payoff, texts);
      head.entries = payoff.entries;
      widest = std::max(widest, payoff.widest);
      sum += payoff.thousandths;
    }
    head.own = static_cast<std::uint32_t>(texts.size() - own_at);
    if (head.entries == Entries::names)
      head.own -= 4 * static_cast<std::uint32_t>(1 + node.payoff.size());
    head.own_widest = static_cast<std::uint8_t>(widest);
    std::memcpy(texts.data() + name_at, &head.name, sizeof head.name);
    own_width = width_of(sum);
  }
  if (texts.size() > at) {
    place.text = at;
    place.texts = head;
  }

  const double radius = chance ? chance_radius : dot ? dot_radius : 1;
  Room room{side, radius, radius};
  if (action_width > 0) action_room(place, action_width, down, room);
  if (own) own_room(place, own_width, leaf, root, down, room);
  place.left = static_cast<float>(room.left);
  place.right = static_cast<float>(room.right);
}

// measure() of any place: the common one by measure_plain().
inline void measure(Place& place, bool root, bool chance, bool down, Bytes& texts) {
  if (place.kind == PlaceKind::node) {
    const Decision& node = *place.node;
    if (!node.has_probability && (!node.payoff || node.payoff.is_numeric())) {
      return measure_plain(place, node, root, chance, down, texts);
    }
  }
  measure_any(place, root, chance, down, texts);
}

Place make_place(const Decision* node, std::uint32_t parent, std::uint32_t level, Side side,
                 PlaceKind kind) {
  return Place{
      node,  no_text, parent, 0,     0, level, 1, 1, 0, side, kind, kind == PlaceKind::node,
      false, false,   false,  false, 0, 0,     0, 0, {}};
}

// An information set: the first-child player of its members (empty for childless ones) and
// its number.
struct SetKey {
  std::string_view player;
  std::uint64_t number;
  bool operator==(const SetKey&) const = default;
};
struct SetKeyHash {
  std::size_t operator()(const SetKey& key) const noexcept {
    return std::hash<std::string_view>()(key.player) ^ (key.number * 0x9E3779B97F4A7C15ULL);
  }
};

// The numbers of the information sets by their keys, in a table of open addressing that
// doubles when half full (made with the first set): a tree may have a set for every few nodes, and
// a table of linked entries would go to the allocator for each.
class SetNumbers {
 public:
  struct Entry {
    SetKey first;
    std::uint32_t second;
    bool used;
  };
  // The entry of `key`, and whether it was added now (with `number`).
  std::pair<Entry*, bool> try_emplace(const SetKey& key, std::size_t number) {
    if (2 * (count_ + 1) > entries_.size()) grow();
    Entry* entry = find(key);
    if (entry->used) return {entry, false};
    *entry = Entry{key, static_cast<std::uint32_t>(number), true};
    ++count_;
    return {entry, true};
  }

 private:
  Entry* find(const SetKey& key) {
    const std::size_t mask = entries_.size() - 1;
    for (std::size_t k = SetKeyHash()(key) & mask;; k = (k + 1) & mask) {
      if (!entries_[k].used || entries_[k].first == key) return &entries_[k];
    }
  }
  void grow() {
    const Block<Entry, 16> old = std::move(entries_);
    entries_.assign(std::max<std::size_t>(16, 2 * old.size()), Entry{{}, 0, false});
    for (const Entry& entry : old) {
      if (entry.used) *find(entry.first) = entry;
    }
  }

  Block<Entry, 16> entries_;
  std::size_t count_ = 0;
};

// The members of an information set in the order met. Most sets have a few, which are kept
// inside (a tree may have a set for every few nodes); more go to a block of their own.
class Members {
 public:
  Members() = default;
  Members(Members&& other) noexcept
      : size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, kept)),
        heap_(std::exchange(other.heap_, nullptr)) {
    std::memcpy(inline_, other.inline_, sizeof inline_);
  }
  Members& operator=(Members&& other) noexcept {
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(heap_, other.heap_);
    std::swap(inline_, other.inline_);
    return *this;
  }
  ~Members() { std::free(heap_); }

  std::size_t size() const { return size_; }
  std::uint32_t* data() { return heap_ != nullptr ? heap_ : inline_; }
  const std::uint32_t* data() const { return heap_ != nullptr ? heap_ : inline_; }
  std::uint32_t* begin() { return data(); }
  std::uint32_t* end() { return data() + size_; }
  const std::uint32_t* begin() const { return data(); }
  const std::uint32_t* end() const { return data() + size_; }
  std::uint32_t& operator[](std::size_t k) { return data()[k]; }
  const std::uint32_t& operator[](std::size_t k) const { return data()[k]; }
  const std::uint32_t& front() const { return data()[0]; }
  void push_back(std::uint32_t member) {
    if (size_ == capacity_) grow();
    data()[size_++] = member;
  }

 private:
  static constexpr std::uint32_t kept = 4;
  void grow() {
    // A set has fewer members than there are places, whose number fits in 32 bits.
    const std::uint32_t capacity = capacity_ > UINT32_MAX / 2 ? UINT32_MAX : 2 * capacity_;
    void* block = std::realloc(heap_, std::size_t{capacity} * sizeof(std::uint32_t));
    if (block == nullptr) throw std::bad_alloc();
    if (heap_ == nullptr) std::memcpy(block, inline_, sizeof inline_);
    heap_ = static_cast<std::uint32_t*>(block);
    capacity_ = capacity;
  }

  std::uint32_t size_ = 0, capacity_ = kept;
  std::uint32_t* heap_ = nullptr;
  std::uint32_t inline_[kept];
};

// The places of the node occurrences (no bends or phantoms yet), each at its depth, and the
// information sets with their members in pre-order.
struct Tree {
  Places places;
  std::vector<Members> sets;
  Bytes texts;  // of the labels, as measure() keeps them
};

// Walks the tree depth first from the root; a node met again below itself is a cycle. A
// node's children get consecutive places when it is entered, so every place comes after its
// parent's.
Tree occurrences(const Decision& root, bool down) {
  struct Frame {
    const Decision* node;
    std::uint32_t place;
    std::uint32_t next_child;
  };
  Tree tree;
  Places& all = tree.places;
  SetNumbers set_of;
  walk::Path<Frame> path;
  walk::Progress progress;
  // A node's record is read when its parent is entered, and its children's list when it is:
  // the records of a node's children are fetched together, and each child's list of children
  // ahead of its turn, so that a tree whose nodes lie scattered in memory waits less for them.
  auto enter = [&](std::uint32_t i) __attribute__((always_inline)) {
    const Decision& node = *all[i].node;
    const Children& children = node.children;
    const auto count = static_cast<std::uint32_t>(children.size());
    for (std::uint32_t k = 0; k < count && k < ahead; ++k) prefetch_node(children[k]);
    path.push(Frame{&node, i, 0});
    const auto first = static_cast<std::uint32_t>(all.size());
    if (children.size() >= none - first - 1) too_large(all.size());
    Place* const places = all.extend(count);
    const std::uint32_t level = all[i].level + 1;
    bool chance = false;
    for (std::uint32_t k = 0; k < count; ++k) {
      if (k + ahead < count) prefetch_node(children[k + ahead]);
      const Decision& child = read_node(children[k]);
      if (!child.children.empty()) prefetch(child.children.begin());
      chance |= child.has_probability;
      places[k] = make_place(&child, i, level, side_of(k, count), PlaceKind::node);
    }
    Place& place = all[i];
    place.first_child = first;
    place.child_count = count;
    measure(place, i == 0, chance, down, tree.texts);
    if (node.has_information_set) {
      const SetKey key{node.children.empty() ? std::string_view()
                                             : std::string_view(walk::first_child_player(node)),
                       node.information_set_number};
      const auto [it, added] = set_of.try_emplace(key, tree.sets.size());
      if (added) tree.sets.emplace_back();
      tree.sets[it->second].push_back(i);
    }
    progress.step(all.size() * bytes_per_place);
  };
  all.push_back(make_place(&root, 0, 0, Side::middle, PlaceKind::node));
  all[0].action = false;
  enter(0);
  while (!path.empty()) {
    Frame& top = path.top();
    if (top.next_child < top.node->children.size()) {
      enter(all[top.place].first_child + top.next_child++);
      continue;
    }
    path.pop();
  }
  return tree;
}

// Whether each set may share one level: it has two members or more, and none of them lies
// below another (their subtrees, as ranges of pre-order numbers, do not nest).
std::vector<bool> mergeable(const Tree& tree) {
  const Places& all = tree.places;
  std::vector<std::uint32_t> size(all.size(), 1), pre(all.size(), 0);
  for (std::size_t v = all.size(); v-- > 1;) size[all[v].parent] += size[v];
  for (std::uint32_t v = 0; v < all.size(); ++v) {
    std::uint32_t next = pre[v] + 1;
    for (std::uint32_t c = all[v].first_child; c < all[v].first_child + all[v].child_count; ++c) {
      pre[c] = next;
      next += size[c];
    }
  }
  std::vector<bool> merged(tree.sets.size());
  for (std::size_t s = 0; s < tree.sets.size(); ++s) {
    std::uint32_t end = 0;
    bool nested = false;
    for (std::uint32_t m : tree.sets[s]) {
      nested = nested || pre[m] < end;
      end = std::max(end, pre[m] + size[m]);
    }
    merged[s] = tree.sets[s].size() > 1 && !nested;
  }
  return merged;
}

// Of the sets still waiting, dissolves those that wait on one another in a cycle (a member of
// each below a member of the next), which could never be placed, and places their members
// whose parents are placed; the sets that merely wait on those stay merged. A set waits on the
// set that holds back a member's parent: the parent's own, or that of the nearest place above
// it that waits. False when no set waits in a cycle.
template <class Place_>
bool dissolve_cycles(const Tree& tree, std::vector<bool>& merged,
                     const std::vector<std::uint32_t>& pending,
                     const std::vector<std::uint32_t>& set_of, const std::vector<bool>& done,
                     Place_&& place) {
  const Places& all = tree.places;
  const std::size_t count = tree.sets.size();
  auto waiting = [&](std::uint32_t s) { return s != none && merged[s] && pending[s] > 0; };
  std::vector<std::uint32_t> blocker(all.size(), none);
  for (std::uint32_t v = 1; v < all.size(); ++v) {
    if (!done[v]) blocker[v] = waiting(set_of[v]) ? set_of[v] : blocker[all[v].parent];
  }
  std::vector<std::vector<std::uint32_t>> waits(count);
  for (std::uint32_t s = 0; s < count; ++s) {
    if (!waiting(s)) continue;
    for (const std::uint32_t m : tree.sets[s]) {
      const std::uint32_t parent = all[m].parent;
      if (!done[parent] && blocker[parent] != none) waits[s].push_back(blocker[parent]);
    }
  }
  // Tarjan's strongly connected components, with an explicit stack.
  std::vector<std::uint32_t> index(count, none), low(count, 0), stack;
  std::vector<bool> on_stack(count);
  std::vector<std::pair<std::uint32_t, std::size_t>> calls;
  std::uint32_t counter = 0;
  bool dissolved = false;
  auto visit = [&](std::uint32_t s) {
    index[s] = low[s] = counter++;
    stack.push_back(s);
    on_stack[s] = true;
    calls.emplace_back(s, 0);
  };
  for (std::uint32_t root = 0; root < count; ++root) {
    if (!waiting(root) || index[root] != none) continue;
    visit(root);
    while (!calls.empty()) {
      auto& [s, next] = calls.back();
      if (next < waits[s].size()) {
        const std::uint32_t t = waits[s][next++];
        if (index[t] == none) {
          visit(t);
        } else if (on_stack[t]) {
          low[s] = std::min(low[s], index[t]);
        }
        continue;
      }
      const std::uint32_t done_set = s;
      calls.pop_back();
      if (!calls.empty()) {
        low[calls.back().first] = std::min(low[calls.back().first], low[done_set]);
      }
      if (low[done_set] != index[done_set]) continue;
      const bool cycle = stack.back() != done_set;
      std::uint32_t t;
      do {
        t = stack.back();
        stack.pop_back();
        on_stack[t] = false;
        if (!cycle) continue;
        merged[t] = false;
        dissolved = true;
        for (const std::uint32_t m : tree.sets[t]) {
          if (done[all[m].parent]) place(m, all[all[m].parent].level + 1);
        }
      } while (t != done_set);
    }
  }
  return dissolved;
}

// Gives each place its level: one below its parent's, and for the members of a merged set
// the deepest of those, so that they share it (Kahn's order over the tree with each set's
// members taken as one). Sets that wait on one another in a cycle would never be placed: they
// keep their members' own levels, and are no longer merged.
void assign_levels(Tree& tree, std::vector<bool>& merged) {
  Places& all = tree.places;
  std::vector<std::uint32_t> set_of(all.size(), none);
  std::vector<std::uint32_t> pending(tree.sets.size()), set_level(tree.sets.size(), 0);
  for (std::uint32_t s = 0; s < tree.sets.size(); ++s) {
    if (!merged[s]) continue;
    pending[s] = static_cast<std::uint32_t>(tree.sets[s].size());
    for (std::uint32_t m : tree.sets[s]) set_of[m] = s;
  }
  std::vector<std::uint32_t> order;
  reserve(order, all.size());
  std::vector<bool> done(all.size());
  auto place = [&](std::uint32_t i, std::uint32_t level) {
    all[i].level = level;
    order.push_back(i);
  };
  place(0, 0);
  for (std::size_t head = 0;;) {
    for (; head < order.size(); ++head) {
      const Place& parent = all[order[head]];
      done[order[head]] = true;
      for (std::uint32_t c = parent.first_child; c < parent.first_child + parent.child_count; ++c) {
        const std::uint32_t s = set_of[c];
        if (s == none || !merged[s]) {
          place(c, parent.level + 1);
        } else {
          set_level[s] = std::max(set_level[s], parent.level + 1);
          if (--pending[s] == 0) {
            for (std::uint32_t m : tree.sets[s]) place(m, set_level[s]);
          }
        }
      }
    }
    if (order.size() == all.size()) break;
    if (!dissolve_cycles(tree, merged, pending, set_of, done, place)) {
      throw RenderFailure(RenderFailure::Kind::fault, "the levels of the drawing did not settle");
    }
  }
}

// The places again, with a bend on every level that an edge to a lower level crosses: the
// bend takes the child's place among its siblings, and the child hangs below the last bend.
// The first bend carries the edge's action; the child below the bends decides its side by
// where it lands. The members of the sets are moved to their new places.
Places with_bends(Tree& tree, bool down) {
  const Places& old = tree.places;
  Places places;
  std::vector<std::uint32_t> origin;  // the old place; of a bend, that of the child below it
  std::vector<std::uint32_t> moved(old.size());
  places.grow(old.size());
  reserve(origin, old.size());
  walk::Progress progress;
  auto add = [&](std::uint32_t parent, std::uint32_t from, std::uint32_t level, bool below_bend) {
    if (places.size() == none) too_large(places.size());
    const bool bend = old[from].level > level;
    if (!bend) moved[from] = static_cast<std::uint32_t>(places.size());
    places.push_back(old[from]);
    Place& place = places.back();
    place.parent = parent;
    place.level = level;
    if (bend || below_bend) {
      if (bend) place.kind = PlaceKind::bend;
      place.action = !below_bend;
      if (below_bend) place.side = Side::middle;
      const bool chance = place.kind == PlaceKind::node && any_probability(place.node->children);
      measure(place, false, chance, down, tree.texts);
    }
    origin.push_back(from);
    progress.step(places.size() * bytes_per_place);
  };
  add(0, 0, 0, false);
  for (std::uint32_t i = 0; i < places.size(); ++i) {
    const auto first = static_cast<std::uint32_t>(places.size());
    const std::uint32_t level = places[i].level + 1;
    const Place& at = old[origin[i]];
    if (places[i].kind == PlaceKind::bend) {
      add(i, origin[i], level, true);
    } else {
      for (std::uint32_t c = at.first_child; c < at.first_child + at.child_count; ++c) {
        add(i, c, level, false);
      }
    }
    places[i].first_child = first;
    places[i].child_count = static_cast<std::uint32_t>(places.size()) - first;
  }
  for (auto& members : tree.sets) {
    for (std::uint32_t& m : members) m = moved[m];
  }
  return places;
}

// Gives each leaf with a payoff above the deepest level a phantom child, as wide as the
// payoff: the payoff stands between the leaf's level and the next, and with room kept on both,
// no edge of a neighbour passes through it. A phantom is its leaf's only child, so it may come
// last.
void add_phantoms(Places& places) {
  // The leaves with a payoff, less those on the deepest level, in one pass.
  std::uint32_t deepest = 0;
  std::size_t count = 0, at_deepest = 0;
  for (const Place& place : places) {
    if (place.level > deepest) {
      deepest = place.level;
      at_deepest = 0;
    }
    const bool payoff = place.payoff_across() > 0;
    count += payoff;
    at_deepest += payoff && place.level == deepest;
  }
  count -= at_deepest;
  if (count == 0) return;
  if (places.size() + count >= none) too_large(places.size() + count);
  places.grow(places.size() + count);
  const auto size = static_cast<std::uint32_t>(places.size());
  for (std::uint32_t v = 0; v < size; ++v) {
    if (places[v].payoff_across() == 0 || places[v].level == deepest) continue;
    Place phantom =
        make_place(places[v].node, v, places[v].level + 1, Side::middle, PlaceKind::phantom);
    phantom.left = phantom.right = places[v].payoff_across() / 2;
    places[v].first_child = static_cast<std::uint32_t>(places.size());
    places[v].child_count = 1;
    places.push_back(phantom);
  }
}

// Walker's algorithm over the places, which are so ordered that every place comes after its
// parent, so going through them backwards meets each place after all its descendants.
class Walker {
 public:
  Walker(Places& places, bool down)
      : places_(places),
        beside_(beside(down)),
        numbers_(unfilled<double>(5 * places.size())),
        prelim_(numbers_.data()),
        mod_(prelim_ + places.size()),
        shift_(mod_ + places.size()),
        change_(shift_ + places.size()),
        thread_(reinterpret_cast<std::uint32_t*>(change_ + places.size())),
        ancestor_(thread_ + places.size()) {
    // A place's numbers are written by its parent's arrange_children (the root's by run) before
    // they are read.
    std::fill(thread_, thread_ + places.size(), none);
    for (std::uint32_t v = 0; v < places.size(); ++v) ancestor_[v] = v;
  }

  void run() {
    for (std::uint32_t v = static_cast<std::uint32_t>(places_.size()); v-- > 0;) {
      if (places_[v].child_count > 0) arrange_children(v);
    }
    prelim_[0] = midpoint(0);
    // Top-down: a place's x is its prelim plus the mods of all above it (kept in change_).
    mod_[0] = change_[0] = 0;
    places_[0].x = prelim_[0];
    for (std::uint32_t v = 1; v < places_.size(); ++v) {
      const std::uint32_t parent = places_[v].parent;
      change_[v] = change_[parent] + mod_[parent];
      places_[v].x = prelim_[v] + change_[v];
    }
  }

 private:
  double distance(std::uint32_t v, std::uint32_t w) const {
    return places_[v].right + places_[w].left + gap;
  }
  double midpoint(std::uint32_t v) const {
    const Place& place = places_[v];
    if (place.child_count == 0) return 0;
    return (prelim_[place.first_child] + prelim_[place.first_child + place.child_count - 1]) / 2;
  }
  std::uint32_t next_left(std::uint32_t v) const {
    return places_[v].child_count > 0 ? places_[v].first_child : thread_[v];
  }
  std::uint32_t next_right(std::uint32_t v) const {
    const Place& place = places_[v];
    return place.child_count > 0 ? place.first_child + place.child_count - 1 : thread_[v];
  }

  // Places the children of v side by side, each subtree as close to those on its left as
  // their contours allow, then spreads the shifts over the children between.
  void arrange_children(std::uint32_t v) {
    const std::uint32_t first = places_[v].first_child;
    const std::uint32_t last = first + places_[v].child_count - 1;
    std::uint32_t default_ancestor = first;
    for (std::uint32_t w = first; w <= last; ++w) {
      const double middle = midpoint(w);
      // Its mod, shift and change start at 0 here: below, only it and the siblings before it
      // are moved, and apportion() moves places in their subtrees.
      mod_[w] = shift_[w] = change_[w] = 0;
      if (w == first) {
        prelim_[w] = middle;
      } else {
        prelim_[w] = prelim_[w - 1] + distance(w - 1, w);
        if (places_[w].child_count > 0) mod_[w] = prelim_[w] - middle;
        default_ancestor = apportion(w, first, default_ancestor);
      }
    }
    double shift = 0, change = 0;
    for (std::uint32_t w = last + 1; w-- > first;) {
      prelim_[w] += shift;
      mod_[w] += shift;
      change += change_[w];
      shift += shift_[w] + change;
    }
    cover_labels(v);
  }

  std::uint32_t apportion(std::uint32_t v, std::uint32_t leftmost, std::uint32_t default_ancestor) {
    std::uint32_t inner_right = v, outer_right = v, inner_left = v - 1, outer_left = leftmost;
    double s_inner_right = mod_[v], s_outer_right = mod_[v];
    double s_inner_left = mod_[inner_left], s_outer_left = mod_[outer_left];
    while (next_right(inner_left) != none && next_left(inner_right) != none) {
      inner_left = next_right(inner_left);
      inner_right = next_left(inner_right);
      outer_left = next_left(outer_left);
      outer_right = next_right(outer_right);
      ancestor_[outer_right] = v;
      const double shift = (prelim_[inner_left] + s_inner_left) -
                           (prelim_[inner_right] + s_inner_right) +
                           distance(inner_left, inner_right);
      if (shift > 0) {
        const std::uint32_t a = ancestor_[inner_left];
        move_subtree(places_[a].parent == places_[v].parent ? a : default_ancestor, v, shift);
        s_inner_right += shift;
        s_outer_right += shift;
      }
      s_inner_left += mod_[inner_left];
      s_inner_right += mod_[inner_right];
      s_outer_left += mod_[outer_left];
      s_outer_right += mod_[outer_right];
    }
    if (next_right(inner_left) != none && next_right(outer_right) == none) {
      thread_[outer_right] = next_right(inner_left);
      mod_[outer_right] += s_inner_left - s_outer_right;
    }
    if (next_left(inner_right) != none && next_left(outer_left) == none) {
      thread_[outer_left] = next_left(inner_right);
      mod_[outer_left] += s_inner_right - s_outer_left;
      default_ancestor = v;
    }
    return default_ancestor;
  }

  // Siblings are consecutive places, so the number of subtrees between two is their distance.
  void move_subtree(std::uint32_t from, std::uint32_t to, double shift) {
    const double per = shift / static_cast<double>(to - from);
    change_[to] -= per;
    shift_[to] += shift;
    change_[from] += per;
    prelim_[to] += shift;
    mod_[to] += shift;
  }

  // The labels of v's children, between v's level and theirs, as room that v takes on its
  // own level: with the room they take on the children's level, their neighbours' edges,
  // straight, pass clear of them.
  void cover_labels(std::uint32_t v) {
    Place& parent = places_[v];
    const double middle = midpoint(v);
    double left = parent.left, right = parent.right;
    auto cover = [&](double from, double size) {
      left = std::max(left, -from);
      right = std::max(right, from + size);
    };
    for (std::uint32_t w = parent.first_child; w < parent.first_child + parent.child_count; ++w) {
      const Place& child = places_[w];
      const double a = prelim_[w] - middle;
      const bool on_left = a < -near;
      if (child.action_across > 0) {
        cover(on_left ? a / 2 - pad - child.action_across : a / 2 + pad, child.action_across);
      }
      if (child.player_across() > 0) {
        cover(on_left ? a - beside_ - child.player_across() : a + beside_, child.player_across());
      }
    }
    parent.left = static_cast<float>(left);
    parent.right = static_cast<float>(right);
  }

  Places& places_;
  double beside_;
  // The numbers of every place, then its two links (as many bytes as one number), in one block.
  Block<double, 64> numbers_;
  double *prelim_, *mod_, *shift_, *change_;
  std::uint32_t *thread_, *ancestor_;
};

// The scene in the making: points turned for the direction (across and along the levels are x
// and y going down, y and x going right), and the box that holds everything added.
class Builder {
 public:
  Builder(Scene& scene, bool down) : scene_(scene), down_(down) {}

  Point at(double u, double v) const { return down_ ? Point{u, v} : Point{v, u}; }
  void begin(PathKind kind, double u, double v) {
    scene_.paths.push_back(
        Path{kind, false, at(u, v), static_cast<std::uint32_t>(scene_.segments.size()), 0});
    include(at(u, v), 2);
  }
  void line(double u, double v) {
    add_segment(false);
    scene_.points.push_back(at(u, v));
    include(at(u, v), 2);
  }
  // As begin() and line(), to a node's centre: its dot, which takes more room, is in the box.
  // The scene has room for them already.
  void begin_at_dot(PathKind kind, double u, double v) {
    scene_.paths.push_reserved(
        Path{kind, false, at(u, v), static_cast<std::uint32_t>(scene_.segments.size()), 0});
  }
  void line_to_dot(double u, double v) {
    scene_.segments.push_reserved(Segment{false, static_cast<std::uint32_t>(scene_.points.size())});
    ++scene_.paths.back().segment_count;
    scene_.points.push_reserved(at(u, v));
  }
  void curve(double u1, double v1, double u2, double v2, double u3, double v3) {
    add_segment(true);
    for (const Point point : {at(u1, v1), at(u2, v2), at(u3, v3)}) {
      scene_.points.push_back(point);
      include(point, 2);
    }
  }
  void close() { scene_.paths.back().closed = true; }
  // A dashed outline round [a0, a1] across and [b0, b1] along, its corners rounded by r.
  void rounded(PathKind kind, double a0, double a1, double b0, double b1, double r) {
    const double k = 0.5523 * r;
    begin(kind, a0 + r, b0);
    if (a1 - r > a0 + r) line(a1 - r, b0);
    curve(a1 - r + k, b0, a1, b0 + r - k, a1, b0 + r);
    if (b1 - r > b0 + r) line(a1, b1 - r);
    curve(a1, b1 - r + k, a1 - r + k, b1, a1 - r, b1);
    if (a1 - r > a0 + r) line(a0 + r, b1);
    curve(a0 + r - k, b1, a0, b1 - r + k, a0, b1 - r);
    if (b1 - r > b0 + r) line(a0, b0 + r);
    curve(a0, b0 + r - k, a0 + r - k, b0, a0 + r, b0);
    close();
  }
  // One dashed outline round members far apart on a level (at `v`, left to right): a thin
  // band along their lane at `lane`, and from it a tooth down to each member, ending in a
  // round bulb about the member.
  void comb(PathKind kind, const std::uint32_t* members, std::size_t count, const Places& places,
            double v, double lane) {
    const double h = comb_half, r = outline, c = std::sqrt(r * r - h * h);
    const double first = places[members[0]].x, last = places[members[count - 1]].x;
    begin(kind, first - h, lane - h);
    line(last + h, lane - h);
    for (std::size_t k = count; k-- > 0;) {
      const double u = places[members[k]].x;
      line(u + h, v - c);
      // The bulb: from just right of the tooth round below the member to just left of it.
      const double from = std::atan2(-c, h), sweep = 2 * std::acos(-1.0) - 2 * std::atan2(h, c);
      for (int part = 0; part < 4; ++part) arc(u, v, r, from + sweep * part / 4, sweep / 4);
      line(u - h, lane + h);
      if (k > 0) line(places[members[k - 1]].x + h, lane + h);
    }
    line(first - h, lane - h);
    close();
  }
  void dot(double u, double v, DotKind kind, std::uint32_t edge) {
    scene_.dots.push_reserved(Dot{at(u, v), kind, edge});
    include(at(u, v), (kind == DotKind::chance ? chance_radius : dot_radius) + 1);
  }
  // A label (its text as given) whose box is [u0, u1] across and [v0, v1] along, its text
  // anchored as given for each direction. The scene has room for it already, as for dot() and
  // action().
  void label(Label label, double u0, double u1, double v0, double v1, Anchor down_anchor,
             Anchor right_anchor) {
    const Point low = at(u0, v0), high = at(u1, v1);
    label.anchor = down_ ? down_anchor : right_anchor;
    const double x = label.anchor == Anchor::start ? low.x
                     : label.anchor == Anchor::end ? high.x
                                                   : (low.x + high.x) / 2;
    label.at = Point{x, low.y + ascent};
    scene_.labels.push_reserved(label);
    include_box(low, high);
  }
  // The labels on an edge, in a box as above: the action's name, then the probability of the
  // chance move (their texts as measure() kept them at `text`), the pair anchored at the box's
  // start or end.
  void action(const Bytes& texts, const Texts& head, std::uint64_t text, double u0, double u1,
              double v0, double v1, Anchor down_anchor, Anchor right_anchor) {
    const std::string_view name = texts.view(text, head.action),
                           probability = texts.view(text + head.action, head.probability);
    const ActionWidths widths = action_widths(name, probability);
    const Point low = at(u0, v0), high = at(u1, v1);
    const Anchor anchor = down_ ? down_anchor : right_anchor;
    const double y = low.y + ascent;
    const double name_at =
        anchor == Anchor::start ? low.x : high.x - widths.probability - widths.space;
    const double probability_at =
        anchor == Anchor::start ? name_at + widths.name + widths.space : high.x;
    if (widths.name > 0) {
      scene_.labels.push_reserved(Label{Point{name_at, y}, text, head.action, LabelKind::action,
                                        anchor, Entries::none, head.action_widest,
                                        widths.probability > 0});
    }
    if (widths.probability > 0) {
      scene_.labels.push_reserved(Label{Point{probability_at, y}, text + head.action,
                                        head.probability, LabelKind::probability, anchor,
                                        Entries::none, head.probability_widest, false});
    }
    include_box(low, high);
  }
  void finish() {
    scene_.left = left_ - margin;
    scene_.top = top_ - margin;
    scene_.right = right_ + margin;
    scene_.bottom = bottom_ + margin;
  }

 private:
  // A cubic piece of the circle round (u, v) of radius r, from angle `from` over `sweep`.
  void arc(double u, double v, double r, double from, double sweep) {
    const double k = 4.0 / 3.0 * std::tan(sweep / 4) * r, to = from + sweep;
    const double a = std::cos(from), b = std::sin(from), e = std::cos(to), f = std::sin(to);
    curve(u + r * a - k * b, v + r * b + k * a, u + r * e + k * f, v + r * f - k * e, u + r * e,
          v + r * f);
  }
  void add_segment(bool curve) {
    scene_.segments.push_back(Segment{curve, static_cast<std::uint32_t>(scene_.points.size())});
    ++scene_.paths.back().segment_count;
  }
  // A box whose corner `low` is nowhere past `high`: a label's, of sizes that are not negative,
  // in either direction.
  void include_box(Point low, Point high) {
    left_ = std::min(left_, low.x);
    right_ = std::max(right_, high.x);
    top_ = std::min(top_, low.y);
    bottom_ = std::max(bottom_, high.y);
  }
  void include(Point point, double r) {
    left_ = std::min(left_, point.x - r);
    right_ = std::max(right_, point.x + r);
    top_ = std::min(top_, point.y - r);
    bottom_ = std::max(bottom_, point.y + r);
  }

  Scene& scene_;
  bool down_;
  double left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
};

// The members of a set on one level, left to right (members[first..last)), joined along their
// level (nothing between them) or through a lane of their own before the level. A set's
// groups follow each other by level. A set on several levels is joined by a spine: a line
// across the levels beside the whole drawing, where it meets nothing, and from it a branch to
// each group along a lane of the group's own before the group's level.
struct Group {
  std::uint32_t set, first, last;
  bool lane;
  std::uint32_t depth;   // the lane's number in its band
  std::uint32_t branch;  // the number of the branch's lane in its band (none: no branch)
};

// Groups each set's members by level, decides how each group is joined, and numbers the lanes
// of each band (the band before level L is band L - 1).
std::vector<Group> plan_sets(Tree& tree, const Places& places, Block<std::uint32_t, 16>& lanes) {
  std::vector<Group> groups;
  std::vector<bool> wanted;
  for (std::uint32_t s = 0; s < tree.sets.size(); ++s) {
    auto& members = tree.sets[s];
    if (members.size() < 2) continue;
    std::sort(members.begin(), members.end(), [&](std::uint32_t a, std::uint32_t b) {
      const Place &p = places[a], &q = places[b];
      return p.level != q.level ? p.level < q.level : p.x < q.x;
    });
    for (std::uint32_t k = 0; k < members.size();) {
      std::uint32_t end = k + 1;
      const std::uint32_t level = places[members[k]].level;
      while (end < members.size() && places[members[end]].level == level) ++end;
      groups.push_back(Group{s, k, end, false, 0, none});
      if (end - k > 1) {
        if (level >= wanted.size()) wanted.resize(level + 1);
        wanted[level] = true;
      }
      k = end;
    }
  }
  // The rank of each node among the nodes of its level (of those with groups), left to right.
  // The tidy layout keeps every subtree to the right of its left siblings' on every level, so
  // on a level the nodes lie in the order of a walk of the tree from the left (pre-order).
  std::vector<std::uint32_t> rank(wanted.empty() ? 0 : places.size()), next(wanted.size());
  std::vector<std::uint32_t> stack;
  if (!wanted.empty()) stack.push_back(0);
  while (!stack.empty()) {
    const std::uint32_t v = stack.back();
    stack.pop_back();
    const Place& place = places[v];
    if (place.kind == PlaceKind::node && wanted[place.level]) rank[v] = next[place.level]++;
    if (place.level + 1 == wanted.size()) continue;  // nothing below is on a wanted level
    for (std::uint32_t c = place.first_child + place.child_count; c-- > place.first_child;) {
      stack.push_back(c);
    }
  }
  for (Group& group : groups) {
    const auto& members = tree.sets[group.set];
    // A node lies between two members when their ranks are not consecutive.
    for (std::uint32_t k = group.first + 1; k < group.last && !group.lane; ++k) {
      group.lane = rank[members[k]] > rank[members[k - 1]] + 1;
    }
    if (group.lane) group.depth = lanes[places[members[group.first]].level - 1]++;
  }
  // The branches' lanes come after the groups' in each band, so that a branch reaching down to
  // a group's lane meets it at its corner only. Only the root lies on level 0: its branch
  // runs along the level, clear of its label, and takes no lane.
  for (std::size_t g = 0; g < groups.size(); ++g) {
    Group& group = groups[g];
    const bool several = (g > 0 && groups[g - 1].set == group.set) ||
                         (g + 1 < groups.size() && groups[g + 1].set == group.set);
    const std::uint32_t level = places[tree.sets[group.set][group.first]].level;
    if (several) group.branch = level == 0 ? 0 : lanes[level - 1]++;
  }
  return groups;
}

// The sizes of what lies between two levels (along them), and the least distance that the
// labels between converging sibling edges need.
struct Band {
  float payoff, action, player, least;
};

// Raises the band's least height so that a label's box edge `x` (across, from the parent;
// `s` is +1 for a box before the edge, -1 after it) keeps `pad` from the sibling edge of
// slope `a` at t = alpha - (k + pad) / H (a box a little longer than estimated), where t runs from
// the parent's level (0) to the children's (1) and H is the band's height.
void clear_edge(float& least, double a, double s, double x, double alpha, double k) {
  const double slack = s * (a * alpha - x) - pad, pull = s * a * (k + pad);
  if (pull > 0) least = std::max(least, static_cast<float>(pull / std::max(slack, 0.5)) + 1);
}

Block<Band, 16> measure_bands(const Places& places, std::uint32_t levels, bool down) {
  Block<Band, 16> bands;
  bands.assign(levels, Band{0, 0, 0, static_cast<float>(min_band(down))});
  const double off = beside(down);
  for (std::uint32_t v = 0; v < places.size(); ++v) {
    const Place& place = places[v];
    if (place.kind == PlaceKind::phantom) continue;
    float& payoff = bands[place.level].payoff;
    payoff = std::max(payoff, place.payoff_along());
    if (v != 0) {
      Band& band = bands[place.level - 1];
      band.action = std::max(band.action, place.action_along);
      band.player = std::max(band.player, place.player_along());
    }
    if (place.child_count < 2) continue;
    float& least = bands[place.level].least;
    for (std::uint32_t w = place.first_child + 1; w < place.first_child + place.child_count; ++w) {
      const Place &before = places[w - 1], &after = places[w];
      const double a0 = before.x - place.x, a1 = after.x - place.x;
      if (before.side == Side::right) {
        if (before.action_across > 0) {
          clear_edge(least, a1, 1, a0 / 2 + pad + before.action_across, 0.5, before.action_along);
        }
        if (before.player_across() > 0) {
          const double x = a0 + off + before.player_across();
          clear_edge(least, a1, 1, x, 1, lift);
          clear_edge(least, a1, 1, x, 1, lift + before.player_along());
        }
      }
      if (after.side == Side::left) {
        if (after.action_across > 0) {
          clear_edge(least, a0, -1, a1 / 2 - pad - after.action_across, 0.5, after.action_along);
        }
        if (after.player_across() > 0) {
          const double x = a1 - off - after.player_across();
          clear_edge(least, a0, -1, x, 1, lift);
          clear_edge(least, a0, -1, x, 1, lift + after.player_along());
        }
      }
    }
  }
  return bands;
}

// The depth of lane k before a level, from the level.
double lane_depth(const Band& band, std::uint32_t k) {
  return lift + band.player + lane_first + lane_step * k;
}

}  // namespace

double text_width(std::string_view text) { return width_of(thousandths(text)); }

Scene lay_out(const Game& game, const Options& options) {
  const bool down = options.direction == Direction::down;
  Tree tree = occurrences(read_node(game.root.get()), down);
  // Where the members of every set lie at one depth, none lies below another, and each level
  // is its depth already: nothing moves.
  const bool flat = std::all_of(tree.sets.begin(), tree.sets.end(), [&](const auto& members) {
    return std::all_of(members.begin(), members.end(), [&](std::uint32_t m) {
      return tree.places[m].level == tree.places[members.front()].level;
    });
  });
  if (!flat) {
    std::vector<bool> merged = mergeable(tree);
    if (std::find(merged.begin(), merged.end(), true) != merged.end()) {
      assign_levels(tree, merged);
      const auto& all = tree.places;
      const bool stretched = std::any_of(all.begin() + 1, all.end(), [&](const Place& place) {
        return place.level > all[place.parent].level + 1;
      });
      if (stretched) tree.places = with_bends(tree, down);
    }
  }
  Places& places = tree.places;
  add_phantoms(places);
  Walker(places, down).run();

  // In one pass: the number of levels, the sides, what the scene will hold, and the extent
  // across the levels (where the spines of sets on several levels run, outside every place's
  // room: an outline reaches `outline` beyond a member's centre, a label at most a few pixels
  // beyond its place's room).
  std::uint32_t levels = 1;
  std::size_t labels = 0, dots = 0;
  double low = places[0].x - places[0].left, high = places[0].x + places[0].right;
  for (std::uint32_t v = 0; v < places.size(); ++v) {
    Place& place = places[v];
    if (v > 0) {
      levels = std::max(levels, place.level + 1);
      place.side = place.x < places[place.parent].x - near ? Side::left : Side::right;
    }
    // An action's name and the probability of its move are two labels.
    const bool probability = place.text != no_text && place.texts.probability > 0;
    labels += (place.action_across > 0) * (1 + probability) + (place.player_across() > 0) +
              (place.payoff_across() > 0);
    dots += place.kind == PlaceKind::node;
    low = std::min(low, place.x - place.left);
    high = std::max(high, place.x + place.right);
  }
  // The lanes of each band, which only sets take.
  Block<std::uint32_t, 16> lanes;
  std::vector<Group> groups;
  if (!tree.sets.empty()) {
    lanes.assign(levels, 0);
    groups = plan_sets(tree, places, lanes);
  }
  Block<Band, 16> bands = measure_bands(places, levels, down);
  Block<double, 16> along;
  along.assign(levels, 0);
  for (std::uint32_t band = 0; band + 1 < levels; ++band) {
    const Band& sizes = bands[band];
    const double top = lift + sizes.payoff + row;
    const std::uint32_t band_lanes = lanes.empty() ? 0 : lanes[band];
    const double bottom = lift + sizes.player + row +
                          (band_lanes > 0 ? lane_first + lane_step * (band_lanes - 1) : 0);
    along[band + 1] =
        along[band] + std::max(double{sizes.least}, 2 * std::max(top + sizes.action, bottom));
  }
  // A chain has as many levels as places: what is kept of each level goes as soon as it is used.
  Release::all(lanes);

  // Room for everything at once, so that a large scene is not copied as it grows.
  Scene scene;
  std::size_t members = 0;
  for (const auto& set : tree.sets) members += set.size();
  scene.labels.grow(labels);
  scene.dots.grow(dots);
  scene.paths.grow(places.size() + 3 * members);
  scene.segments.grow(places.size() + 12 * members);
  scene.points.grow(places.size() + 16 * members);
  Builder out(scene, down);
  const PathKind set_kind =
      options.sets == SetStyle::line ? PathKind::set_line : PathKind::set_outline;
  const bool line = options.sets == SetStyle::line;
  // The spines run outside [low, high], each at its own distance, on the side nearer its
  // set's members.
  std::uint32_t left_spines = 0, right_spines = 0;
  std::size_t last_group = 0;
  double spine = 0;
  bool spine_left = true;
  // Where a group's branch meets it: the member nearest the spine, the branch's lane, and
  // where the branch ends (the member, the corner of the group's lane or the top of its
  // outline). The root alone lies on level 0, its label above it: its branch runs along the level.
  struct Reach {
    double u, lane, end;
  };
  auto reach = [&](const Group& group) {
    const auto& members = tree.sets[group.set];
    const Place& member = places[members[spine_left ? group.first : group.last - 1]];
    const double v = along[member.level];
    if (member.level == 0) return Reach{member.x, v, v};
    const Band& band = bands[member.level - 1];
    double end = v;
    if (group.last - group.first > 1) {
      if (group.lane) {
        end = v - lane_depth(band, group.depth) - (line ? 0 : comb_half);
      } else if (!line) {
        end = v - outline;
      }
    }
    return Reach{member.x, v - lane_depth(band, group.branch), end};
  };
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const Group& group = groups[g];
    const auto& members = tree.sets[group.set];
    const Place &first = places[members[group.first]], &last = places[members[group.last - 1]];
    const double v = along[first.level];
    if (group.branch != none && (g == 0 || groups[g - 1].set != group.set)) {
      // The first group's branch, the spine and the last group's branch, as one path.
      double to_left = 0, to_right = 0;
      for (last_group = g; last_group < groups.size() && groups[last_group].set == group.set;
           ++last_group) {
        to_left += places[members[groups[last_group].first]].x - low;
        to_right += high - places[members[groups[last_group].last - 1]].x;
      }
      --last_group;
      spine_left = to_left <= to_right;
      spine = spine_left ? low - 2 * lane_first - lane_step * left_spines++
                         : high + 2 * lane_first + lane_step * right_spines++;
      const Reach top = reach(group), bottom = reach(groups[last_group]);
      out.begin(set_kind, top.u, top.end);
      if (top.end != top.lane) out.line(top.u, top.lane);
      out.line(spine, top.lane);
      out.line(spine, bottom.lane);
      out.line(bottom.u, bottom.lane);
      out.line(bottom.u, bottom.end);
    } else if (group.branch != none && g != last_group) {
      const Reach middle = reach(group);
      out.begin(set_kind, spine, middle.lane);
      out.line(middle.u, middle.lane);
      out.line(middle.u, middle.end);
    }
    if (group.last - group.first < 2) continue;
    if (!group.lane) {
      if (line) {
        out.begin(set_kind, first.x, v);
        for (std::uint32_t k = group.first + 1; k < group.last; ++k) {
          out.line(places[members[k]].x, v);
        }
      } else {
        out.rounded(set_kind, first.x - outline, last.x + outline, v - outline, v + outline,
                    outline);
      }
      continue;
    }
    const double lane = v - lane_depth(bands[first.level - 1], group.depth);
    if (!line) {
      out.comb(set_kind, members.data() + group.first, group.last - group.first, places, v, lane);
      continue;
    }
    out.begin(set_kind, first.x, v);
    out.line(first.x, lane);
    out.line(last.x, lane);
    out.line(last.x, v);
    for (std::uint32_t k = group.first + 1; k + 1 < group.last; ++k) {
      out.begin(set_kind, places[members[k]].x, lane);
      out.line(places[members[k]].x, v);
    }
  }

  Release::all(bands);

  // The edges: from each node through the bends below it to the child, each place but the root
  // a path, a segment and a point at most.
  scene.paths.grow(scene.paths.size() + places.size());
  scene.segments.grow(scene.segments.size() + places.size());
  scene.points.grow(scene.points.size() + places.size());
  const auto first_edge = static_cast<std::uint32_t>(scene.paths.size());
  for (std::uint32_t v = 1; v < places.size(); ++v) {
    const Place& top = places[v];
    const Place& parent = places[top.parent];
    if (top.kind == PlaceKind::phantom || parent.kind == PlaceKind::bend) continue;
    places[v].edge = true;
    std::uint32_t end = v;
    while (places[end].kind == PlaceKind::bend) end = places[end].first_child;
    const bool thick =
        std::binary_search(options.highlight.begin(), options.highlight.end(), places[end].node);
    out.begin_at_dot(thick ? PathKind::thick_edge : PathKind::edge, parent.x, along[parent.level]);
    for (std::uint32_t w = v;; w = places[w].first_child) {
      if (w == end) {
        out.line_to_dot(places[w].x, along[places[w].level]);
        break;
      }
      out.line(places[w].x, along[places[w].level]);
    }
  }

  // The dots and the labels. This pass reads each place alone (its parent's centre is where
  // its own edge starts), so the places' pages go back as it passes them.
  const double off = beside(down);
  Release release_places(places);
  bool text_in_order = true;
  std::uint64_t text_end = 0;
  // The edges came in the order of their top places: the next one's number.
  std::uint32_t next_edge = first_edge;
  for (std::uint32_t v = 0; v < places.size(); ++v) {
    release_places.before(places, &places[v]);
    const Place& place = places[v];
    if (place.kind == PlaceKind::phantom) continue;
    const std::uint32_t own_edge = place.edge ? next_edge++ : no_path;
    const double u = place.x, at = along[place.level];
    const bool left = place.side == Side::left;
    Texts head{0, 0, 0, 0, 0, 0, 0, Entries::none};
    if (place.text != no_text) {
      head = place.texts;
      text_in_order = text_in_order && place.text >= text_end;
      text_end = place.text;
    }
    const std::uint64_t action_text = place.text,
                        own_text = action_text + head.action + head.probability + sizeof head.name;
    const Label own{{0, 0},        own_text,     head.own,        LabelKind::player,
                    Anchor::start, head.entries, head.own_widest, false};
    if (place.kind == PlaceKind::node) {
      out.dot(u, at,
              place.chance ? DotKind::chance
              : place.leaf ? DotKind::leaf
                           : DotKind::decision,
              own_edge);
    }
    if (place.action_across > 0) {
      // An edge carrying an action starts at the parent's centre, turned for the direction.
      const Point start = scene.paths[own_edge].start;
      const double um = ((down ? start.x : start.y) + u) / 2,
                   vm = ((down ? start.y : start.x) + at) / 2;
      const double from = left ? um - pad - place.action_across : um + pad;
      if (head.probability == 0) {
        out.label(Label{{0, 0},
                        action_text,
                        head.action,
                        LabelKind::action,
                        Anchor::start,
                        Entries::none,
                        head.action_widest,
                        false},
                  from, from + place.action_across, vm - place.action_along, vm,
                  left ? Anchor::end : Anchor::start, Anchor::end);
      } else {
        out.action(tree.texts, head, action_text, from, from + place.action_across,
                   vm - place.action_along, vm, left ? Anchor::end : Anchor::start, Anchor::end);
      }
    }
    if (place.player_across() > 0) {
      const double from = v == 0 ? u - place.player_across() / 2
                          : left ? u - off - place.player_across()
                                 : u + off;
      out.label(own, from, from + place.player_across(), at - lift - place.player_along(),
                at - lift,
                v == 0 ? Anchor::middle
                : left ? Anchor::end
                       : Anchor::start,
                Anchor::end);
    }
    if (place.payoff_across() > 0) {
      Label payoff = own;
      payoff.kind = LabelKind::payoff;
      out.label(payoff, u - place.payoff_across() / 2, u + place.payoff_across() / 2, at + lift,
                at + lift + place.payoff_along(), Anchor::middle, Anchor::start);
    }
  }
  out.finish();
  scene.text = std::move(tree.texts);
  scene.text_in_order = text_in_order;
  return scene;
}

std::size_t count_occurrences(const Game& game, std::size_t bound) {
  std::vector<const Decision*> stack{&read_node(game.root.get())};
  std::size_t count = 0;
  while (!stack.empty() && count < bound) {
    const Decision* node = stack.back();
    stack.pop_back();
    ++count;
    for (PyObject* child : node->children) stack.push_back(&read_node(child));
  }
  return count;
}

}  // namespace kelvora::layout
