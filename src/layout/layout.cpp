// The tidy layout: the places of the tree's node occurrences (walked depth first, which
// refuses cycles), their levels, a bend for each level that a stretched edge crosses, and
// Walker's two passes over the places, bottom-up and then top-down.
#include "layout/layout.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <new>
#include <unordered_map>
#include <utility>

#include "export/walk.hpp"
#include "machine.hpp"

namespace kelvora::layout {
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

// `count` copies of `value` in a fresh block, as above.
template <class T>
std::vector<T> filled(std::size_t count, T value) {
  std::vector<T> items;
  reserve(items, count);
  items.assign(count, value);
  return items;
}

[[noreturn]] void too_large(std::size_t count) {
  throw RenderFailure(RenderFailure::Kind::too_large,
                      "the drawing would not fit in this machine's memory: " +
                          std::to_string(count) + " places so far");
}

// The side of child `k` of `count`: left of the middle, right of it, or (the middle child of
// an odd count) either, decided once the parent's place is known.
Side side_of(std::uint32_t k, std::uint32_t count) {
  if (count == 1 || 2 * k > count - 1) return Side::right;
  return 2 * k < count - 1 ? Side::left : Side::middle;
}

// The room that a place's dot and labels take on each side of its centre. A middle child's
// labels go to one side or the other once its parent's place is known: room is kept on both.
void measure(Place& place, bool root, std::string (&scratch)[2]) {
  place.left = place.right = 1;
  if (place.node == nullptr) return;
  double left = dot_radius + 1, right = dot_radius + 1;
  const bool both = place.side == Side::middle && !root;
  for (const Side side : {both ? Side::left : place.side, Side::right}) {
    const Labels labels = labels_of(*place.node, root, side, scratch);
    for (const Label* label : {&labels.action, &labels.player, &labels.payoff}) {
      if (label->text.empty()) continue;
      const double width = text_width(label->text);
      const double shift = label->anchor == Anchor::start    ? 0
                           : label->anchor == Anchor::middle ? width / 2
                                                             : width;
      left = std::max(left, shift - label->dx);
      right = std::max(right, label->dx - shift + width);
    }
    if (!both) break;
  }
  if (both) left = right = std::max(left, right);
  place.left = static_cast<float>(left);
  place.right = static_cast<float>(right);
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

// The places of the node occurrences (no bends yet), each at its depth, and the information
// sets with their members in pre-order.
struct Tree {
  Places places;
  std::vector<std::vector<std::uint32_t>> sets;
};

// Walks the tree depth first from the root; a node met again below itself is a cycle. A
// node's children get consecutive places when it is entered, so every place comes after its
// parent's.
Tree occurrences(const Decision& root) {
  struct Frame {
    const Decision* node;
    std::uint32_t place;
    std::uint32_t next_child;
  };
  Tree tree;
  Places& all = tree.places;
  std::unordered_map<SetKey, std::uint32_t, SetKeyHash> set_of;
  walk::Path<Frame> path;
  walk::Progress progress;
  std::string scratch[2];
  auto enter = [&](std::uint32_t i) {
    const Decision& node = *all[i].node;
    path.push(Frame{&node, i, 0});
    measure(all[i], i == 0, scratch);
    const auto first = static_cast<std::uint32_t>(all.size());
    const auto count = static_cast<std::uint32_t>(node.children.size());
    if (node.children.size() >= none - first) too_large(all.size());
    all[i].first_child = first;
    all[i].child_count = count;
    const std::uint32_t level = all[i].level + 1;
    for (std::uint32_t k = 0; k < count; ++k) {
      all.push_back(
          Place{&read_node(node.children[k]), i, 0, 0, level, 0, 0, 0, side_of(k, count)});
    }
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
  all.push_back(Place{&root, 0, 0, 0, 0, 0, 0, 0, Side::middle});
  enter(0);
  while (!path.empty()) {
    Frame& top = path.top();
    const Place& at = all[top.place];
    if (top.next_child < at.child_count) {
      enter(at.first_child + top.next_child++);
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

// Gives each place its level: one below its parent's, and for the members of a merged set
// the deepest of those, so that they share it (Kahn's order over the tree with each set's
// members taken as one). Sets that wait on one another (a member of each below a member of
// the other) would never be placed: they keep their members' own levels, and are no longer
// merged.
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
    bool dissolved = false;
    for (std::size_t s = 0; s < tree.sets.size(); ++s) {
      if (!merged[s] || pending[s] == 0) continue;
      merged[s] = false;
      dissolved = true;
      for (std::uint32_t m : tree.sets[s]) {
        if (done[all[m].parent]) place(m, all[all[m].parent].level + 1);
      }
    }
    if (!dissolved) {
      throw RenderFailure(RenderFailure::Kind::fault, "the levels of the drawing did not settle");
    }
  }
}

// The places again, with a bend on every level that an edge to a lower level crosses: the
// bend takes the child's place among its siblings, and the child hangs below the last bend.
// The members of the sets are moved to their new places.
Places with_bends(Tree& tree) {
  const Places& old = tree.places;
  Places places;
  std::vector<std::uint32_t> origin;  // the old place; of a bend, that of the child below it
  std::vector<std::uint32_t> moved(old.size());
  places.grow(old.size());
  reserve(origin, old.size());
  walk::Progress progress;
  std::string scratch[2];
  auto add = [&](std::uint32_t parent, std::uint32_t from, std::uint32_t level, Side side) {
    if (places.size() == none) too_large(places.size());
    const bool bend = old[from].level > level;
    if (!bend) moved[from] = static_cast<std::uint32_t>(places.size());
    places.push_back(old[from]);
    Place& place = places.back();
    place.parent = parent;
    place.level = level;
    if (bend) place.node = nullptr;
    if (bend || place.side != side) {
      place.side = side;
      measure(place, from == 0, scratch);
    }
    origin.push_back(from);
    progress.step(places.size() * bytes_per_place);
  };
  add(0, 0, 0, Side::middle);
  for (std::uint32_t i = 0; i < places.size(); ++i) {
    const auto first = static_cast<std::uint32_t>(places.size());
    const std::uint32_t level = places[i].level + 1;
    const Place& at = old[origin[i]];
    if (places[i].node == nullptr) {
      add(i, origin[i], level, Side::right);
    } else {
      for (std::uint32_t c = at.first_child; c < at.first_child + at.child_count; ++c) {
        add(i, c, level, old[c].side);
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

// Walker's algorithm over the places, which are so ordered that every place comes after its
// parent, so going through them backwards meets each place after all its descendants.
class Walker {
 public:
  explicit Walker(Places& places)
      : places_(places),
        prelim_(filled(places.size(), 0.0)),
        mod_(filled(places.size(), 0.0)),
        shift_(filled(places.size(), 0.0)),
        change_(filled(places.size(), 0.0)),
        thread_(filled(places.size(), none)),
        ancestor_(filled(places.size(), std::uint32_t{0})) {
    for (std::uint32_t v = 0; v < places.size(); ++v) ancestor_[v] = v;
  }

  void run() {
    for (std::uint32_t v = static_cast<std::uint32_t>(places_.size()); v-- > 0;) {
      if (places_[v].child_count > 0) arrange_children(v);
    }
    prelim_[0] = midpoint(0);
    // Top-down: a place's x is its prelim plus the mods of all above it (kept in change_).
    change_[0] = 0;
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

  Places& places_;
  std::vector<double> prelim_, mod_, shift_, change_;
  std::vector<std::uint32_t> thread_, ancestor_;
};

// The dashed lines of the information sets: between neighbours in each merged set, straight
// when no other node lies between them on their level and round the others below otherwise;
// between members in pre-order in the others.
std::vector<Link> links_of(const Tree& tree, const std::vector<bool>& merged,
                           const Places& places) {
  // The nodes on the levels of merged sets, by level and then from left to right.
  std::vector<bool> wanted;
  for (std::size_t s = 0; s < tree.sets.size(); ++s) {
    if (!merged[s]) continue;
    const std::uint32_t level = places[tree.sets[s].front()].level;
    if (level >= wanted.size()) wanted.resize(level + 1);
    wanted[level] = true;
  }
  std::vector<std::pair<std::uint32_t, double>> row;
  for (const Place& place : places) {
    if (place.node != nullptr && place.level < wanted.size() && wanted[place.level]) {
      row.emplace_back(place.level, place.x);
    }
  }
  std::sort(row.begin(), row.end());

  std::vector<Link> links;
  std::vector<std::uint32_t> members;
  for (std::size_t s = 0; s < tree.sets.size(); ++s) {
    members = tree.sets[s];
    if (merged[s]) {
      std::sort(members.begin(), members.end(),
                [&](std::uint32_t a, std::uint32_t b) { return places[a].x < places[b].x; });
    }
    for (std::size_t k = 1; k < members.size(); ++k) {
      const Place &a = places[members[k - 1]], &b = places[members[k]];
      const bool between =
          merged[s] && std::upper_bound(row.begin(), row.end(), std::pair(a.level, a.x)) <
                           std::lower_bound(row.begin(), row.end(), std::pair(b.level, b.x));
      links.push_back(Link{members[k - 1], members[k], between});
    }
  }
  return links;
}

}  // namespace

double text_width(std::string_view text) {
  double thousandths = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i++]);
    if (c >= 0x80) {
      while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    thousandths += c >= 32 && c < 127 ? ascii_widths[c - 32] : 1000;
  }
  return thousandths * font_size / 1000;
}

void payoff_text(const Payoff& payoff, std::string& out) {
  out += '(';
  for (std::size_t i = 0; i < payoff.size(); ++i) {
    if (i > 0) out += ", ";
    append_payoff_entry(payoff, i, out);
  }
  out += ')';
}

Labels labels_of(const Decision& node, bool root, Side side, std::string (&scratch)[2]) {
  const double dx = side == Side::left ? -label_offset : side == Side::right ? label_offset : 0;
  const Anchor anchor = side == Side::left    ? Anchor::end
                        : side == Side::right ? Anchor::start
                                              : Anchor::middle;
  auto label = [](std::string_view text, double dx, double baseline, Anchor anchor) {
    return Label{text, dx, baseline, anchor};
  };
  Labels labels{};
  if (!root) labels.action = label(node.name, dx, action_baseline, anchor);
  if (!node.children.empty()) {
    std::string_view player = walk::first_child_player(node);
    if (node.payoff) {
      scratch[0].assign(player);
      scratch[0] += ' ';
      payoff_text(node.payoff, scratch[0]);
      player = scratch[0];
    }
    labels.player = label(player, dx, player_baseline, anchor);
  } else if (node.payoff) {
    scratch[1].clear();
    payoff_text(node.payoff, scratch[1]);
    labels.payoff = label(scratch[1], 0, payoff_baseline, Anchor::middle);
  }
  return labels;
}

Drawing lay_out(const Game& game, const Options&) {
  Tree tree = occurrences(read_node(game.root.get()));
  std::vector<bool> merged(tree.sets.size());
  if (!tree.sets.empty()) {
    merged = mergeable(tree);
    if (std::find(merged.begin(), merged.end(), true) != merged.end()) {
      assign_levels(tree, merged);
      const auto& all = tree.places;
      const bool stretched = std::any_of(all.begin() + 1, all.end(), [&](const Place& place) {
        return place.level > all[place.parent].level + 1;
      });
      if (stretched) tree.places = with_bends(tree);
    }
  }
  Drawing drawing{std::move(tree.places), {}, 0, 0, 0, 0};
  Places& places = drawing.places;
  Walker walker(places);
  walker.run();

  double left = 0, right = 0;
  std::uint32_t deepest = 0;
  for (std::uint32_t v = 0; v < places.size(); ++v) {
    Place& place = places[v];
    if (v != 0 && place.side == Side::middle) {
      place.side = places[place.parent].x > place.x ? Side::left : Side::right;
    }
    left = std::min(left, place.x - place.left);
    right = std::max(right, place.x + place.right);
    deepest = std::max(deepest, place.level);
  }
  if (!tree.sets.empty()) drawing.links = links_of(tree, merged, places);
  drawing.left = left - margin;
  drawing.right = right + margin;
  drawing.top = player_baseline - ascent - margin;
  drawing.bottom =
      deepest * level_distance + std::max(payoff_baseline + descent, detour + 1) + margin;
  return drawing;
}

void Places::grow(std::size_t count) {
  if (count <= capacity_) return;
  const std::size_t capacity = std::max({count, 2 * capacity_, std::size_t{1024}});
  void* data = std::realloc(data_, capacity * sizeof(Place));
  if (data == nullptr) throw std::bad_alloc();
  data_ = static_cast<Place*>(data);
  capacity_ = capacity;
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
