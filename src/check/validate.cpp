// The check of a whole game: one walk to learn who moves, one to find what is wrong, both over
// an explicit stack that marks the nodes on the path (cycles) and the nodes met (shared ones).
#include "check/validate.hpp"

#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "error.hpp"
#include "tree/exact.hpp"

namespace kelvora::check {
namespace {

// Paths deeper than this show their first and last nodes only.
constexpr std::size_t shown_depth = 40;
// Lists of players longer than this are not spelt out in messages.
constexpr std::size_t shown_players = 10;

// The walk: each node entered once, in pre-order, with `enter(node)` while it is the top of
// the stack and `cycle(child)` for a child that is one of its own ancestors. The marks are
// cleared however the walk ends.
class Walk {
 public:
  explicit Walk(const Decision& root) { push(root); }
  ~Walk() {
    for (const Frame& frame : stack_) frame.node->on_path = false;
    for (const Decision* node : met_) node->seen = false;
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  template <class Enter, class Cycle>
  void run(Enter enter, Cycle cycle) {
    enter(*stack_.back().node);
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next_child == top.node->children.size()) {
        top.node->on_path = false;
        stack_.pop_back();
        continue;
      }
      const Decision& child = read_node(top.node->children[top.next_child++]);
      if (child.on_path) {
        cycle(child);
      } else if (!child.seen) {
        push(child);
        enter(child);
      }
    }
  }

  // "root > In > Fight" for the node on top, and `then` below it when given.
  std::string path(const Decision* then = nullptr) const {
    std::vector<std::string_view> names;
    names.reserve(stack_.size() + 1);
    for (const Frame& frame : stack_) names.push_back(frame.node->name.view());
    if (then != nullptr) names.push_back(then->name.view());
    return path_text(names);
  }

 private:
  struct Frame {
    const Decision* node;
    std::size_t next_child;
  };
  void push(const Decision& node) {
    met_.push_back(&node);
    node.seen = true;
    stack_.push_back(Frame{&node, 0});
    node.on_path = true;
  }
  std::vector<Frame> stack_;
  std::vector<const Decision*> met_;
};

std::string counted(std::size_t n, std::string_view one, std::string_view more) {
  return concat({std::to_string(n), " ", n == 1 ? one : more});
}

std::string quoted(std::string_view name) { return concat({"'", name, "'"}); }

std::string listed(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) out += concat({i > 0 ? ", " : "", names[i]});
  return out;
}

// The names of a node's children, "(L, R)".
std::string actions(const Decision& node) {
  std::string out = "(";
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    out += concat({i > 0 ? ", " : "", read_node(node.children[i]).name.view()});
  }
  return out + ")";
}

bool same_actions(const Decision& a, const Decision& b) {
  if (a.children.size() != b.children.size()) return false;
  for (std::size_t i = 0; i < a.children.size(); ++i) {
    if (read_node(a.children[i]).name.view() != read_node(b.children[i]).name.view()) {
      return false;
    }
  }
  return true;
}

// Who moves at a node: its first child's player, or nobody at a leaf.
std::string_view mover(const Decision& node) {
  return node.children.empty() ? std::string_view()
                               : read_node(node.children.front()).player.name.view();
}

class Checker {
 public:
  Checker(const Game& game, std::size_t limit) : game_(game), limit_(limit) {
    nature_ = game.player.empty() ? std::string_view() : game.player[0].name.view();
  }

  Problems run() {
    const Decision& root = read_node(game_.root.get());
    learn_players(root);
    Walk walk(root);
    walk_ = &walk;
    walk.run([&](const Decision& node) { check(node); },
             [&](const Decision& child) {
               report_at(walk.path(&child), "a cycle: this node is one of its own ancestors");
             });
    problems_.players = players_;
    return std::move(problems_);
  }

 private:
  // The players that payoffs are for, by the rule in validate.hpp.
  void learn_players(const Decision& root) {
    std::unordered_set<std::string_view> game_names, movers;
    for (std::size_t i = 1; i < game_.player.size(); ++i) {
      game_names.insert(game_.player[i].name.view());
    }
    std::vector<std::string_view> in_order;
    bool uses_game_names = false;
    Walk walk(root);
    walk.run(
        [&](const Decision& node) {
          for (PyObject* child : node.children) {
            const std::string_view name = read_node(child).player.name;
            if (name == nature_ || !movers.insert(name).second) continue;
            in_order.push_back(name);
            uses_game_names |= game_names.contains(name);
          }
        },
        [](const Decision&) {});
    game_names_ = uses_game_names || in_order.empty();
    if (game_names_) {
      for (std::size_t i = 1; i < game_.player.size(); ++i) {
        players_.push_back(game_.player[i].name.view());
      }
      known_ = std::move(game_names);
    } else {
      players_ = std::move(in_order);
    }
  }

  void report_at(std::string path, std::string_view what) {
    if (problems_.count++ < limit_) problems_.messages.push_back(concat({path, ": ", what}));
  }
  void report(std::string_view what) {
    if (problems_.count < limit_) return report_at(walk_->path(), what);
    ++problems_.count;
  }

  void check(const Decision& node) {
    const bool is_root = &node == &read_node(game_.root.get());
    if (!is_root && node.has_probability && node.player.name.view() != nature_) {
      report(concat({"has a probability, but is reached by ", quoted(node.player.name),
                     ", not by Nature (", quoted(nature_), ")"}));
    }
    if (!is_root && game_names_ && node.player.name.view() != nature_ &&
        !known_.contains(node.player.name.view())) {
      report(
          concat({"reached by ", quoted(node.player.name), ", who is not a player of the game"}));
    }
    check_children(node);
    if (node.has_information_set) check_information_set(node);
    if (node.children.empty() && !node.payoff) report("a leaf without payoff");
    if (node.payoff && node.payoff.size() != players_.size()) {
      std::string who =
          players_.size() <= shown_players ? concat({" (", listed(players_), ")"}) : "";
      if (!game_names_) who += ": the movers other than Nature, in order of first appearance";
      report(concat({"its payoff has ", counted(node.payoff.size(), "entry", "entries"),
                     " for the ", counted(players_.size(), "player", "players"), who}));
    }
  }

  void check_children(const Decision& node) {
    if (node.children.empty()) return;
    const std::string_view first = mover(node);
    std::size_t with_probability = 0;
    Sum sum;
    bool reported_players = false;
    for (PyObject* item : node.children) {
      const Decision& child = read_node(item);
      if (!reported_players && child.player.name.view() != first) {
        report(concat({"its children are reached by different players (", quoted(first), ", ",
                       quoted(child.player.name), ")"}));
        reported_players = true;
      }
      if (const Exact* p = probability_of(child)) {
        ++with_probability;
        sum.add(p->numerator, p->denominator);
      }
    }
    const std::size_t n = node.children.size();
    if (with_probability > 0 && with_probability < n) {
      report(concat({std::to_string(with_probability), " of its ", std::to_string(n),
                     " children have a probability, the others none"}));
    } else if (with_probability == n) {
      const int order = sum.compare_to_one();
      if (order != 0) {
        report(concat({"the probabilities of its children add up to ", order < 0 ? "less" : "more",
                       " than 1"}));
      }
    }
  }

  void check_information_set(const Decision& node) {
    const auto [at, first] =
        sets_.try_emplace(node.information_set_number, Member{&node, std::string()});
    if (first) {
      at->second.path = walk_->path();
      return;
    }
    const Decision& other = *at->second.node;
    const std::string head = concat(
        {"in information set ", std::to_string(at->first), " with ", at->second.path, ", but "});
    const std::string_view here = mover(node), there = mover(other);
    if (here != there) {
      auto who = [](std::string_view name) {
        return name.empty() ? std::string("nobody") : quoted(name);
      };
      report(concat({head, who(here), " moves here and ", who(there), " there"}));
    } else if (!same_actions(node, other)) {
      report(concat({head, "its actions ", actions(node), " are not ", actions(other)}));
    }
  }

  struct Member {
    const Decision* node;
    std::string path;
  };

  const Game& game_;
  std::size_t limit_;
  std::string_view nature_;
  bool game_names_ = false;
  std::unordered_set<std::string_view> known_;
  std::vector<std::string_view> players_;
  std::unordered_map<std::uint64_t, Member> sets_;
  Walk* walk_ = nullptr;
  Problems problems_;
};

}  // namespace

Problems validate(const Game& game, std::size_t limit) { return Checker(game, limit).run(); }

std::string path_text(const std::vector<std::string_view>& names) {
  std::string out;
  const std::size_t depth = names.size();
  for (std::size_t i = 0; i < depth; ++i) {
    if (depth > shown_depth && i == shown_depth / 2) {
      const std::size_t skipped = depth - shown_depth;
      out += concat({" > ... (", std::to_string(skipped), " more)"});
      i += skipped - 1;
      continue;
    }
    if (i > 0) out += " > ";
    out += names[i];
  }
  return out;
}

std::string describe(const Problems& problems) {
  std::string out = concat({"the game has ", std::to_string(problems.count),
                            problems.count == 1 ? " problem:" : " problems:"});
  for (const std::string& message : problems.messages) out += concat({"\n  ", message});
  if (problems.count > problems.messages.size()) {
    out += concat(
        {"\n  ... and ", std::to_string(problems.count - problems.messages.size()), " more"});
  }
  return out;
}

}  // namespace kelvora::check
