// The node records: payoffs, children, making and attaching nodes, and releasing the
// children of a deallocated node without recursion.
#include "tree/node.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace kelvora {
namespace {

// The number of the next node; numbers are never reused within a process.
std::atomic<std::uint64_t> node_counter{0};

// Children whose release has been put off while an outer node deallocation drains them;
// null when no deallocation is running. Guarded by the interpreter lock.
std::vector<Ref>* releasing = nullptr;

}  // namespace

void release_children(Children children) noexcept {
  if (children.empty()) return;
  // Out of memory while handing over: whatever was not handed over is released when
  // `children` goes, right here, nested.
  auto hand_over = [&](std::vector<Ref>& to) {
    try {
      while (!children.empty()) to.push_back(children.pop_back());
    } catch (const std::bad_alloc&) {
    }
  };
  if (releasing != nullptr) {
    hand_over(*releasing);
    return;
  }
  std::vector<Ref> pending;
  hand_over(pending);
  releasing = &pending;
  while (!pending.empty()) {
    Ref child = std::move(pending.back());
    pending.pop_back();
    child = Ref();
  }
  releasing = nullptr;
}

std::vector<Ref> share(const Children& children) {
  std::vector<Ref> out;
  out.reserve(children.size());
  for (PyObject* child : children) out.push_back(Ref::borrow(child));
  return out;
}

Payoff::Payoff(const Numeric& numbers) : kind_(Kind::numeric) {
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

Payoff::Payoff(const Payoff& other) : kind_(other.kind_), size_(other.size_), pair_{0, 0} {
  if (kind_ == Kind::symbolic) {
    variables_ = new Symbolic(*other.variables_);
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

Decision make_node(Player player, Text name, std::optional<Numeric> numbers,
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

std::uint64_t next_node_id() { return node_counter.fetch_add(1); }

void append_child(PyObject* parent, PyObject* child) {
  Ref held = Ref::borrow(child);
  Exclusive<Decision>(reinterpret_cast<Cell<Decision>*>(parent), OnConflict::fault)
      ->children.push_back(std::move(held));
}

}  // namespace kelvora
