// Reading a .efg file: a tokenizer that knows where each token stands, and one pass over the
// nodes in pre-order with an explicit stack of the nodes whose children are still to come.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "efg/efg.hpp"
#include "error.hpp"
#include "tree/exact.hpp"

namespace kelvora::efg {
namespace {

struct Token {
  enum Kind : std::uint8_t { end, string, open, close, comma, word };
  Kind kind = end;
  std::size_t begin = 0, size = 0;  // the token's bytes in the text (a string's with quotes)
  std::size_t line = 1, line_start = 0;
};

// The longest piece of a token that a message quotes.
constexpr std::size_t quoted_bytes = 40;

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) { advance(); }

  const Token& peek() const { return next_; }
  Token take() {
    Token token = next_;
    advance();
    return token;
  }
  // The value of a string token: its text with each \" made ", other backslashes kept.
  std::string_view value(const Token& token) {
    const std::string_view inner = text_.substr(token.begin + 1, token.size - 2);
    if (inner.find("\\\"") == std::string_view::npos) return inner;
    buffer_.clear();
    for (std::size_t i = 0; i < inner.size(); ++i) {
      if (inner[i] == '\\' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
      buffer_ += inner[i];
    }
    return buffer_;
  }
  std::string_view raw(const Token& token) const { return text_.substr(token.begin, token.size); }

  [[noreturn]] void fail(const Token& at, std::string_view what) const {
    throw Refusal{concat({"line ", std::to_string(at.line), ", column ",
                          std::to_string(column(at.line_start, at.begin)), ": ", what})};
  }
  [[noreturn]] void expected(const Token& at, std::string_view what) const {
    fail(at, concat({"expected ", what, ", found ", describe(at)}));
  }
  // Where a token stands, for messages that point back to it.
  std::string place(const Token& at) const {
    return concat({"line ", std::to_string(at.line), ", column ",
                   std::to_string(column(at.line_start, at.begin))});
  }

 private:
  std::size_t column(std::size_t line_start, std::size_t at) const {
    std::size_t column = 1;
    for (std::size_t i = line_start; i < at; ++i) column += (text_[i] & 0xC0) != 0x80;
    return column;
  }

  std::string describe(const Token& at) const {
    if (at.kind == Token::end) return "the end of the file";
    std::string_view shown = raw(at);
    bool cut = false;
    if (shown.size() > quoted_bytes) {
      std::size_t n = quoted_bytes;
      while (n > 0 && (shown[n] & 0xC0) == 0x80) --n;
      shown = shown.substr(0, n);
      cut = true;
    }
    std::string out = "'";
    for (const char c : shown) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7F) {
        constexpr char hex[] = "0123456789abcdef";
        out += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
      } else {
        out += c;
      }
    }
    return out + (cut ? "...'" : "'");
  }

  static bool space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }

  void advance() {
    while (at_ < text_.size() && space(text_[at_])) {
      if (text_[at_] == '\n') line_start_ = at_ + 1, ++line_;
      ++at_;
    }
    next_ = Token{Token::end, at_, 0, line_, line_start_};
    if (at_ == text_.size()) return;
    const char c = text_[at_];
    if (c == '{' || c == '}' || c == ',') {
      next_.kind = c == '{' ? Token::open : c == '}' ? Token::close : Token::comma;
      next_.size = 1;
      ++at_;
      return;
    }
    if (c == '"') {
      std::size_t i = at_ + 1;
      std::size_t line = line_, line_start = line_start_;
      for (;; ++i) {
        if (i >= text_.size()) {
          Token open = next_;
          open.size = 1;
          throw Refusal{concat({place(open),
                                ": this string is never closed: expected a '\"' "
                                "before the end of the file"})};
        }
        if (text_[i] == '\\' && i + 1 < text_.size() && text_[i + 1] == '"') {
          ++i;
        } else if (text_[i] == '"') {
          break;
        } else if (text_[i] == '\n') {
          line_start = i + 1, ++line;
        }
      }
      next_.kind = Token::string;
      next_.size = i + 1 - at_;
      at_ = i + 1;
      line_ = line, line_start_ = line_start;
      return;
    }
    std::size_t i = at_;
    while (i < text_.size() && !space(text_[i]) && text_[i] != '{' && text_[i] != '}' &&
           text_[i] != ',' && text_[i] != '"') {
      ++i;
    }
    next_.kind = Token::word;
    next_.size = i - at_;
    at_ = i;
  }

  std::string_view text_;
  std::size_t at_ = 0, line_ = 1, line_start_ = 0;
  Token next_;
  std::string buffer_;
};

// The place of the first byte that is not part of well-formed UTF-8, if any.
std::optional<std::size_t> invalid_utf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + length > n || s[i + 1] < low || s[i + 1] > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return i;
    }
    i += length;
  }
  return std::nullopt;
}

// An information set: its player (0 for chance), its actions (and their probabilities, for
// chance) and how many nodes it has.
struct Set {
  std::uint64_t player, number;
  std::size_t first_action, action_count;
  std::size_t first_probability;  // of a chance set
  std::size_t members = 0;
  Token declared;  // where its actions were given
};

// Entries of a table found by a key of two numbers: a hash table of the entries' indices (four
// bytes each), probed linearly, whose keys the table itself keeps (`key_of(i)`). A file of a
// million sets or outcomes allocates no memory per entry and keeps the hash table small.
//
// Files number their sets (of each player) and outcomes 1, 2, 3, ...: the hash keeps such
// numbers side by side, so that the table is read in order rather than at random (a miss of the
// cache for every node otherwise). Numbers chosen to collide so (multiples of a power of two)
// make a probe run long: the table then spreads its keys by a mixing hash instead, so that no
// file takes more than linear time.
class Index {
 public:
  // Keys (a, b) with a < `stride` lie side by side in the order of b, then of a.
  void set_stride(std::uint64_t stride) { stride_ = stride; }
  // The entry of key (a, b), else `fresh` (the next index), which is then kept; and whether it
  // is new.
  template <class KeyOf>
  std::pair<std::size_t, bool> find_or_add(std::uint64_t a, std::uint64_t b, std::size_t fresh,
                                           KeyOf key_of) {
    if ((size_ + 1) * 2 > slots_.size()) rebuild(slots_.size() * 2, key_of);
    for (;;) {
      const std::size_t mask = slots_.size() - 1;
      std::size_t i = hash(a, b) & mask;
      for (std::size_t probes = 0; probes < long_run || mixed_; ++probes, i = (i + 1) & mask) {
        if (slots_[i] == 0) {
          if (fresh >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
          slots_[i] = static_cast<std::uint32_t>(fresh + 1);
          ++size_;
          return {fresh, true};
        }
        if (key_of(slots_[i] - 1) == std::pair(a, b)) return {slots_[i] - 1, false};
      }
      mixed_ = true;
      rebuild(slots_.size(), key_of);
    }
  }

 private:
  static constexpr std::size_t long_run = 64;

  std::size_t hash(std::uint64_t a, std::uint64_t b) const {
    std::uint64_t h = b * stride_ + a;
    if (!mixed_) return static_cast<std::size_t>(h);
    // SplitMix64's finalizer, which spreads numbers that differ in any bit.
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::size_t>(h ^ (h >> 31));
  }
  template <class KeyOf>
  void rebuild(std::size_t size, KeyOf key_of) {
    std::vector<std::uint32_t> old(std::max<std::size_t>(16, size), 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint32_t entry : old) {
      if (entry == 0) continue;
      const auto [a, b] = key_of(entry - 1);
      std::size_t i = hash(a, b) & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = entry;
    }
  }
  std::vector<std::uint32_t> slots_;  // an entry's index + 1, or 0
  std::size_t size_ = 0;
  std::uint64_t stride_ = 1;
  bool mixed_ = false;
};

// A node line: the node's information set (an index into the sets, or none for a terminal
// node) and its outcome (an index into the outcomes, or none).
constexpr std::size_t none = static_cast<std::size_t>(-1);
struct Line {
  std::size_t set = none;
  std::size_t outcome = none;
};

class Reader {
 public:
  Reader(std::string_view text, MakeNode make) : lexer_(text), make_(make) {}

  void read(Game& game) {
    std::string title = header();
    // The root of the game is the file's first node.
    const Line first = line();
    Ref root = make_(make_node(Player{"player"}, "root", std::nullopt, std::nullopt, std::nullopt));
    nodes_.push_back(root.get());
    fill(root.get(), first);
    struct Frame {
      PyObject* node;
      std::size_t set, next;
    };
    std::vector<Frame> stack;
    if (first.set != none) stack.push_back(Frame{root.get(), first.set, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      const Set& parent = sets_[top.set];
      if (top.next == parent.action_count) {
        stack.pop_back();
        continue;
      }
      const std::size_t i = top.next++;
      PyObject* const parent_node = top.node;
      const Set parent_set = parent;  // `line` may move the sets
      const Line here = line();
      Decision node = make_node(players_[parent_set.player], actions_[parent_set.first_action + i],
                                std::nullopt, std::nullopt, std::nullopt);
      Ref child = make_(std::move(node));
      fill(child.get(), here);
      if (parent_set.player == 0) {
        set_probability(record(child.get()), probabilities_[parent_set.first_probability + i]);
      }
      PyObject* const child_node = child.get();
      nodes_.push_back(child_node);
      record(parent_node).children.push_back(std::move(child));
      if (here.set != none) stack.push_back(Frame{child_node, here.set, 0});
    }
    const Token after = lexer_.take();
    if (after.kind != Token::end) lexer_.expected(after, "the end of the file");
    // Sets of two or more members are numbered in order of first appearance.
    std::vector<std::uint64_t> numbers(sets_.size(), 0);
    std::uint64_t count = 0;
    for (std::size_t s = 0; s < sets_.size(); ++s) {
      if (sets_[s].members >= 2) numbers[s] = ++count;
    }
    for (const auto& [node, set] : members_) {
      if (numbers[set] == 0) continue;
      Decision& member = record(node);
      member.information_set_number = numbers[set];
      member.has_information_set = true;
    }
    // The outcomes the nodes came from, in a table made large enough at once.
    reserve_outcomes(with_outcome_.size());
    for (const auto& [node, outcome] : with_outcome_) {
      set_outcome(record(node), Outcome{first_key_ + outcome, outcome_names_[outcome]});
    }
    // Nothing fails from here on: the nodes draw their numbers, and the game is filled in.
    for (PyObject* node : nodes_) record(node).node_id = next_node_id();
    game.title = std::move(title);
    game.player = std::move(players_);
    game.gametype = Type{Type::Extensive};
    game.root = std::move(root);
  }

 private:
  static Decision& record(PyObject* node) { return reinterpret_cast<Cell<Decision>*>(node)->value; }

  // Sets a node's payoff, and notes the outcome it came from and the set it is a member of.
  void fill(PyObject* node, const Line& line) {
    if (line.outcome != none) {
      record(node).payoff = Payoff(outcomes_[line.outcome]);
      with_outcome_.emplace_back(node, line.outcome);
    }
    if (line.set != none) members_.emplace_back(node, line.set);
  }

  std::string_view string(std::string_view what, Token* where = nullptr) {
    const Token token = lexer_.take();
    if (token.kind != Token::string) lexer_.expected(token, what);
    if (where != nullptr) *where = token;
    return lexer_.value(token);
  }
  void punctuation(Token::Kind kind, std::string_view what) {
    const Token token = lexer_.take();
    if (token.kind != kind) lexer_.expected(token, what);
  }

  // A whole number of at most 18 digits, from `least` to `most`; `what()` says what was
  // expected otherwise.
  template <class What>
  std::uint64_t whole(What what, std::uint64_t least, std::uint64_t most) {
    const Token token = lexer_.take();
    const std::string_view digits = lexer_.raw(token);
    std::uint64_t value = 0;
    bool ok = token.kind == Token::word && !digits.empty() && digits.size() <= 18;
    for (std::size_t i = 0; ok && i < digits.size(); ++i) {
      ok = digits[i] >= '0' && digits[i] <= '9';
      value = value * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    }
    if (!ok || value < least || value > most) lexer_.expected(token, what());
    return value;
  }

  // An exact number (a probability when `probability`).
  Exact exact(const Token& token, std::string_view what, bool probability) {
    if (token.kind != Token::word) lexer_.expected(token, what);
    ParsedExact parsed = parse_exact(lexer_.raw(token));
    if (!parsed.value) {
      lexer_.expected(token, parsed.problem == ExactProblem::too_large
                                 ? concat({what, " whose numerator and denominator fit in 64 bits"})
                                 : std::string(what));
    }
    if (probability && (parsed.value->negative || parsed.value->compare(1, 1) > 0)) {
      lexer_.expected(token, what);
    }
    return std::move(*parsed.value);
  }

  // Reads up to the first node and returns the title.
  std::string header() {
    expect_word("EFG", "EFG (a Gambit extensive-form game file)");
    expect_word("2", "the version 2");
    expect_word("R", "R");
    std::string title(string("the game's title (a quoted string)"));
    punctuation(Token::open, "'{' before the players' names");
    std::vector<Player> players{Player{"Nature"}};
    while (lexer_.peek().kind != Token::close) {
      players.push_back(Player{string("a player's name (a quoted string) or '}'")});
    }
    lexer_.take();
    // Nature is named as no player is.
    std::string nature = "Nature";
    for (bool taken = true; taken;) {
      taken = false;
      for (std::size_t i = 1; i < players.size() && !taken; ++i) {
        taken = players[i].name.view() == nature;
      }
      if (taken) nature += '\'';
    }
    players[0].name = nature;
    players_ = std::move(players);
    set_index_.set_stride(players_.size());
    if (lexer_.peek().kind == Token::string) lexer_.take();  // the comment
    return title;
  }

  void expect_word(std::string_view word, std::string_view what) {
    const Token token = lexer_.take();
    if (token.kind != Token::word || lexer_.raw(token) != word) lexer_.expected(token, what);
  }

  Line line() {
    const Token type = lexer_.take();
    const std::string_view kind = lexer_.raw(type);
    const std::size_t count = players_.size() - 1;
    if (type.kind != Token::word || (kind != "c" && kind != "p" && kind != "t")) {
      lexer_.expected(type, "a node type c, p or t");
    }
    if (kind == "p" && count == 0) {
      lexer_.expected(type, "a node type c or t (the file names no players)");
    }
    string("the node's name (a quoted string)");
    Line here;
    constexpr std::uint64_t any = std::numeric_limits<std::uint64_t>::max();
    if (kind == "c") {
      here.set = information_set(
          0,
          whole([] { return std::string("a chance information set's number (from 1)"); }, 1, any));
    } else if (kind == "p") {
      const std::uint64_t player =
          whole([&] { return concat({"a player's number from 1 to ", std::to_string(count)}); }, 1,
                count);
      here.set = information_set(player, whole(
                                             [&] {
                                               return concat(
                                                   {"an information set number of "
                                                    "player ",
                                                    std::to_string(player), " (from 1)"});
                                             },
                                             1, any));
    }
    here.outcome = outcome();
    return here;
  }

  std::string set_name(std::uint64_t player, std::uint64_t number) const {
    return player == 0 ? concat({"chance information set ", std::to_string(number)})
                       : concat({"information set ", std::to_string(number), " of player ",
                                 std::to_string(player)});
  }

  std::size_t information_set(std::uint64_t player, std::uint64_t number) {
    const auto [index, is_new] = set_index_.find_or_add(
        player, number, sets_.size(),
        [&](std::size_t i) { return std::pair(sets_[i].player, sets_[i].number); });
    if (lexer_.peek().kind != Token::string) {
      if (is_new) {
        lexer_.expected(lexer_.peek(), concat({"the name and actions of ", set_name(player, number),
                                               ", which is new here"}));
      }
      ++sets_[index].members;
      return index;
    }
    Token declared;
    string("", &declared);
    punctuation(Token::open, "'{' before the actions");
    const std::size_t first_action = actions_.size(), first_probability = probabilities_.size();
    Sum sum;
    for (;;) {
      const Token token = lexer_.take();
      if (token.kind == Token::close && actions_.size() > first_action) {
        if (player == 0 && sum.compare_to_one() != 0) {
          lexer_.fail(token, concat({"the probabilities of these actions add up to ",
                                     sum.compare_to_one() < 0 ? "less" : "more", " than 1"}));
        }
        break;
      }
      if (token.kind != Token::string) {
        lexer_.expected(token, actions_.size() > first_action
                                   ? "an action's name (a quoted string) or '}'"
                                   : "an action's name (a quoted string): a node has at least one");
      }
      actions_.emplace_back(lexer_.value(token));
      if (player == 0) {
        Exact p = exact(lexer_.take(), "the action's probability (a number from 0 to 1)", true);
        sum.add(p.numerator, p.denominator);
        probabilities_.push_back(std::move(p));
      }
    }
    const std::size_t action_count = actions_.size() - first_action;
    if (is_new) {
      sets_.push_back(
          Set{player, number, first_action, action_count, first_probability, 1, declared});
      return index;
    }
    // Repeated: it must agree, and is then forgotten.
    Set& set = sets_[index];
    bool same = set.action_count == action_count;
    for (std::size_t i = 0; same && i < action_count; ++i) {
      same = actions_[set.first_action + i].view() == actions_[first_action + i].view();
      if (same && player == 0) {
        const Exact& a = probabilities_[set.first_probability + i];
        const Exact& b = probabilities_[first_probability + i];
        same = a.numerator == b.numerator && a.denominator == b.denominator;
      }
    }
    if (!same) {
      lexer_.fail(declared, concat({set_name(player, number), " has other actions",
                                    player == 0 ? " or probabilities" : "", " here than at ",
                                    lexer_.place(set.declared)}));
    }
    actions_.erase(actions_.begin() + static_cast<std::ptrdiff_t>(first_action), actions_.end());
    probabilities_.erase(probabilities_.begin() + static_cast<std::ptrdiff_t>(first_probability),
                         probabilities_.end());
    ++set.members;
    return index;
  }

  std::size_t outcome() {
    const std::uint64_t id = whole([] { return std::string("an outcome number (0 for none)"); }, 0,
                                   std::numeric_limits<std::uint64_t>::max());
    const bool given = lexer_.peek().kind == Token::string;
    if (id == 0) {
      if (given) lexer_.expected(lexer_.peek(), "the next node (outcome 0 has no name or payoffs)");
      return none;
    }
    const auto [index, is_new] = outcome_index_.find_or_add(
        0, id, outcomes_.size(),
        [&](std::size_t i) { return std::pair(std::uint64_t{0}, outcome_ids_[i]); });
    if (!given) {
      if (is_new) {
        lexer_.expected(lexer_.peek(), concat({"the name and payoffs of outcome ",
                                               std::to_string(id), ", which is new here"}));
      }
      return index;
    }
    Token declared;
    const std::string_view name = string("", &declared);
    if (is_new) outcome_names_.emplace_back(name);  // a repeated one keeps its first name
    punctuation(Token::open, "'{' before the payoffs");
    const std::size_t count = players_.size() - 1;
    Exacts values;
    auto wanted = [&] {
      return concat({"payoff ", std::to_string(values.size() + 1), " of ", std::to_string(count),
                     " (a number, one per player)"});
    };
    for (Token token = lexer_.take();;) {
      if (token.kind == Token::close) {
        if (values.size() < count) lexer_.expected(token, wanted());
        break;
      }
      if (values.size() == count) {
        lexer_.expected(
            token, concat({"'}' after the ", std::to_string(count),
                           count == 1 ? " payoff (one per player)" : " payoffs (one per player)"}));
      }
      values.push_back(exact(token, wanted(), false));
      token = lexer_.take();
      if (token.kind == Token::comma) token = lexer_.take();
    }
    if (is_new) {
      outcomes_.push_back(payoff_of(std::move(values)));
      outcome_declared_.push_back(declared);
      outcome_ids_.push_back(id);
      return index;
    }
    if (!same_payoff(outcomes_[index], values)) {
      lexer_.fail(declared,
                  concat({"outcome ", std::to_string(id), " has other payoffs here than at ",
                          lexer_.place(outcome_declared_[index])}));
    }
    return index;
  }

  static bool same_payoff(const Payoff& kept, const Exacts& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Exact& v = values[i];
      if (kept.is_numeric()) {
        const std::int64_t n = kept.numbers()[i];
        const std::uint64_t magnitude = n < 0 ? static_cast<std::uint64_t>(-n) : n;
        if (!v.is_integer() || v.numerator != magnitude || v.negative != (n < 0)) return false;
      } else {
        const Exact& k = kept.exacts()[i];
        if (k.numerator != v.numerator || k.denominator != v.denominator ||
            k.negative != v.negative) {
          return false;
        }
      }
    }
    return true;
  }

  Lexer lexer_;
  MakeNode make_;
  std::vector<Player> players_;
  std::vector<Set> sets_;
  Index set_index_;  // by player (0 for chance) and number
  std::vector<Text> actions_;
  std::vector<Exact> probabilities_;
  std::vector<Payoff> outcomes_;
  std::vector<Token> outcome_declared_;
  std::vector<std::uint64_t> outcome_ids_;
  std::vector<Text> outcome_names_;
  // The key of the file's first outcome: the others follow it (fewer than 2**32, as the index
  // holds), so that no two files' outcomes share a key.
  const std::uint64_t first_key_ = next_outcome_keys(std::uint64_t{1} << 32);
  Index outcome_index_;  // by 0 and number
  std::vector<std::pair<PyObject*, std::size_t>> members_;
  std::vector<std::pair<PyObject*, std::size_t>> with_outcome_;  // nodes and their outcomes
  std::vector<PyObject*> nodes_;                                 // in pre-order
};

}  // namespace

void read(std::string_view text, bool utf8_known, MakeNode make, Game& game) {
  if (!utf8_known) {
    if (const std::optional<std::size_t> bad = invalid_utf8(text)) {
      std::size_t line = 1, line_start = 0;
      for (std::size_t i = 0; i < *bad; ++i) {
        if (text[i] == '\n') line_start = i + 1, ++line;
      }
      std::size_t column = 1;
      for (std::size_t i = line_start; i < *bad; ++i) column += (text[i] & 0xC0) != 0x80;
      constexpr char hex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(text[*bad]);
      throw Refusal{concat({"line ", std::to_string(line), ", column ", std::to_string(column),
                            ": the file is not UTF-8 text (byte 0x", std::string{hex[byte >> 4]},
                            std::string{hex[byte & 15]}, ")"})};
    }
  }
  Reader(text, make).read(game);
}

}  // namespace kelvora::efg
