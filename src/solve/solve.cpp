// The solver: the tree flattened into occurrences in pre-order, its subgames found from the
// extent of each information set, then every subgame solved from the last occurrence to the
// first, each equilibrium kept as the choices it adds and links to the equilibria below it.
#include "solve/solve.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "check/validate.hpp"
#include "error.hpp"

namespace kelvora::solve {
namespace {

using Index = std::uint32_t;
constexpr Index none = std::numeric_limits<Index>::max();
using Wide = unsigned __int128;

// --- Exact numbers ---

Wide gcd(Wide a, Wide b) {
  while (b != 0) a = std::exchange(b, a % b);
  return a;
}

constexpr Wide max_part = std::numeric_limits<std::uint64_t>::max();

// -1, 0 or 1 as a is below, at or above b.
int compare_numbers(const Number& a, const Number& b) {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  const Wide left = Wide{a.numerator} * b.denominator, right = Wide{b.numerator} * a.denominator;
  const int order = left < right ? -1 : left > right ? 1 : 0;
  return a.negative ? -order : order;
}

std::string number_text(const Number& n) {
  std::string out = n.negative ? "-" : "";
  out += std::to_string(n.numerator);
  if (n.denominator != 1) out += concat({"/", std::to_string(n.denominator)});
  return out;
}

// --- Occurrences ---

enum class Kind : std::uint8_t { leaf, chance, decision };

struct Occurrence {
  PyObject* object = nullptr;
  const Decision* node = nullptr;
  Index parent = none;
  Index first_child = 0;  // in children_
  Index child_count = 0;
  Index end = 0;  // one past the last occurrence of its subtree
  Index group = none;
  Index first_solution = 0;
  Index solution_count = 0;
  Kind kind = Kind::leaf;
  Index mover = none;  // the payoff entry of a decision's mover
  // The sum of the payoffs on this node, when it has children, and on the nodes above it (in
  // values_), which adds to every payoff below; none while there is none.
  Index carried = none;
  bool subgame = false;
  bool enumerated = false;  // a subgame whose profiles are enumerated
  bool below_enumerated = false;
};

// Every occurrence of a node that one choice governs: an information set, or a node met under
// several parents.
struct Group {
  Index mover;  // payoff entry
  Index actions;
  Index first = none, last = 0;  // the extent of its occurrences
  Index size = 0;
};

struct Solution {
  Index value;  // in values_
  Index links;  // in links_: what the occurrence's kind says
};

// An enumerated subgame: its information sets and the subgames just below it.
struct Region {
  std::vector<Index> groups;
  std::vector<Index> inner;
};

// A payoff entry while solving: a number, or a variable of a leaf's payoff.
struct Entry {
  Number number;
  const Variable* variable = nullptr;
};

class Solver {
 public:
  Solver(const Game& game, const check::Problems& checked, std::size_t limit)
      : game_(game), players_(checked.players), limit_(limit) {}
  ~Solver() {
    for (const Occurrence& occurrence : occurrences_) occurrence.node->seen = false;
  }
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  std::vector<Equilibrium> run() {
    learn_players();
    flatten();
    make_groups();
    find_subgames();
    for (Index u = static_cast<Index>(occurrences_.size()); u-- > 0;) {
      const Occurrence& occurrence = occurrences_[u];
      if (!occurrence.subgame) continue;
      if (occurrence.enumerated) {
        enumerate(u);
      } else {
        combine(u);
      }
    }
    std::vector<Equilibrium> out;
    const Occurrence& root = occurrences_[0];
    for (Index k = 0; k < root.solution_count && out.size() < limit_; ++k) {
      out.push_back(extract(root.first_solution + k));
    }
    return out;
  }

 private:
  // --- The tree ---

  void learn_players() {
    if (players_.size() > 8) {
      for (Index i = 0; i < players_.size(); ++i) player_index_.emplace(players_[i], i);
    }
    if (!game_.player.empty()) nature_ = game_.player[0].name.view();
    stride_ = players_.size();
  }

  Index add_occurrence(PyObject* object, Index parent) {
    if (occurrences_.size() >= none - 1 || children_.size() >= none - 1) {
      throw Refusal(false, "the game tree has too many node occurrences to be solved");
    }
    const Decision& node = read_node(object);
    const Index k = static_cast<Index>(node.children.size());
    Kind kind = Kind::leaf;
    Index mover = none;
    if (k > 0) {
      const Decision& first = read_node(node.children[0]);
      kind = first.has_probability ? Kind::chance : Kind::decision;
      if (kind == Kind::decision) mover = player_of(first.player.name.view());
    }
    const Index first_child = static_cast<Index>(children_.size());
    children_.resize(children_.size() + k, none);
    Occurrence& added = occurrences_.emplace_back();
    added.object = object;
    added.node = &node;
    added.parent = parent;
    added.first_child = first_child;
    added.child_count = k;
    added.kind = kind;
    added.mover = mover;
    const Index above = parent == none ? none : occurrences_[parent].carried;
    if (kind != Kind::leaf) {
      occurrences_.back().carried = node.payoff ? carry(above, node.payoff, parent, object) : above;
    }
    if (kind == Kind::leaf && node.payoff.is_symbolic()) {
      for (const Variable& v : node.payoff.variables()) order_.learn(v);
    }
    if (node.seen) shared_ = true;
    node.seen = true;  // cleared by the destructor, which visits every occurrence
    return static_cast<Index>(occurrences_.size() - 1);
  }

  // Pre-order over every occurrence; the game has passed validate(), so there is no cycle.
  void flatten() {
    struct Frame {
      Index occurrence;
      Index next;
    };
    std::vector<Frame> stack;
    stack.push_back(Frame{add_occurrence(game_.root.get(), none), 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      Occurrence& at = occurrences_[top.occurrence];
      if (top.next == at.child_count) {
        at.end = static_cast<Index>(occurrences_.size());
        stack.pop_back();
        continue;
      }
      const Index slot = at.first_child + top.next++;
      PyObject* child = at.node->children[slot - at.first_child];
      const Index parent = top.occurrence;
      const Index added = add_occurrence(child, parent);
      children_[slot] = added;
      stack.push_back(Frame{added, 0});
    }
  }

  std::string path(Index u) const {
    std::vector<std::string_view> names;
    for (; u != none; u = occurrences_[u].parent) names.push_back(occurrences_[u].node->name);
    std::reverse(names.begin(), names.end());
    return check::path_text(names);
  }

  std::string_view mover_name(Index u) const {
    const Occurrence& at = occurrences_[u];
    return read_node(at.node->children[0]).player.name.view();
  }

  // The payoff entry of the player of that name, or none: a look through a short list, else
  // in the table.
  Index player_of(std::string_view name) const {
    if (players_.size() <= 8) {
      for (Index i = 0; i < players_.size(); ++i) {
        if (players_[i] == name) return i;
      }
      return none;
    }
    const auto it = player_index_.find(name);
    return it == player_index_.end() ? none : it->second;
  }

  void make_groups() {
    std::unordered_map<std::uint64_t, Index> sets;
    std::unordered_map<const Decision*, Index> shared;
    for (Index u = 0; u < occurrences_.size(); ++u) {
      Occurrence& at = occurrences_[u];
      if (at.kind != Kind::decision) continue;
      const Index mover = at.mover;
      if (mover == none) {
        const std::string_view name = mover_name(u);
        throw Refusal(false, concat({path(u), ": ",
                                     name == nature_ ? "Nature moves here without probabilities"
                                                     : "the mover here has no payoff entry"}));
      }
      Index g = static_cast<Index>(groups_.size());
      bool fresh = true;
      if (at.node->has_information_set) {
        const auto [it, added] = sets.try_emplace(at.node->information_set_number, g);
        g = it->second;
        fresh = added;
      } else if (shared_) {
        const auto [it, added] = shared.try_emplace(at.node, g);
        g = it->second;
        fresh = added;
      }
      if (fresh) groups_.push_back(Group{mover, at.child_count});
      Group& group = groups_[g];
      group.first = std::min(group.first, u);
      group.last = std::max(group.last, u);
      ++group.size;
      at.group = g;
    }
  }

  // A subgame is rooted at an occurrence whose subtree holds every member of every set met in
  // it: the least first member and the greatest last member over its subtree, gathered from
  // the last occurrence back, tell. Then which subgames are solved by backward induction
  // (perfect information at the root, subgames at every child) and which are enumerated.
  void find_subgames() {
    const Index n = static_cast<Index>(occurrences_.size());
    std::vector<Index> low(n, none), high(n, 0);
    for (Index u = n; u-- > 0;) {
      const Occurrence& at = occurrences_[u];
      if (at.group != none) {
        low[u] = std::min(low[u], groups_[at.group].first);
        high[u] = std::max(high[u], groups_[at.group].last);
      }
      if (at.parent != none) {
        low[at.parent] = std::min(low[at.parent], low[u]);
        high[at.parent] = std::max(high[at.parent], high[u]);
      }
    }
    for (Index u = 0; u < n; ++u) {
      Occurrence& at = occurrences_[u];
      at.subgame = low[u] >= u && (high[u] < at.end || low[u] == none);
    }
    for (Index u = 0; u < n; ++u) {
      Occurrence& at = occurrences_[u];
      if (at.parent != none) {
        const Occurrence& up = occurrences_[at.parent];
        at.below_enumerated = up.below_enumerated || up.enumerated;
      }
      if (!at.subgame || at.kind == Kind::leaf) continue;
      bool simple = at.kind == Kind::chance || groups_[at.group].size == 1;
      for (Index i = 0; simple && i < at.child_count; ++i) {
        simple = occurrences_[children_[at.first_child + i]].subgame;
      }
      at.enumerated = !simple;
    }
  }

  // How many equilibria of a subgame are kept: enough for the caller when only backward
  // induction lies above it (each combination of equilibria below gives at least one above),
  // else enough for an enumeration above to know that it is too large.
  std::size_t cap(Index u) const {
    return occurrences_[u].below_enumerated ? max_profiles + 1 : limit_;
  }

  // --- Values ---

  const Entry* value(Index v) const { return values_.data() + std::size_t{v} * stride_; }

  Index new_value() {
    if (value_count_ >= none - 1) throw Refusal(false, "the game has too many payoffs to solve");
    values_.resize(values_.size() + stride_);
    return value_count_++;
  }

  // The numbers of a payoff of `stride_` entries, into `out`.
  void read_numbers(const Payoff& payoff, Entry* out) const {
    for (std::size_t i = 0; i < stride_; ++i) {
      if (payoff.is_exact()) {
        const Exact& e = payoff.exacts()[i];
        out[i].number = Number{e.numerator, e.denominator, e.negative};
      } else {
        const std::int64_t n = payoff.numbers()[i];
        out[i].number = Number{static_cast<std::uint64_t>(n < 0 ? -n : n), 1, n < 0};
      }
    }
  }

  // Adds the carried value `above` (if any) to the numbers in `out`; an overflow is named at
  // occurrence `at`.
  void add_carried(Entry* out, Index above, Index at) const {
    if (above == none) return;
    static const Exact one{1, 1, false, {}};
    for (std::size_t i = 0; i < stride_; ++i) {
      out[i].number = add_product(value(above)[i].number, one, out[i].number, at);
    }
  }

  // The value `above` (or none) plus the payoff on a node with children, made while the tree
  // is flattened (so that the node is named by its parent's path and its own name).
  Index carry(Index above, const Payoff& payoff, Index parent, PyObject* object) {
    auto named = [&] {
      std::string at = parent == none ? std::string() : path(parent);
      const std::string_view name = read_node(object).name.view();
      return at.empty() ? std::string(name) : concat({at, " > ", name});
    };
    if (payoff.is_symbolic()) {
      throw Refusal(false, concat({named(),
                                   ": a payoff of Variables on a node with children "
                                   "would add to the payoffs below it, and a Variable "
                                   "has no numeric value"}));
    }
    if (payoff.size() != stride_) {
      throw Refusal(false, concat({named(), ": the payoff here has ", std::to_string(payoff.size()),
                                   " entries, not one per player"}));
    }
    const Index v = new_value();
    Entry* out = values_.data() + std::size_t{v} * stride_;
    read_numbers(payoff, out);
    add_carried(out, above, parent);
    return v;
  }

  Index leaf_value(Index u) {
    const Occurrence& at = occurrences_[u];
    const Payoff& payoff = at.node->payoff;
    const Index above = at.parent == none ? none : occurrences_[at.parent].carried;
    const Index v = new_value();
    Entry* out = values_.data() + std::size_t{v} * stride_;
    if (payoff.is_symbolic()) {
      for (std::size_t i = 0; i < stride_; ++i) {
        out[i].variable = &payoff.variables()[i];
        if (above != none && value(above)[i].number.numerator != 0) {
          throw Refusal(false, concat({path(u), ": Variable '", out[i].variable->name,
                                       "' would be added to the payoffs on the nodes above it, "
                                       "and a Variable has no numeric value"}));
        }
      }
      return v;
    }
    read_numbers(payoff, out);
    add_carried(out, above, u);
    return v;
  }

  Number add_product(const Number& sum, const Exact& p, const Number& x, Index at) const {
    auto overflow = [&]() -> Number {
      throw Refusal(true, concat({path(at),
                                  ": an expected payoff needs a numerator or denominator of "
                                  "2**64 or more"}));
    };
    // p * x, reduced.
    Wide n = Wide{p.numerator} * x.numerator, d = Wide{p.denominator} * x.denominator;
    Wide g = gcd(n, d);
    n /= g;
    d /= g;
    // sum + n/d over the least common denominator.
    const Wide common = gcd(d, sum.denominator);
    const Wide left_scale = d / common, right_scale = Wide{sum.denominator} / common;
    Wide denominator, a, b;
    if (__builtin_mul_overflow(Wide{sum.denominator}, left_scale, &denominator) ||
        __builtin_mul_overflow(Wide{sum.numerator}, left_scale, &a) ||
        __builtin_mul_overflow(n, right_scale, &b)) {
      return overflow();
    }
    bool negative = sum.negative;
    Wide numerator;
    if (sum.negative == x.negative) {
      if (__builtin_add_overflow(a, b, &numerator)) return overflow();
    } else if (a >= b) {
      numerator = a - b;
    } else {
      numerator = b - a;
      negative = !negative;
    }
    g = gcd(numerator, denominator);
    numerator /= g;
    denominator /= g;
    if (numerator > max_part || denominator > max_part) return overflow();
    return Number{static_cast<std::uint64_t>(numerator), static_cast<std::uint64_t>(denominator),
                  negative && numerator != 0};
  }

  // The expected payoff at chance occurrence u whose children's values are `children`, into
  // `out`.
  void expectation(Index u, const Entry* const* children, Entry* out) {
    const Occurrence& at = occurrences_[u];
    probabilities_.resize(at.child_count);
    for (Index c = 0; c < at.child_count; ++c) {
      probabilities_[c] = probability_of(read_node(at.node->children[c]));
    }
    for (std::size_t i = 0; i < stride_; ++i) {
      Number sum;
      const Variable* variable = nullptr;
      bool numbers = false;
      for (Index c = 0; c < at.child_count; ++c) {
        const Exact& p = *probabilities_[c];
        if (p.numerator == 0) continue;
        const Entry& x = children[c][i];
        if (x.variable == nullptr) {
          numbers = true;
          sum = add_product(sum, p, x.number, u);
        } else if (variable == nullptr || order_.same(*variable, *x.variable)) {
          variable = x.variable;
        } else {
          refuse_average(u, i, *x.variable);
        }
        if (numbers && variable != nullptr) refuse_average(u, i, *variable);
      }
      out[i] = variable != nullptr ? Entry{Number{}, variable} : Entry{sum, nullptr};
    }
  }

  [[noreturn]] void refuse_average(Index u, std::size_t i, const Variable& variable) const {
    throw Refusal(false, concat({path(u), ": the expected payoff of ", players_[i],
                                 " would average Variable '", variable.name,
                                 "' with other payoffs, and a Variable has no numeric value"}));
  }

  // --- Symbolic order ---

  // The relations recorded on the variables of the leaves: classes of variables found equal,
  // ordered by the variables found less than others, transitively.
  class Order {
   public:
    void learn(const Variable& v) { variables_.push_back(&v); }

    bool same(const Variable& a, const Variable& b) {
      build();
      return find(id_of(a.id)) == find(id_of(b.id));
    }

    // -1, 0, 1 as a is below, equal to or above b; 2 when nothing orders them, 3 when the
    // relations put each below the other.
    int compare(const Variable& a, const Variable& b) {
      build();
      const Index x = find(id_of(a.id)), y = find(id_of(b.id));
      if (x == y) return 0;
      const bool below = reaches(x, y), above = reaches(y, x);
      if (below && above) return 3;
      return below ? -1 : above ? 1 : 2;
    }

   private:
    Index id_of(std::uint64_t id) {
      const auto [it, added] = ids_.try_emplace(id, static_cast<Index>(parent_.size()));
      if (added) parent_.push_back(it->second);
      return it->second;
    }
    Index find(Index x) {
      while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
      return x;
    }
    void build() {
      if (built_) return;
      built_ = true;
      for (const Variable* v : variables_) {
        for (const std::uint64_t other : v->equal) parent_[find(id_of(v->id))] = find(id_of(other));
      }
      std::vector<std::pair<Index, Index>> less;
      for (const Variable* v : variables_) {
        for (const std::uint64_t other : v->higher) less.emplace_back(id_of(v->id), id_of(other));
        for (const std::uint64_t other : v->lower) less.emplace_back(id_of(other), id_of(v->id));
      }
      above_.assign(parent_.size(), {});
      for (const auto& [a, b] : less) above_[find(a)].push_back(find(b));
    }
    bool reaches(Index from, Index to) {
      if (from >= above_.size() || to >= above_.size()) return false;
      const auto [it, added] = memo_.try_emplace(std::uint64_t{from} << 32 | to, false);
      if (!added) return it->second;
      std::vector<Index> stack{from};
      std::vector<bool> met(above_.size(), false);
      met[from] = true;
      bool found = false;
      while (!stack.empty() && !found) {
        const Index x = stack.back();
        stack.pop_back();
        for (const Index y : above_[x]) {
          if (y == to) found = true;
          if (!met[y]) {
            met[y] = true;
            stack.push_back(y);
          }
        }
      }
      memo_[std::uint64_t{from} << 32 | to] = found;
      return found;
    }

    std::vector<const Variable*> variables_;
    std::unordered_map<std::uint64_t, Index> ids_;
    std::vector<Index> parent_;
    std::vector<std::vector<Index>> above_;
    std::unordered_map<std::uint64_t, bool> memo_;
    bool built_ = false;
  };

  static std::string described(const Entry& e) {
    if (e.variable != nullptr) return concat({"Variable '", e.variable->name, "'"});
    return number_text(e.number);
  }

  // -1, 0 or 1 as entry a is below, at or above entry b; a Refusal naming occurrence u when
  // they cannot be compared.
  int compare(const Entry& a, const Entry& b, Index u) {
    if (a.variable == nullptr && b.variable == nullptr) return compare_numbers(a.number, b.number);
    const int order = a.variable != nullptr && b.variable != nullptr
                          ? order_.compare(*a.variable, *b.variable)
                          : 2;
    if (order <= 1) return order;
    throw Refusal(false,
                  concat({path(u), ": cannot compare ", described(a), " with ", described(b),
                          order == 3 ? ": the relations recorded with <, > and == put "
                                       "each below the other"
                                     : ": no relation recorded with <, > or == orders them"}));
  }

  // --- Solving ---

  Index add_solution(Index u, Index value) {
    Occurrence& at = occurrences_[u];
    if (at.solution_count == 0) at.first_solution = static_cast<Index>(solutions_.size());
    if (solutions_.size() >= none - 1 || links_.size() >= none - 1) {
      throw Refusal(false, "the game has too many equilibria in its subgames to be solved");
    }
    solutions_.push_back(Solution{value, static_cast<Index>(links_.size())});
    ++at.solution_count;
    return static_cast<Index>(solutions_.size() - 1);
  }

  // A leaf, or backward induction at a decision node of perfect information or a chance node:
  // every combination of its children's equilibria, the first child's varying slowest.
  void combine(Index u) {
    const Occurrence& at = occurrences_[u];
    if (at.kind == Kind::leaf) {
      add_solution(u, leaf_value(u));
      return;
    }
    const Index k = at.child_count;
    const Index first_child = at.first_child;
    for (Index i = 0; i < k; ++i) {
      if (occurrences_[children_[first_child + i]].solution_count == 0) return;
    }
    const std::size_t limit = cap(u);
    std::vector<Index> digits(k, 0);
    std::vector<const Entry*> values(k);
    std::vector<Index> best;
    const bool chance = at.kind == Kind::chance;
    const Index mover = chance ? none : groups_[at.group].mover;
    while (true) {
      // A new value first: making it may move the values read below.
      const Index v = chance ? new_value() : none;
      for (Index i = 0; i < k; ++i) {
        const Occurrence& child = occurrences_[children_[first_child + i]];
        values[i] = value(solutions_[child.first_solution + digits[i]].value);
      }
      if (chance) {
        expectation(u, values.data(), values_.data() + std::size_t{v} * stride_);
        add_solution(u, v);
        push_links(first_child, k, digits);
      } else {
        best.assign(1, 0);
        for (Index i = 1; i < k; ++i) {
          const int order = compare(values[i][mover], values[best[0]][mover], u);
          if (order > 0) best.assign(1, i);
          if (order == 0) best.push_back(i);
        }
        for (const Index a : best) {
          const Occurrence& child = occurrences_[children_[first_child + a]];
          add_solution(u, solutions_[child.first_solution + digits[a]].value);
          links_.push_back(a);
          push_links(first_child, k, digits);
          if (occurrences_[u].solution_count >= limit) return;
        }
      }
      if (occurrences_[u].solution_count >= limit) return;
      Index i = k;
      while (i > 0) {
        --i;
        if (++digits[i] < occurrences_[children_[first_child + i]].solution_count) break;
        digits[i] = 0;
        if (i == 0) return;
      }
    }
  }

  void push_links(Index first_child, Index k, const std::vector<Index>& digits) {
    for (Index i = 0; i < k; ++i) {
      links_.push_back(occurrences_[children_[first_child + i]].first_solution + digits[i]);
    }
  }

  // A subgame with an information set of several members below its root: its pure behaviour
  // profiles (an action for each set, an equilibrium for each subgame just below) enumerated,
  // and kept where no player gains by changing any of their own actions in it.
  void enumerate(Index r) {
    Region region;
    std::vector<Index> nodes;  // in pre-order
    std::unordered_map<Index, Index> slot_of, group_slot;
    for (Index u = r; u < occurrences_[r].end;) {
      const Occurrence& at = occurrences_[u];
      if (u != r && at.subgame) {
        region.inner.push_back(u);
        if (at.solution_count == 0) return;
        u = at.end;
        continue;
      }
      slot_of.emplace(u, static_cast<Index>(nodes.size()));
      nodes.push_back(u);
      if (at.group != none &&
          group_slot.try_emplace(at.group, static_cast<Index>(region.groups.size())).second) {
        region.groups.push_back(at.group);
      }
      ++u;
    }
    // The dimensions of a profile, the first varying slowest: the sets, then the subgames
    // below with more than one equilibrium.
    struct Dimension {
      Index size;
      Index owner;  // payoff entry of the mover, or none
      Index inner;  // index in region.inner, or none
    };
    std::vector<Dimension> dims;
    for (const Index g : region.groups)
      dims.push_back({groups_[g].actions, groups_[g].mover, none});
    for (Index j = 0; j < region.inner.size(); ++j) {
      const Index count = occurrences_[region.inner[j]].solution_count;
      if (count > 1) dims.push_back({count, none, j});
    }
    std::uint64_t profiles = 1;
    for (const Dimension& d : dims) {
      if (__builtin_mul_overflow(profiles, std::uint64_t{d.size}, &profiles) ||
          profiles > max_profiles) {
        throw Refusal(false, concat({path(r), ": the subgame here has more than ",
                                     std::to_string(max_profiles),
                                     " pure behaviour profiles, more than kelvora enumerates"}));
      }
    }
    std::vector<std::uint64_t> strides(dims.size());
    for (std::size_t d = dims.size(), s = 1; d-- > 0; s *= dims[d].size) strides[d] = s;

    // Where each node's children get their values: a slot of the region, or after the slots,
    // a subgame below.
    const Index inner_base = static_cast<Index>(nodes.size());
    std::vector<Index> sources;
    std::vector<Index> first_source(nodes.size()), set_of(nodes.size(), none);
    for (Index s = 0; s < nodes.size(); ++s) {
      const Occurrence& at = occurrences_[nodes[s]];
      first_source[s] = static_cast<Index>(sources.size());
      if (at.group != none) set_of[s] = group_slot.at(at.group);
      for (Index i = 0; i < at.child_count; ++i) {
        const Index c = children_[at.first_child + i];
        const auto it = slot_of.find(c);
        if (it != slot_of.end()) {
          sources.push_back(it->second);
        } else {
          const Index j = static_cast<Index>(
              std::find(region.inner.begin(), region.inner.end(), c) - region.inner.begin());
          sources.push_back(inner_base + j);
        }
      }
    }

    // The outcome of every profile.
    std::vector<Entry> scratch(nodes.size() * stride_);
    std::vector<const Entry*> current(nodes.size() + region.inner.size());
    std::vector<Index> selected(region.inner.size());
    std::vector<Index> actions(region.groups.size());
    std::vector<const Entry*> children;
    std::vector<Entry> outcomes(profiles * stride_);
    for (std::uint64_t p = 0; p < profiles; ++p) {
      for (Index j = 0; j < region.inner.size(); ++j) selected[j] = 0;
      for (std::size_t d = 0; d < dims.size(); ++d) {
        const Index digit = static_cast<Index>(p / strides[d] % dims[d].size);
        if (dims[d].inner == none) {
          actions[d] = digit;
        } else {
          selected[dims[d].inner] = digit;
        }
      }
      for (Index j = 0; j < region.inner.size(); ++j) {
        const Occurrence& q = occurrences_[region.inner[j]];
        current[inner_base + j] = value(solutions_[q.first_solution + selected[j]].value);
      }
      for (Index s = static_cast<Index>(nodes.size()); s-- > 0;) {
        const Occurrence& at = occurrences_[nodes[s]];
        const Index* from = sources.data() + first_source[s];
        if (at.kind == Kind::decision) {
          current[s] = current[from[actions[set_of[s]]]];
        } else {
          children.resize(at.child_count);
          for (Index i = 0; i < at.child_count; ++i) children[i] = current[from[i]];
          expectation(nodes[s], children.data(), scratch.data() + std::size_t{s} * stride_);
          current[s] = scratch.data() + std::size_t{s} * stride_;
        }
      }
      std::copy(current[0], current[0] + stride_, outcomes.begin() + p * stride_);
    }

    // A profile stands when each player's payoff is the best that player can reach against
    // the others' actions: the best profile of each set of the others' actions, found first.
    std::vector<bool> stands(profiles, true);
    std::vector<std::uint64_t> best(profiles);
    for (Index player = 0; player < stride_; ++player) {
      auto others = [&](std::uint64_t p) {
        std::uint64_t key = p;
        for (std::size_t d = 0; d < dims.size(); ++d) {
          if (dims[d].owner == player) key -= p / strides[d] % dims[d].size * strides[d];
        }
        return key;
      };
      bool moves = false;
      for (const Dimension& d : dims) moves |= d.owner == player;
      if (!moves) continue;
      std::fill(best.begin(), best.end(), profiles);
      auto payoff = [&](std::uint64_t p) -> const Entry& { return outcomes[p * stride_ + player]; };
      for (std::uint64_t p = 0; p < profiles; ++p) {
        std::uint64_t& b = best[others(p)];
        if (b == profiles || compare(payoff(p), payoff(b), r) > 0) b = p;
      }
      for (std::uint64_t p = 0; p < profiles; ++p) {
        if (stands[p] && compare(payoff(p), payoff(best[others(p)]), r) < 0) stands[p] = false;
      }
    }

    const std::size_t limit = cap(r);
    for (std::uint64_t p = 0; p < profiles && occurrences_[r].solution_count < limit; ++p) {
      if (!stands[p]) continue;
      const Index v = new_value();
      std::copy(outcomes.begin() + p * stride_, outcomes.begin() + (p + 1) * stride_,
                values_.begin() + std::size_t{v} * stride_);
      add_solution(r, v);
      for (Index j = 0; j < region.inner.size(); ++j) selected[j] = 0;
      for (std::size_t d = 0; d < dims.size(); ++d) {
        const Index digit = static_cast<Index>(p / strides[d] % dims[d].size);
        if (dims[d].inner == none) {
          links_.push_back(digit);
        } else {
          selected[dims[d].inner] = digit;
        }
      }
      for (Index j = 0; j < region.inner.size(); ++j) {
        links_.push_back(occurrences_[region.inner[j]].first_solution + selected[j]);
      }
    }
    region_of_.emplace(r, static_cast<Index>(regions_.size()));
    regions_.push_back(std::move(region));
  }

  // --- The equilibria ---

  Equilibrium extract(Index solution) {
    Equilibrium out;
    // The action of every group, from the links of each subgame's equilibrium down the tree.
    std::vector<Index> action(groups_.size(), none);
    std::vector<std::pair<Index, Index>> stack{{0, solution}};
    while (!stack.empty()) {
      const auto [u, s] = stack.back();
      stack.pop_back();
      const Occurrence& at = occurrences_[u];
      const Index* links = links_.data() + solutions_[s].links;
      if (at.kind == Kind::leaf) continue;
      if (at.enumerated) {
        const Region& region = regions_[region_of_.at(u)];
        for (Index j = 0; j < region.groups.size(); ++j) action[region.groups[j]] = links[j];
        links += region.groups.size();
        for (Index j = 0; j < region.inner.size(); ++j)
          stack.emplace_back(region.inner[j], links[j]);
        continue;
      }
      if (at.kind == Kind::decision) action[at.group] = *links++;
      for (Index i = 0; i < at.child_count; ++i) {
        stack.emplace_back(children_[at.first_child + i], links[i]);
      }
    }
    for (const Occurrence& at : occurrences_) {
      if (at.kind != Kind::decision) continue;
      const Index chosen = children_[at.first_child + action[at.group]];
      out.choices.emplace_back(Ref::borrow(at.object), Ref::borrow(occurrences_[chosen].object));
    }
    // The play: the chosen child of each decision, every child of positive probability.
    std::vector<Index> open{0};
    while (!open.empty()) {
      const Index u = open.back();
      open.pop_back();
      const Occurrence& at = occurrences_[u];
      out.path.push_back(Ref::borrow(at.object));
      if (at.kind == Kind::decision) open.push_back(children_[at.first_child + action[at.group]]);
      if (at.kind != Kind::chance) continue;
      for (Index i = at.child_count; i-- > 0;) {
        if (probability_of(read_node(at.node->children[i]))->numerator != 0) {
          open.push_back(children_[at.first_child + i]);
        }
      }
    }
    const Entry* payoff = value(solutions_[solution].value);
    for (std::size_t i = 0; i < stride_; ++i) {
      Equilibrium::Entry entry;
      if (payoff[i].variable != nullptr) {
        entry.is_variable = true;
        entry.variable = *payoff[i].variable;
      } else {
        entry.number = payoff[i].number;
      }
      out.payoff.push_back(std::move(entry));
    }
    return out;
  }

  const Game& game_;
  const std::vector<std::string_view>& players_;
  std::size_t limit_;
  std::unordered_map<std::string_view, Index> player_index_;
  std::string_view nature_;
  std::size_t stride_ = 0;
  bool shared_ = false;  // some node occurs under several parents

  std::vector<Occurrence> occurrences_;
  std::vector<Index> children_;  // occurrences, each node's children in order
  std::vector<Group> groups_;
  std::vector<Entry> values_;
  Index value_count_ = 0;
  std::vector<Solution> solutions_;
  std::vector<Index> links_;
  std::vector<Region> regions_;
  std::unordered_map<Index, Index> region_of_;
  Order order_;
  std::vector<const Exact*> probabilities_;  // of the children of a chance node, while averaging
};

}  // namespace

std::vector<Equilibrium> backward_induction(const Game& game, const check::Problems& checked,
                                            std::size_t limit) {
  return Solver(game, checked, limit).run();
}

}  // namespace kelvora::solve
