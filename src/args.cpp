// Argument matching and the TypeError texts of argument mismatches.
#include "args.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kelvora::detail {
namespace {

std::string full_name(const CallSpec& spec) {
  if (spec.class_name == nullptr) return concat({spec.function, "()"});
  return concat({spec.class_name, ".", spec.function, "()"});
}

[[noreturn]] void fail(std::string message) {
  throw Error::with_message(PyExc_TypeError, std::move(message));
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) out += ",";
      out += i + 1 == names.size() ? " and " : " ";
    }
    out += "'";
    out += names[i];
    out += "'";
  }
  return out;
}

[[noreturn]] void too_many(const CallSpec& spec, std::size_t given) {
  std::string message = full_name(spec);
  if (spec.required == spec.positional_count) {
    message += " takes " + std::to_string(spec.positional_count);
  } else {
    message += " takes from " + std::to_string(spec.required) + " to " +
               std::to_string(spec.positional_count);
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was given" : " were given");
  fail(std::move(message));
}

[[noreturn]] void missing(const CallSpec& spec, const char* kind,
                          const std::vector<const char*>& names) {
  fail(full_name(spec) + " missing " + std::to_string(names.size()) + " required " + kind +
       (names.size() == 1 ? " argument: " : " arguments: ") + name_list(names));
}

const char* slot_name(const CallSpec& spec, std::size_t slot) {
  return slot < spec.positional_count ? spec.positional[slot]
                                      : spec.keyword_only[slot - spec.positional_count].name;
}

// Makes the interned slot names of `spec`; null when they cannot be had (too many slots, or no
// memory), and the texts are compared instead.
[[gnu::noinline]] PyObject* const* intern_names(const CallSpec& spec) {
  const std::size_t count = spec.slot_count();
  if (count == 0 || count > CallSpec::interned_capacity) return nullptr;
  std::array<PyObject*, CallSpec::interned_capacity> made{};
  for (std::size_t i = 0; i < count; ++i) {
    made[i] = PyUnicode_InternFromString(slot_name(spec, i));
    if (made[i] == nullptr) {
      discard_error();
      for (PyObject* name : made) Py_XDECREF(name);
      return nullptr;
    }
  }
  spec.interned = made;
  return spec.interned.data();
}

PyObject* const* interned_names(const CallSpec& spec) {
  return spec.interned[0] != nullptr ? spec.interned.data() : intern_names(spec);
}

// The slot that a keyword names, or -1. A name that is not valid UTF-8 names nothing.
std::ptrdiff_t find_keyword(const CallSpec& spec, PyObject* name) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name, &size);
  if (text == nullptr) {
    discard_error();
    return -1;
  }
  auto same = [&](const char* param) {
    return std::strlen(param) == static_cast<std::size_t>(size) &&
           std::memcmp(param, text, size) == 0;
  };
  for (std::size_t i = 0; i < spec.keyword_only_count; ++i) {
    if (same(spec.keyword_only[i].name)) return spec.positional_count + i;
  }
  for (std::size_t i = 0; i < spec.positional_count; ++i) {
    if (same(spec.positional[i])) return i;
  }
  return -1;
}

// The slot of a keyword that is not one of the interned names: found by its text, or the
// failure of a name that is no str or names no parameter. Kept out of line, so that the usual
// call pays nothing for these paths.
[[gnu::noinline]] std::size_t keyword_by_text(const CallSpec& spec, PyObject* name) {
  if (!PyUnicode_Check(name)) throw Error::mismatch(name, "PyString");
  const std::ptrdiff_t slot = find_keyword(spec, name);
  if (slot < 0) {
    fail(full_name(spec) + " got an unexpected keyword argument '" + text_of(name) + "'");
  }
  return static_cast<std::size_t>(slot);
}

[[noreturn, gnu::noinline]] void multiple_values(const CallSpec& spec, std::size_t slot) {
  fail(full_name(spec) + " got multiple values for argument '" + slot_name(spec, slot) + "'");
}

}  // namespace

void match(const CallSpec& spec, PyObject* const* args, std::size_t nargs, PyObject* kwargs,
           PyObject* kwnames, PyObject** slots, Ref& surplus) {
  const std::size_t positional = std::min(nargs, spec.positional_count);
  for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i];

  if (spec.collect_surplus) {
    const std::size_t extra = nargs - positional;
    surplus = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(extra)));
    if (!surplus) throw Error::fetch();
    for (std::size_t i = 0; i < extra; ++i) {
      PyTuple_SET_ITEM(surplus.get(), i, Py_NewRef(args[positional + i]));
    }
  } else if (nargs > spec.positional_count) {
    too_many(spec, nargs);
  }

  std::vector<const char*> positional_only_by_keyword;
  PyObject* const* interned = nullptr;
  auto take_keyword = [&](PyObject* name, PyObject* value) {
    std::size_t slot = 0;
    const std::size_t count = interned != nullptr ? spec.slot_count() : 0;
    while (slot < count && interned[slot] != name) ++slot;
    if (slot == count) slot = keyword_by_text(spec, name);
    if (slot < spec.positional_only) {
      positional_only_by_keyword.push_back(spec.positional[slot]);
      return;
    }
    if (slots[slot] != nullptr) multiple_values(spec, slot);
    slots[slot] = value;
  };
  if (kwargs != nullptr) {
    interned = interned_names(spec);
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) take_keyword(name, value);
  } else if (kwnames != nullptr) {
    interned = interned_names(spec);
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      take_keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
    }
  }

  if (!positional_only_by_keyword.empty()) {
    fail(full_name(spec) + " got some positional-only arguments passed as keyword arguments: " +
         name_list(positional_only_by_keyword));
  }

  std::vector<const char*> absent;
  for (std::size_t i = 0; i < spec.required; ++i) {
    if (slots[i] == nullptr) absent.push_back(spec.positional[i]);
  }
  if (!absent.empty()) missing(spec, "positional", absent);
  for (std::size_t i = 0; i < spec.keyword_only_count; ++i) {
    const std::size_t slot = spec.positional_count + i;
    if (spec.keyword_only[i].required && slots[slot] == nullptr) {
      absent.push_back(spec.keyword_only[i].name);
    }
  }
  if (!absent.empty()) missing(spec, "keyword", absent);
}

}  // namespace kelvora::detail
