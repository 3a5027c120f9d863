// The Python class Equilibrium, and solving a game from Python.
#include "python/solution.hpp"

#include <climits>

#include "check/validate.hpp"
#include "convert.hpp"
#include "entry.hpp"
#include "python/exact.hpp"
#include "python/game.hpp"
#include "python/variable.hpp"
#include "solve/solve.hpp"

namespace kelvora {
namespace {

Ref tuple_of(std::vector<Ref> items) {
  Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) throw Error::fetch();
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, items[i].release());
  }
  return tuple;
}

Ref payoff_entry(const solve::Equilibrium::Entry& entry) {
  if (entry.is_variable) return wrap(Variable(entry.variable));
  const solve::Number& n = entry.number;
  const std::optional<Exact> exact = exact_fraction(n.negative, n.numerator, n.denominator);
  return exact_to_py(*exact, true);
}

// The Equilibrium object of a solved equilibrium. Its nodes are held already, so the Python
// code that making objects can run (the garbage collector) cannot free them.
Ref make_solution(solve::Equilibrium& found) {
  std::vector<Ref> payoff;
  for (const solve::Equilibrium::Entry& entry : found.payoff) payoff.push_back(payoff_entry(entry));
  Ref choices = Ref::steal(PyDict_New());
  if (!choices) throw Error::fetch();
  for (const auto& [node, child] : found.choices) {
    if (PyDict_SetItem(choices.get(), node.get(), child.get()) < 0) throw Error::fetch();
  }
  Ref proxy = Ref::steal(PyDictProxy_New(choices.get()));
  if (!proxy) throw Error::fetch();
  return wrap(
      Solution{tuple_of(std::move(payoff)), tuple_of(std::move(found.path)), std::move(proxy)});
}

// `limit` as a count of at least 1; a count beyond the machine's is no limit.
std::size_t to_limit(PyObject* obj) {
  const char* accepts = "argument 'limit': expected an int of at least 1, got ";
  if (!PyLong_Check(obj) || PyBool_Check(obj)) {
    throw Error::with_message(PyExc_TypeError, concat({accepts, Py_TYPE(obj)->tp_name}));
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) throw Error::fetch();
  if (overflow > 0) return SIZE_MAX;
  if (overflow < 0 || value < 1) {
    Ref text = Ref::steal(PyObject_Repr(obj));
    if (!text) throw Error::fetch();
    throw Error::with_message(PyExc_ValueError, concat({accepts, to_text(text.get())}));
  }
  return static_cast<std::size_t>(value);
}

constexpr const char* backward_induction_params[] = {"limit"};
constexpr CallSpec backward_induction_spec{
    "Game", "backward_induction", backward_induction_params, 1, 0, 0};

PyObject* Solution_get_payoff(PyObject* self, void*) {
  return entry([&] { return shared<Solution>(self)->payoff.copy(); });
}

PyObject* Solution_get_path(PyObject* self, void*) {
  return entry([&] { return shared<Solution>(self)->path.copy(); });
}

PyObject* Solution_get_choices(PyObject* self, void*) {
  return entry([&] { return shared<Solution>(self)->choices.copy(); });
}

// "Equilibrium(payoff=(1, 0), path=['In', 'Accommodate'])": the payoff (a variable by its
// name), and the actions that lead to the nodes of the path below the root.
PyObject* Solution_repr(PyObject* self) {
  return entry([&] {
    Ref payoff, path;
    {
      auto solution = shared<Solution>(self);
      payoff = solution->payoff.copy();
      path = solution->path.copy();
    }
    std::vector<std::string> names;
    for (Py_ssize_t i = 1; i < PyTuple_GET_SIZE(path.get()); ++i) {
      names.push_back(std::string(read_node(PyTuple_GET_ITEM(path.get(), i)).name.view()));
    }
    Ref list = to_py_list(names, [](const std::string& name) { return to_py(name); });
    std::string text = "Equilibrium(payoff=(";
    const Py_ssize_t size = PyTuple_GET_SIZE(payoff.get());
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* item = PyTuple_GET_ITEM(payoff.get(), i);
      if (i > 0) text += ", ";
      if (is_instance<Variable>(item)) {
        text += shared<Variable>(item)->name;
      } else {
        Ref shown = Ref::steal(PyObject_Repr(item));
        if (!shown) throw Error::fetch();
        text += to_text(shown.get());
      }
    }
    Ref path_text = Ref::steal(PyObject_Repr(list.get()));
    if (!path_text) throw Error::fetch();
    text += concat({size == 1 ? ",), path=" : "), path=", to_text(path_text.get()), ")"});
    return to_py(text);
  });
}

PyGetSetDef solution_getset[] = {
    {"payoff", Solution_get_payoff, nullptr,
     "The expected payoff of the play, one entry per player: int, Fraction or Variable.", nullptr},
    {"path", Solution_get_path, nullptr,
     "The nodes reached with positive probability, root first, in pre-order.", nullptr},
    {"choices", Solution_get_choices, nullptr,
     "A read-only mapping from every node where a player moves to the child chosen there.",
     nullptr},
    {},
};

PyType_Slot solution_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Solution>)},
    {Py_tp_getset, solution_getset},
    {Py_tp_repr, reinterpret_cast<void*>(Solution_repr)},
    {0, nullptr},
};

ClassDef solution_class{"Equilibrium", "kelvora.Equilibrium", nullptr, sizeof(Cell<Solution>),
                        solution_slots};

}  // namespace

PyObject* Game_backward_induction(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                  PyObject* kwnames) {
  return entry([&]() -> Ref {
    const CallSpec& spec = backward_induction_spec;
    auto matched = match_fast<1>(spec, args, nargsf, kwnames);
    const std::size_t limit = matched.slot[0] != nullptr ? to_limit(matched.slot[0]) : 100;
    std::vector<solve::Equilibrium> found;
    {
      auto game = shared<Game>(self);
      const check::Problems problems = check::validate(*game);
      if (problems.count > 0) {
        throw Error::with_message(PyExc_ValueError, check::describe(problems));
      }
      try {
        found = solve::backward_induction(*game, problems, limit);
      } catch (const solve::Refusal& refusal) {
        throw Error::with_message(refusal.overflow() ? PyExc_OverflowError : PyExc_ValueError,
                                  refusal.what());
      }
    }
    std::vector<Ref> solutions;
    solutions.reserve(found.size());
    for (solve::Equilibrium& equilibrium : found) {
      solutions.push_back(make_solution(equilibrium));
      equilibrium = solve::Equilibrium();  // its nodes are held by the object now
    }
    return to_py_list(solutions, [](const Ref& item) { return item.copy(); });
  });
}

Ref chosen_children(PyObject* obj) {
  if (!is_instance<Solution>(obj)) return Ref();
  Ref choices = shared<Solution>(obj)->choices.copy();
  Ref values = Ref::steal(PyMapping_Values(choices.get()));
  if (!values) throw Error::fetch();
  return values;
}

template <>
ClassDef& class_def<Solution>() {
  return solution_class;
}

}  // namespace kelvora
