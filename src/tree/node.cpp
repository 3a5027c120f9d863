// The node records: payoffs, children, making and attaching nodes, and releasing a node and
// whatever only it held without recursion or allocation.
#include "tree/node.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

namespace kelvora {
namespace {

// The number of the next node; numbers are never reused within a process.
std::atomic<std::uint64_t> node_counter{0};

// The nodes whose release has begun and which still hold children, the last begun on top: a
// stack linked through the borrow words of their cells, so that releasing needs no memory. An
// object without references has no borrow left to record, and its memory is still ours until
// it is freed. Guarded by the interpreter lock.
Cell<Decision>* dying = nullptr;
// Set while the outermost release works off the stack of dying nodes.
bool releasing = false;

static_assert(sizeof(Py_ssize_t) >= sizeof(Cell<Decision>*), "the borrow word holds a link");

void push_dying(Cell<Decision>* cell) noexcept {
  cell->borrow = reinterpret_cast<Py_ssize_t>(dying);
  dying = cell;
}

Cell<Decision>* pop_dying() noexcept {
  Cell<Decision>* top = dying;
  dying = reinterpret_cast<Cell<Decision>*>(top->borrow);
  return top;
}

// The probabilities of the nodes that have one, by record. Guarded by the interpreter lock.
std::unordered_map<const Decision*, Exact>& probabilities() {
  static auto* table = new std::unordered_map<const Decision*, Exact>();  // never freed: nodes
  return *table;  // can outlive the module's own statics at exit
}

// The outcomes kept for nodes read from game files, by record; never freed, as probabilities().
// Guarded by the interpreter lock.
std::unordered_map<const Decision*, Outcome>& outcomes() {
  static auto* table = new std::unordered_map<const Decision*, Outcome>();
  return *table;
}

// The first outcome key not yet given out.
std::atomic<std::uint64_t> outcome_counter{0};

// Destroys the record of a node without children and frees the object.
void free_node(Cell<Decision>* cell) noexcept {
  if (cell->value.has_probability) probabilities().erase(&cell->value);
  if (cell->value.has_outcome) outcomes().erase(&cell->value);
  dealloc<Decision>(reinterpret_cast<PyObject*>(cell));
}

}  // namespace

void release_node(PyObject* node) noexcept {
  auto* cell = reinterpret_cast<Cell<Decision>*>(node);
  if (cell->value.children.empty()) {
    free_node(cell);
    return;
  }
  push_dying(cell);
  if (releasing) return;
  releasing = true;
  // Every node on the stack holds a child. A node goes as soon as its last child is taken,
  // before that child is dropped, so a chain is freed from the top down and never piles up.
  while (dying != nullptr) {
    Ref child = dying->value.children.pop_back();
    if (dying->value.children.empty()) free_node(pop_dying());
    child = Ref();  // a child with children of its own is pushed, and they come next
  }
  releasing = false;
}

std::vector<Ref> share(const Children& children) {
  std::vector<Ref> out;
  out.reserve(children.size());
  for (PyObject* child : children) out.push_back(Ref::borrow(child));
  return out;
}

Payoff::Payoff(std::span<const std::int32_t> numbers) : kind_(Kind::numeric) {
  if (numbers.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  size_ = static_cast<std::uint32_t>(numbers.size());
  if (size_ > inline_count) {
    numbers_ = new std::int32_t[size_];
  } else {
    pair_[0] = pair_[1] = 0;
  }
  std::copy(numbers.begin(), numbers.end(), size_ > inline_count ? numbers_ : pair_);
}

Payoff::Payoff(Symbolic variables)
    : kind_(Kind::symbolic), variables_(new Symbolic(std::move(variables))) {}

Payoff::Payoff(Exacts numbers) : kind_(Kind::exact), exacts_(new Exacts(std::move(numbers))) {}

Payoff::Payoff(const Payoff& other) : kind_(other.kind_), size_(other.size_), pair_{0, 0} {
  if (kind_ == Kind::symbolic) {
    variables_ = new Symbolic(*other.variables_);
  } else if (kind_ == Kind::exact) {
    exacts_ = new Exacts(*other.exacts_);
  } else if (kind_ == Kind::numeric && size_ > inline_count) {
    numbers_ = new std::int32_t[size_];
    std::copy(other.numbers_, other.numbers_ + size_, numbers_);
  } else {
    std::copy(other.pair_, other.pair_ + inline_count, pair_);
  }
}

void Children::push_back(Ref child) {
  if (size_ == capacity_) {
    if (capacity_ == std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const std::uint32_t grown =
        capacity_ == 0
            ? 1
            : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                  std::uint64_t{capacity_} * 2, std::numeric_limits<std::uint32_t>::max()));
    auto* items = static_cast<PyObject**>(PyMem_Realloc(items_, grown * sizeof(PyObject*)));
    if (items == nullptr) throw std::bad_alloc();
    items_ = items;
    capacity_ = grown;
  }
  items_[size_++] = child.release();
}

Decision make_node(Player player, Text name, std::optional<std::span<const std::int32_t>> numbers,
                   std::optional<Symbolic> variables,
                   std::optional<std::uint64_t> information_set) {
  return Decision{std::move(player),
                  std::move(name),
                  numbers     ? Payoff(*numbers)
                  : variables ? Payoff(std::move(*variables))
                              : Payoff(),
                  Children(),
                  0,
                  information_set.value_or(0),
                  information_set.has_value()};
}

Payoff payoff_of(Exacts numbers) {
  std::vector<std::int32_t> integers;
  integers.reserve(numbers.size());
  for (const Exact& number : numbers) {
    const bool plain =
        number.is_integer() && number.text.view().find_first_of("./") == std::string_view::npos;
    const std::uint64_t limit =
        number.negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (!plain || number.numerator > limit) return Payoff(std::move(numbers));
    integers.push_back(
        static_cast<std::int32_t>(number.negative ? -static_cast<std::int64_t>(number.numerator)
                                                  : static_cast<std::int64_t>(number.numerator)));
  }
  return Payoff(std::span<const std::int32_t>(integers));
}

void append_payoff_entry(const Payoff& payoff, std::size_t i, std::string& out) {
  if (payoff.is_numeric()) {
    out += std::to_string(payoff.numbers()[i]);
  } else if (payoff.is_exact()) {
    out += payoff.exacts()[i].text.view();
  } else {
    out += payoff.variables()[i].name;
  }
}

namespace {

// Sets or (with nothing) removes the entry of `node` in a side table whose presence `flag`
// records in the node.
template <class Value>
void set_entry(std::unordered_map<const Decision*, Value>& table, Decision& node, bool& flag,
               std::optional<Value> value) {
  if (!value) {
    if (flag) table.erase(&node);
    flag = false;
    return;
  }
  table.insert_or_assign(&node, std::move(*value));
  flag = true;
}

}  // namespace

const Exact* probability_of(const Decision& node) {
  if (!node.has_probability) return nullptr;
  return &probabilities().find(&node)->second;
}

void set_probability(Decision& node, std::optional<Exact> probability) {
  set_entry(probabilities(), node, node.has_probability, std::move(probability));
}

const Outcome* outcome_of(const Decision& node) {
  if (!node.has_outcome) return nullptr;
  return &outcomes().find(&node)->second;
}

void set_outcome(Decision& node, std::optional<Outcome> outcome) {
  set_entry(outcomes(), node, node.has_outcome, std::move(outcome));
}

void reserve_outcomes(std::size_t count) { outcomes().reserve(outcomes().size() + count); }

std::uint64_t next_outcome_keys(std::uint64_t count) { return outcome_counter.fetch_add(count); }

std::uint64_t next_node_id() { return node_counter.fetch_add(1); }

void append_child(PyObject* parent, PyObject* child) {
  Ref held = Ref::borrow(child);
  Exclusive<Decision>(reinterpret_cast<Cell<Decision>*>(parent), OnConflict::fault)
      ->children.push_back(std::move(held));
}

}  // namespace kelvora
