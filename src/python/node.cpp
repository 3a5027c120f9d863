// The Python classes Player and Decision: constructors, attributes, attaching, str().
#include "python/node.hpp"

#include <utility>

#include "convert.hpp"
#include "entry.hpp"
#include "python/exact.hpp"
#include "python/variable.hpp"
#include "tree/pool.hpp"

namespace kelvora {
namespace {

// --- Player ---

constexpr const char* player_params[] = {"name"};
constexpr CallSpec player_new_spec{"Player", "__new__", player_params, 1, 0, 0};

Ref make_player(PyTypeObject* type, Matched<1>& matched) {
  auto name = optional_argument(player_new_spec, 0, matched.slot[0], to_text);
  return construct(type, Player{name ? std::move(*name) : "player"});
}
using Player_constructor = Constructor<1, player_new_spec, make_player>;

// The `name` attribute, which players and nodes both have.
template <class T>
PyObject* get_name(PyObject* self, void*) {
  return entry([&] { return to_py(shared<T>(self)->name); });
}

template <class T>
int set_name(PyObject* self, PyObject* value, void*) {
  return entry_status([&] {
    std::string name = to_text(assigned_value(value));
    exclusive<T>(self)->name = std::move(name);
  });
}

PyGetSetDef player_getset[] = {
    {"name", get_name<Player>, set_name<Player>, "", nullptr},
    {},
};

PyType_Slot player_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Player_constructor::tp_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Player>)},
    {Py_tp_getset, player_getset},
    {0, nullptr},
};

ClassDef player_class{"Player",
                      "kelvora.Player",
                      "(name=None)",
                      sizeof(Cell<Player>),
                      player_slots,
                      nullptr,
                      0,
                      Player_constructor::vectorcall};

// --- Decision ---

constexpr const char* decision_params[] = {"player", "name", "utility", "variable",
                                           "information_set"};
constexpr CallSpec decision_new_spec{"Decision", "__new__", decision_params, 5, 0, 2};

Ref make_decision(PyTypeObject*, Matched<5>& matched) {
  const CallSpec& spec = decision_new_spec;
  Player player = argument(spec, 0, matched.slot[0], copy_of<Player>);
  Text name = argument(spec, 1, matched.slot[1], to_text);
  Int32List numbers;
  const bool has_numbers = given(matched.slot[2]);
  if (has_numbers) {
    argument(spec, 2, matched.slot[2], [&](PyObject* obj) { to_i32_list(obj, numbers); });
  }
  auto variables = optional_argument(spec, 3, matched.slot[3],
                                     [](PyObject* obj) { return to_list(obj, copy_of<Variable>); });
  auto information_set = optional_argument(spec, 4, matched.slot[4], to_u64);
  return new_node(std::move(player), std::move(name),
                  has_numbers ? std::optional(numbers.view()) : std::nullopt, std::move(variables),
                  information_set);
}
using Decision_constructor = Constructor<5, decision_new_spec, make_decision>;

PyObject* Decision_get_player(PyObject* self, void*) {
  return entry([&] { return wrap(Player(shared<Decision>(self)->player)); });
}

PyObject* Decision_get_children(PyObject* self, void*) {
  return entry([&] {
    // Copied out before the list is made, as making it can run Python code (see id_list).
    const std::vector<Ref> children = share(shared<Decision>(self)->children);
    return to_py_list(children, [](const Ref& child) { return child.copy(); });
  });
}

PyObject* Decision_get_information_set(PyObject* self, void*) {
  return entry([&] {
    const auto number = shared<Decision>(self)->information_set();
    return number ? to_py(*number) : none();
  });
}

PyObject* Decision_get_probability(PyObject* self, void*) {
  return entry([&] {
    std::optional<Exact> probability;
    if (const Exact* kept = probability_of(*shared<Decision>(self))) probability = *kept;
    return probability ? exact_to_py(*probability, false) : none();
  });
}

int Decision_set_probability(PyObject* self, PyObject* value, void*) {
  return entry_status([&] {
    std::optional<Exact> probability;
    if (given(value)) probability = to_exact(value, ExactTarget{"probability", true});
    set_probability(*exclusive<Decision>(self), std::move(probability));
  });
}

PyObject* Decision_get_payoff(PyObject* self, void*) {
  return entry([&]() -> Ref {
    // Copied out before the list is made, as making Fractions runs Python code.
    const Payoff payoff(shared<Decision>(self)->payoff);
    if (!payoff) return none();
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(payoff.size())));
    if (!list) throw Error::fetch();
    for (std::size_t i = 0; i < payoff.size(); ++i) {
      Ref item = payoff.is_numeric() ? to_py(std::int64_t{payoff.numbers()[i]})
                 : payoff.is_exact() ? exact_to_py(payoff.exacts()[i], true)
                                     : wrap(Variable(payoff.variables()[i]));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  });
}

// A payoff from a list of numbers or of Variables. Integers within 32 bits, written as such,
// are kept as `utility=` keeps them.
Payoff to_payoff(PyObject* value) {
  Symbolic variables;
  Exacts numbers;
  std::size_t index = 0;
  auto read = [&] {
    to_list<std::vector<char>>(value, [&](PyObject* item) {
      const std::string name = concat({"payoff[", std::to_string(index++), "]"});
      if (is_instance<Variable>(item)) {
        variables.push_back(copy_of<Variable>(item));
      } else {
        numbers.push_back(to_exact(item, ExactTarget{name, false}));
      }
      if (!variables.empty() && !numbers.empty()) {
        throw Error::with_message(
            PyExc_TypeError, concat({name, ": expected numbers only or Variables only, got both"}));
      }
      return char{};
    });
  };
  try {
    read();
  } catch (Error& err) {
    // Not a list at all (an item's error names its index).
    if (!err.is(PyExc_TypeError) || err.text().starts_with("payoff")) throw;
    throw Error::with_message(
        PyExc_TypeError,
        concat({"payoff: expected None or a list of numbers or of Variables; ", err.text()}));
  }
  if (!variables.empty()) return Payoff(std::move(variables));
  return payoff_of(std::move(numbers));
}

int Decision_set_payoff(PyObject* self, PyObject* value, void*) {
  return entry_status([&] {
    Payoff payoff = given(value) ? to_payoff(value) : Payoff();
    exclusive<Decision>(self)->payoff = std::move(payoff);
  });
}

constexpr const char* add_node_params[] = {"other"};
constexpr CallSpec add_node_spec{"Decision", "add_node", add_node_params, 1, 0, 1};

PyObject* Decision_add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return entry([&] {
    auto matched = match_fast<1>(add_node_spec, args, nargsf, kwnames);
    (void)cell_of<Decision>(self);
    Ref other = argument(add_node_spec, 0, matched.slot[0], ref_of<Decision>);
    append_child(self, other.get());
    return Ref::borrow(self);
  });
}

constexpr CallSpec add_nodes_spec{"Decision", "add_nodes", nullptr, 0, 0, 0, nullptr, 0, true};

PyObject* Decision_add_nodes(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) {
  return entry([&] {
    auto matched = match_fast<1>(add_nodes_spec, args, nargsf, kwnames);
    (void)cell_of<Decision>(self);
    PyObject* nodes = matched.surplus.get();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(nodes); ++i) {
      // Nodes before a refused one stay attached.
      append_child(self, ref_of<Decision>(PyTuple_GET_ITEM(nodes, i)).get());
    }
    return Ref::borrow(self);
  });
}

PyObject* Decision_add(PyObject* left, PyObject* right) {
  return entry([&] {
    if (!is_instance<Decision>(left) || !is_instance<Decision>(right)) return not_implemented();
    append_child(left, right);
    return Ref::borrow(left);
  });
}

PyObject* Decision_str(PyObject* self) {
  return entry([&] {
    auto node = shared<Decision>(self);
    return to_py(concat({"(player: ", node->player.name, " action: ", node->name, ")"}));
  });
}

PyGetSetDef decision_getset[] = {
    {"player", Decision_get_player, nullptr, "", nullptr},
    {"name", get_name<Decision>, set_name<Decision>, "", nullptr},
    {"children", Decision_get_children, nullptr, "", nullptr},
    {"information_set", Decision_get_information_set, nullptr, "", nullptr},
    {"probability", Decision_get_probability, Decision_set_probability,
     "The chance of reaching this node from its parent, where Nature moves: None, or a\n"
     "fractions.Fraction from 0 to 1, kept exactly. Set it to an int, Fraction, Decimal, float\n"
     "(read by its repr: 0.1 is 1/10) or str (\"0.25\", \"1/3\"); drawings show it as written.",
     nullptr},
    {"payoff", Decision_get_payoff, Decision_set_payoff,
     "What this node pays each player: None, a list of numbers (int, or Fraction for the\n"
     "others) or a list of Variables. Set it to a list of numbers in any form that probability\n"
     "takes, of any sign, or of Variables (copied); deleting it sets None.",
     nullptr},
    {},
};

PyMethodDef decision_methods[] = {
    {"add_node", as_method(Decision_add_node), METH_FASTCALL | METH_KEYWORDS,
     "add_node($self, other)\n--\n\n"},
    {"add_nodes", as_method(Decision_add_nodes), METH_FASTCALL | METH_KEYWORDS,
     "add_nodes($self, *args)\n--\n\n"},
    {},
};

PyType_Slot decision_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Decision_constructor::tp_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(release_node)},
    {Py_tp_alloc, reinterpret_cast<void*>(pool::allocate_node)},
    {Py_tp_free, reinterpret_cast<void*>(pool::free_node)},
    {Py_tp_getset, decision_getset},
    {Py_tp_methods, decision_methods},
    {Py_nb_add, reinterpret_cast<void*>(Decision_add)},
    {Py_tp_str, reinterpret_cast<void*>(Decision_str)},
    {0, nullptr},
};

ClassDef decision_class{"Decision",
                        "kelvora.Decision",
                        "(player, name, utility=None, variable=None, information_set=None)",
                        sizeof(Cell<Decision>),
                        decision_slots,
                        nullptr,
                        0,
                        Decision_constructor::vectorcall};

}  // namespace

Ref new_node(Player player, Text name, std::optional<std::span<const std::int32_t>> numbers,
             std::optional<Symbolic> variables, std::optional<std::uint64_t> information_set) {
  Ref node = wrap(make_node(std::move(player), std::move(name), std::move(numbers),
                            std::move(variables), information_set));
  new_value<Decision>(node).node_id = next_node_id();
  return node;
}

template <>
ClassDef& class_def<Player>() {
  return player_class;
}

template <>
ClassDef& class_def<Decision>() {
  return decision_class;
}

}  // namespace kelvora
