// Writing a game as a .efg file: one walk in pre-order, a line per node occurrence, with the
// information sets and outcomes numbered as they first appear.
#include <string>
#include <unordered_map>

#include "efg/efg.hpp"
#include "error.hpp"
#include "write/walk.hpp"

namespace kelvora::efg {
namespace {

// Refuses a name that Gambit's reader would read otherwise than written: it takes a backslash
// before a double quote (and so one at the end, before the closing quote) as an escape.
void check_name(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '\\' || (i + 1 < name.size() && name[i + 1] != '"')) continue;
    throw Refusal{concat({"the name '", name,
                          "' cannot be written to a .efg file: a backslash before a double quote "
                          "or at the end of a name reads as another text"})};
  }
}

// A quoted string with each " written \".
void put_string(walk::Out& out, std::string_view text) {
  out.put("\"");
  if (text.find_first_of("\"\\") == std::string_view::npos) {
    out.put_text(text);
  } else {
    check_name(text);
    out.note_width(Text::width_of(text));
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t quote = std::min(text.find('"', at), text.size());
      out.put(text.substr(at, quote - at));
      if (quote < text.size()) out.put("\\\"");
      at = quote + 1;
    }
  }
  out.put("\"");
}

void put_string(walk::Out& out, const Text& name) {
  if (name.needs_escape()) return put_string(out, name.view());
  out.put("\"");
  out.put_name(name);
  out.put("\"");
}

class Writer {
 public:
  Writer(const Game& game, const std::vector<std::string_view>& players, Destination& destination)
      : game_(game), out_(destination), sets_(players.size() + 1, 0) {
    nature_ = game.player.empty() ? std::string_view() : game.player[0].name.view();
    for (std::size_t i = 0; i < players.size(); ++i) player_index_.try_emplace(players[i], i + 1);
    out_.put("EFG 2 R ");
    put_string(out_, std::string_view(game.title));
    out_.put(" {");
    for (const std::string_view player : players) {
      out_.put(" ");
      put_string(out_, player);
    }
    out_.put(" }\n\"\"\n\n");
  }

  void run() {
    struct None {};
    walk::depth_first<None>(
        read_node(game_.root.get()),
        [&](const Decision& node, std::size_t) {
          line(node);
          return None{};
        },
        [](const Decision&, None, None) {}, [&] { return out_.size(); });
    out_.finish();
  }

 private:
  void line(const Decision& node) {
    if (node.children.empty()) {
      out_.put("t \"\" ");
      outcome(node);
      return;
    }
    const std::string_view mover = read_node(node.children.front()).player.name.view();
    std::size_t player = 0;
    if (mover != nature_) {
      const auto at = player_index_.find(mover);
      if (at == player_index_.end()) {
        throw Refusal{concat({"'", mover, "' moves at '", node.name.view(),
                              "' but is not among the players whom the payoffs are for"})};
      }
      player = at->second;
    }
    const bool chance = player == 0;
    if (chance) {
      for (PyObject* child : node.children) {
        if (probability_of(read_node(child)) == nullptr) {
          throw Refusal{concat({"Nature moves at '", node.name.view(), "', but its action '",
                                read_node(child).name.view(),
                                "' has no probability, which a .efg file needs"})};
        }
      }
      out_.put("c \"\" ");
    } else {
      out_.put("p \"\" ");
      out_.put_number(player);
      out_.put(" ");
    }
    // A member of a set met before takes its number; every other node opens a set.
    std::uint64_t number = 0;
    if (node.has_information_set) {
      const auto at = known_.find(node.information_set_number);
      if (at != known_.end() && (!chance || same_chances(*at->second.first, node))) {
        number = at->second.number;
      }
    }
    const bool opens = number == 0;
    if (opens) {
      number = ++sets_[player];
      if (node.has_information_set) known_.try_emplace(node.information_set_number, &node, number);
    }
    out_.put_number(number);
    if (opens) {
      out_.put(" \"\" {");
      for (PyObject* item : node.children) {
        const Decision& child = read_node(item);
        out_.put(" ");
        put_string(out_, child.name);
        if (chance) {
          out_.put(" ");
          out_.put(probability_of(child)->text.view());
        }
      }
      out_.put(" }");
    }
    out_.put(" ");
    outcome(node);
  }

  static bool same_chances(const Decision& a, const Decision& b) {
    if (a.children.size() != b.children.size()) return false;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
      const Exact* p = probability_of(read_node(a.children[i]));
      const Exact* q = probability_of(read_node(b.children[i]));
      if (p->numerator != q->numerator || p->denominator != q->denominator) return false;
    }
    return true;
  }

  // The outcome number of a node's payoff (0 for none), with its bracket the first time. Nodes
  // share an outcome when they have the same payoff (as written) and the same kept outcome, or
  // none: a node whose payoff was changed after it was read so parts from its former partners.
  void outcome(const Decision& node) {
    const Payoff& payoff = node.payoff;
    if (!payoff) {
      out_.put("0\n");
      return;
    }
    if (payoff.is_symbolic()) {
      throw Refusal{concat({"the payoff of '", node.name.view(),
                            "' is of Variables, which a .efg file cannot hold"})};
    }
    // The key: the kept outcome's key (8 bytes) or a 0 byte, then the payoff as written.
    const Outcome* kept = outcome_of(node);
    key_.clear();
    if (kept != nullptr) {
      key_.append(reinterpret_cast<const char*>(&kept->key), sizeof kept->key);
    } else {
      key_ += '\0';
    }
    const std::size_t written = key_.size();
    for (std::size_t i = 0; i < payoff.size(); ++i) {
      if (i > 0) key_ += ", ";
      append_payoff_entry(payoff, i, key_);
    }
    const auto [at, is_new] = outcomes_.try_emplace(key_, outcomes_.size() + 1);
    out_.put_number(at->second);
    if (is_new) {
      out_.put(" ");
      if (kept != nullptr) {
        put_string(out_, kept->name);
      } else {
        out_.put("\"\"");
      }
      out_.put(" { ");
      out_.put(std::string_view(key_).substr(written));
      out_.put(" }");
    }
    out_.put("\n");
  }

  struct Known {
    Known(const Decision* first, std::uint64_t number) : first(first), number(number) {}
    const Decision* first;
    std::uint64_t number;
  };

  const Game& game_;
  walk::Out out_;
  std::string_view nature_;
  std::unordered_map<std::string_view, std::size_t> player_index_;
  std::vector<std::uint64_t> sets_;  // the last set number of each player, chance first
  std::unordered_map<std::uint64_t, Known> known_;
  std::unordered_map<std::string, std::uint64_t> outcomes_;
  std::string key_;
};

}  // namespace

void write(const Game& game, const std::vector<std::string_view>& players,
           Destination& destination) {
  Writer(game, players, destination).run();
}

}  // namespace kelvora::efg
