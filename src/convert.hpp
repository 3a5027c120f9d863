// Conversions between Python objects and native values, in both directions.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "args.hpp"
#include "error.hpp"

namespace kelvora {

// --- Python to native. Each throws the Error of a failed conversion. ---

// A str (or subclass) as UTF-8; lone surrogates fail with UnicodeEncodeError.
std::string to_text(PyObject* obj);
// Anything with __index__; out of range fails with OverflowError.
std::int32_t to_i32(PyObject* obj);
std::int64_t to_i64(PyObject* obj);
std::uint64_t to_u64(PyObject* obj);
// A float, or anything float() accepts through __float__ / __index__, rounded to single
// precision (beyond its range: an infinity).
float to_f32(PyObject* obj);
// Rounds a double to the nearest float; values beyond the float range become infinities.
float narrow_to_float(double value) noexcept;

namespace detail {
// Checks that `obj` may be read as a list (a str may not) and returns its iterator; `hint`
// gets the expected length, or 0 when it cannot be had.
Ref list_iterator(PyObject* obj, std::size_t& hint);
// At most this many list items are reserved up front: the length is only a hint.
constexpr std::size_t max_reserved_items = 1 << 16;
}  // namespace detail

// A list of signed 32-bit integers that keeps a few inside: most payoffs are a pair, and they
// need no heap block on their way into a node.
class Int32List {
 public:
  // Room for `count` items, made at once when they do not fit inside.
  void reserve(std::size_t count) {
    if (count > local_.size()) heap_.reserve(count);
  }
  void push_back(std::int32_t value) {
    if (heap_.capacity() == 0 && size_ < local_.size()) {
      local_[size_++] = value;
      return;
    }
    if (heap_.empty()) heap_.assign(local_.begin(), local_.begin() + size_);
    heap_.push_back(value);
  }
  std::span<const std::int32_t> view() const noexcept {
    if (heap_.empty()) return {local_.data(), size_};
    return heap_;
  }

 private:
  std::array<std::int32_t, 4> local_{};
  std::size_t size_ = 0;  // of local_
  std::vector<std::int32_t> heap_;
};

// A sequence (not a str) whose items are read through the iterator protocol and converted
// one by one with `item`, into an `Out` (a std::vector, or anything with its reserve and
// push_back).
template <class Out, class Item>
Out to_list(PyObject* obj, Item&& item) {
  Out out;
  if (PyList_CheckExact(obj)) {
    // What the list's own iterator would do, without its calls: the length is read again
    // before each item, as converting an item can run code that changes the list.
    out.reserve(
        std::min(static_cast<std::size_t>(PyList_GET_SIZE(obj)), detail::max_reserved_items));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
      Ref next = Ref::borrow(PyList_GET_ITEM(obj, i));
      out.push_back(item(next.get()));
    }
    return out;
  }
  if (PyTuple_CheckExact(obj)) {
    // The same for a tuple, which cannot change and holds its items for the caller.
    const Py_ssize_t size = PyTuple_GET_SIZE(obj);
    out.reserve(std::min(static_cast<std::size_t>(size), detail::max_reserved_items));
    for (Py_ssize_t i = 0; i < size; ++i) out.push_back(item(PyTuple_GET_ITEM(obj, i)));
    return out;
  }
  std::size_t hint = 0;
  Ref iter = detail::list_iterator(obj, hint);
  out.reserve(hint);
  while (Ref next = Ref::steal(PyIter_Next(iter.get()))) out.push_back(item(next.get()));
  if (PyErr_Occurred()) throw Error::fetch();
  return out;
}

template <class Item>
auto to_list(PyObject* obj, Item&& item) {
  return to_list<std::vector<decltype(item(obj))>>(obj, item);
}

// to_list(obj, to_i32) into `out` (empty on entry), with the ints of a list or tuple read in
// place. Filled where it lies: copying a list just written costs more than converting it.
void to_i32_list(PyObject* obj, Int32List& out);

// Converts argument `index` of a matched call with `convert`; a TypeError gains the prefix
// "argument '<name>': ".
template <class Convert>
auto argument(const CallSpec& spec, std::size_t index, PyObject* obj, Convert&& convert)
    -> decltype(convert(obj)) {
  try {
    return convert(obj);
  } catch (Error& err) {
    throw std::move(err).with_argument_prefix(
        index < spec.positional_count ? spec.positional[index]
                                      : spec.keyword_only[index - spec.positional_count].name);
  }
}

// Whether an optional parameter has a value: absent or None is nothing.
inline bool given(PyObject* obj) { return obj != nullptr && obj != Py_None; }

// `argument` for an optional parameter, whose nothing is not converted.
template <class Convert>
auto optional_argument(const CallSpec& spec, std::size_t index, PyObject* obj, Convert&& convert)
    -> std::optional<decltype(convert(obj))> {
  if (!given(obj)) return std::nullopt;
  return argument(spec, index, obj, convert);
}

// --- Native to Python. Each returns a new reference or throws. ---

Ref none();
Ref to_py(std::string_view text);
Ref to_py(bool value);
Ref to_py(std::int64_t value);
Ref to_py(std::uint64_t value);

// A new list of exactly `values.size()` items, each made by `item`.
template <class T, class Item>
Ref to_py_list(const std::vector<T>& values, Item&& item) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) throw Error::fetch();
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), i, item(values[i]).release());
  }
  return list;
}

Ref not_implemented();

}  // namespace kelvora
