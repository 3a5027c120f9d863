// The nodes of a game tree as plain records: the players who move at them, their payoffs and
// children, and the operations on nodes: making, attaching, reading a node under its borrow
// flag and releasing deep chains without recursion or allocation. Nodes are Python objects
// (their children are shared), but nothing here knows how the classes present them to Python.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cell.hpp"
#include "ref.hpp"
#include "text.hpp"
#include "tree/exact.hpp"
#include "tree/utility.hpp"

namespace kelvora {

// A participant of a game, known only by name. Copied wherever it is handed over.
struct Player {
  Text name;
};

// What a node pays: symbolic variables, 32-bit integers or exact numbers as written. An empty
// list is still a payoff.
using Symbolic = std::vector<Variable>;
using Exacts = std::vector<Exact>;

// A node's payoff, or none, in 16 bytes: up to two integers (the usual pair) are kept inside,
// longer lists, variables and exact numbers on the heap.
class Payoff {
 public:
  Payoff() noexcept : pair_{0, 0} {}
  explicit Payoff(std::span<const std::int32_t> numbers);
  explicit Payoff(Symbolic variables);
  explicit Payoff(Exacts numbers);
  Payoff(const Payoff& other);
  Payoff& operator=(const Payoff&) = delete;
  Payoff(Payoff&& other) noexcept : kind_(other.kind_), size_(other.size_) {
    static_assert(sizeof pair_ == sizeof numbers_ && sizeof pair_ == sizeof variables_);
    std::memcpy(pair_, other.pair_, sizeof pair_);
    other.kind_ = Kind::none;
  }
  // Swaps in `other`'s payoff: it cannot fail.
  Payoff& operator=(Payoff&& other) noexcept {
    Payoff old(std::move(*this));
    std::memcpy(pair_, other.pair_, sizeof pair_);
    kind_ = other.kind_;
    size_ = other.size_;
    other.kind_ = Kind::none;
    return *this;
  }
  ~Payoff() {
    if (kind_ == Kind::symbolic) delete variables_;
    if (kind_ == Kind::exact) delete exacts_;
    if (kind_ == Kind::numeric && size_ > inline_count) delete[] numbers_;
  }

  explicit operator bool() const noexcept { return kind_ != Kind::none; }
  // Of 32-bit integers.
  bool is_numeric() const noexcept { return kind_ == Kind::numeric; }
  // Of exact numbers, which are not all 32-bit integers written as such.
  bool is_exact() const noexcept { return kind_ == Kind::exact; }
  bool is_symbolic() const noexcept { return kind_ == Kind::symbolic; }
  // The number of entries (0 for none).
  std::size_t size() const noexcept {
    return kind_ == Kind::symbolic ? variables_->size()
           : kind_ == Kind::exact  ? exacts_->size()
                                   : size_;
  }
  // The integers of a numeric payoff.
  std::span<const std::int32_t> numbers() const noexcept {
    return {size_ <= inline_count ? pair_ : numbers_, size_};
  }
  // The variables of a symbolic payoff.
  const Symbolic& variables() const noexcept { return *variables_; }
  // The numbers of an exact payoff.
  const Exacts& exacts() const noexcept { return *exacts_; }
  // The heap block that holds the entries (a list, for variables and exact numbers), or null
  // when they are kept inside.
  const void* heap_block() const noexcept {
    if (kind_ == Kind::symbolic) return variables_;
    if (kind_ == Kind::exact) return exacts_;
    return kind_ == Kind::numeric && size_ > inline_count ? numbers_ : nullptr;
  }

 private:
  static constexpr std::uint32_t inline_count = 2;
  enum class Kind : std::uint8_t { none, numeric, symbolic, exact };
  Kind kind_ = Kind::none;
  std::uint32_t size_ = 0;  // of a numeric payoff
  union {
    std::int32_t pair_[inline_count];
    std::int32_t* numbers_;
    Symbolic* variables_;
    Exacts* exacts_;
  };
};

// A payoff of exact numbers: kept as 32-bit integers (as a payoff of integers is) when every
// entry is an integer within 32 bits written as one, else as the exact numbers.
Payoff payoff_of(Exacts numbers);

// Appends entry i of a payoff (i < size()) as it was written: an integer in decimal, an exact
// number as its text ("1.5", "-3/2"), a variable by name. Drawings show payoffs through this.
void append_payoff_entry(const Payoff& payoff, std::size_t i, std::string& out);

// The children of a node: strong references in an array from the interpreter's allocator,
// 16 bytes in the node (a std::vector takes 24, and its block more than the interpreter's
// allocator would). Needs the interpreter lock throughout.
class Children {
 public:
  Children() noexcept = default;
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;
  Children(Children&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Children& operator=(Children&&) = delete;
  ~Children() {
    while (size_ > 0) Py_DECREF(items_[--size_]);
    PyMem_Free(items_);
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  PyObject* operator[](std::size_t i) const noexcept { return items_[i]; }
  PyObject* front() const noexcept { return items_[0]; }
  PyObject* const* begin() const noexcept { return items_; }
  PyObject* const* end() const noexcept { return items_ + size_; }

  // Appends a child, taking over the reference; a full array grows (or MemoryError).
  void push_back(Ref child);
  // Removes the last child and hands over its reference.
  Ref pop_back() noexcept { return Ref::steal(items_[--size_]); }

 private:
  PyObject** items_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

// One node of a game tree: the action `name` taken by `player` that leads here. Children are
// shared Python Decision objects, held by strong references.
struct Decision {
  Player player;
  Text name;
  Payoff payoff;
  Children children;
  std::uint64_t node_id;
  std::uint64_t information_set_number = 0;
  bool has_information_set = false;
  // Set while an export walks below this node: meeting it again there means a cycle.
  mutable bool on_path = false;
  // Set once a check has met this node, while it runs.
  mutable bool seen = false;
  // Whether a probability is kept for this node (see probability_of): a side table holds it,
  // so a node without one takes no more room.
  bool has_probability = false;
  // Whether the outcome that the payoff was read from is kept (see outcome_of): a side table
  // holds it, as it holds probabilities.
  bool has_outcome = false;

  std::optional<std::uint64_t> information_set() const {
    if (!has_information_set) return std::nullopt;
    return information_set_number;
  }
};

// A node, numbered 0 until its number is drawn with next_node_id: the payoff is `numbers` when
// given, else `variables` when given, else none.
Decision make_node(Player player, Text name, std::optional<std::span<const std::int32_t>> numbers,
                   std::optional<Symbolic> variables, std::optional<std::uint64_t> information_set);

// The probability of the node record `node`, or null. Needs the interpreter lock, as do the
// two below.
const Exact* probability_of(const Decision& node);
// Sets or (with nothing) removes the probability of `node`; the node is unchanged when it fails.
void set_probability(Decision& node, std::optional<Exact> probability);

// The outcome of a game file that a node's payoff was read from: its name, and a key that tells
// the outcomes of all files read in a process apart (see next_outcome_keys).
struct Outcome {
  std::uint64_t key;
  Text name;
};

// The outcome kept for the node record `node`, or null. Needs the interpreter lock, as does
// set_outcome.
const Outcome* outcome_of(const Decision& node);
// Keeps `outcome` for `node`, or (with nothing) forgets it; the node is unchanged when it fails.
void set_outcome(Decision& node, std::optional<Outcome> outcome);
// Makes room in the table of outcomes for `count` more nodes, so that keeping theirs does not
// grow it one step at a time.
void reserve_outcomes(std::size_t count);
// The first of `count` outcome keys that no other call has given out.
std::uint64_t next_outcome_keys(std::uint64_t count);

// The next node number; numbers are never reused within a process.
std::uint64_t next_node_id();

// The record of a node object. Only Decision objects are ever attached or made roots, so the
// objects handed in here are never checked. A node that an unfinished operation holds
// exclusively is the fatal shared-borrow fault.
inline const Decision& read_node(PyObject* node) {
  auto* cell = reinterpret_cast<Cell<Decision>*>(node);
  if (cell->borrow == -1) detail::shared_conflict(OnConflict::fault);
  return cell->value;
}

// New references to the same children.
std::vector<Ref> share(const Children& children);

// Appends `child` (a Decision object) to the children of the node object `parent`, under a
// fatal exclusive borrow.
void append_child(PyObject* parent, PyObject* child);

// Deallocates the node object `node`, whose last reference is gone: drops its children and
// frees it. Releasing a child can release its own children, and so on down a chain of any
// depth, yet the native stack stays flat and no memory is allocated: a release that begins
// while another runs only joins the stack of dying nodes that the outermost one works off.
// Needs the interpreter lock.
void release_node(PyObject* node) noexcept;

}  // namespace kelvora
