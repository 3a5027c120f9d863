// Matching a call's arguments to the parameters of a callable, from a static description.
#pragma once

#include <array>
#include <cstddef>

#include "entry.hpp"
#include "error.hpp"

namespace kelvora {

struct KeywordOnly {
  const char* name;
  bool required;
};

// The parameters of one callable. Every positional parameter may also be given by keyword,
// unless it is among the first `positional_only`.
struct CallSpec {
  const char* class_name;  // null for a module-level function
  const char* function;    // "__new__" for constructors
  const char* const* positional;
  std::size_t positional_count;
  std::size_t positional_only;
  std::size_t required;
  const KeywordOnly* keyword_only = nullptr;
  std::size_t keyword_only_count = 0;
  bool collect_surplus = false;  // surplus positionals form a tuple instead of an error

  // The slot names as interned strings, made on the first call with keywords. A call site's
  // keyword names are interned too, so a keyword is almost always found by its address before
  // any text is compared. Callables with more slots compare texts only.
  static constexpr std::size_t interned_capacity = 8;
  mutable std::array<PyObject*, interned_capacity> interned{};

  // Whether a call may leave out every argument: unknown (-1) until the first call without any
  // asks, then 0 or 1.
  mutable signed char optional = -1;

  std::size_t slot_count() const { return positional_count + keyword_only_count; }
  // Whether a call may leave out every argument.
  bool all_optional() const {
    if (optional < 0) {
      optional = required == 0 && !collect_surplus;
      for (std::size_t i = 0; i < keyword_only_count; ++i) {
        if (keyword_only[i].required) optional = 0;
      }
    }
    return optional != 0;
  }
};

// The arguments of a call, matched to parameter slots (positional parameters first, then
// keyword-only ones). Slots hold borrowed references; an empty slot is null.
template <std::size_t N>
struct Matched {
  std::array<PyObject*, N> slot{};
  Ref surplus;  // the tuple of surplus positionals, when the callable collects them
};

namespace detail {
// Fills `slots` (spec.slot_count() entries, all null on entry) and `surplus`; throws the
// TypeError of the first mismatch. Keywords come from `kwargs` (a dict, or null) or from
// `kwnames` (a tuple naming the values that follow the positionals in `args`).
void match(const CallSpec& spec, PyObject* const* args, std::size_t nargs, PyObject* kwargs,
           PyObject* kwnames, PyObject** slots, Ref& surplus);
}  // namespace detail

// Matches the arguments of a constructor slot (positional tuple, keyword dict or null).
template <std::size_t N>
Matched<N> match_new(const CallSpec& spec, PyObject* args, PyObject* kwargs) {
  Matched<N> m;
  detail::match(spec, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kwargs, nullptr,
                m.slot.data(), m.surplus);
  return m;
}

// Matches the arguments of a METH_FASTCALL | METH_KEYWORDS method.
template <std::size_t N>
Matched<N> match_fast(const CallSpec& spec, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) {
  Matched<N> m;
  // A call without arguments (the common one for many methods) has nothing to match.
  if (PyVectorcall_NARGS(nargsf) == 0 && kwnames == nullptr && spec.all_optional()) return m;
  detail::match(spec, args, PyVectorcall_NARGS(nargsf), nullptr, kwnames, m.slot.data(), m.surplus);
  return m;
}

// A constructor in both of CPython's calling conventions: `make(type, matched)` serves the
// tp_new slot (a tuple and a dict of arguments) and the class's vectorcall (an array and a
// tuple of keyword names, with nothing built per call). Both match the arguments the same way.
template <std::size_t N, const CallSpec& spec, Ref (*make)(PyTypeObject*, Matched<N>&)>
struct Constructor {
  static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
      Matched<N> matched = match_new<N>(spec, args, kwargs);
      return make(type, matched);
    });
  }
  static PyObject* vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                              PyObject* kwnames) {
    return entry([&] {
      Matched<N> matched = match_fast<N>(spec, args, static_cast<Py_ssize_t>(nargsf), kwnames);
      return make(reinterpret_cast<PyTypeObject*>(type), matched);
    });
  }
};

}  // namespace kelvora
