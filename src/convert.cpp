// Conversions between Python objects and native values.
#include "convert.hpp"

#include <cmath>
#include <limits>

namespace kelvora {
namespace {

// PyNumber_Index, with the failure as an Error.
Ref index_of(PyObject* obj) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) throw Error::fetch();
  return index;
}

}  // namespace

std::string to_text(PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw Error::mismatch(obj, "PyString");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) throw Error::fetch();
  return std::string(data, size);
}

namespace {

// An exact int of more than one digit as a signed 32-bit integer.
[[gnu::noinline]] std::int32_t wide_int_to_i32(PyObject* num) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(num, &overflow);
  if (value == -1 && PyErr_Occurred()) throw Error::fetch();
  if (overflow > 0 || value > std::numeric_limits<std::int32_t>::max()) {
    throw Error::with_message(PyExc_OverflowError,
                              "Python int too large to convert to a signed 32-bit integer");
  }
  if (overflow < 0 || value < std::numeric_limits<std::int32_t>::min()) {
    throw Error::with_message(PyExc_OverflowError,
                              "Python int too small to convert to a signed 32-bit integer");
  }
  return static_cast<std::int32_t>(value);
}

// An exact int as a signed 32-bit integer. One digit always fits, and is read in place.
inline std::int32_t int_to_i32(PyObject* num) {
#if PY_VERSION_HEX >= 0x030C0000
  auto* value = reinterpret_cast<PyLongObject*>(num);
  if (PyUnstable_Long_IsCompact(value)) {
    return static_cast<std::int32_t>(PyUnstable_Long_CompactValue(value));
  }
#else
  const Py_ssize_t digits = Py_SIZE(num);
  if (digits == 0) return 0;
  if (digits == 1 || digits == -1) {
    static_assert(PyLong_SHIFT < 31, "a digit fits a signed 32-bit integer");
    const auto digit = static_cast<std::int32_t>(reinterpret_cast<PyLongObject*>(num)->ob_digit[0]);
    return digits == 1 ? digit : -digit;
  }
#endif
  return wide_int_to_i32(num);
}

}  // namespace

std::int32_t to_i32(PyObject* obj) {
  // An int is its own index: skip the call that would hand it back.
  if (PyLong_CheckExact(obj)) return int_to_i32(obj);
  return int_to_i32(index_of(obj).get());
}

void to_i32_list(PyObject* obj, Int32List& out) {
  // An exact int converts without running Python code, so neither it nor the list can change
  // meanwhile, and it is read without a reference of its own. The length is read again before
  // each item, as converting another item can change a list.
  auto fill = [&](auto size, auto item) {
    out.reserve(std::min(static_cast<std::size_t>(size()), detail::max_reserved_items));
    for (Py_ssize_t i = 0; i < size(); ++i) {
      PyObject* next = item(i);
      out.push_back(PyLong_CheckExact(next) ? int_to_i32(next) : to_i32(Ref::borrow(next).get()));
    }
  };
  if (PyList_CheckExact(obj)) {
    fill([&] { return PyList_GET_SIZE(obj); },
         [&](Py_ssize_t i) { return PyList_GET_ITEM(obj, i); });
  } else if (PyTuple_CheckExact(obj)) {
    fill([&] { return PyTuple_GET_SIZE(obj); },
         [&](Py_ssize_t i) { return PyTuple_GET_ITEM(obj, i); });
  } else {
    out = to_list<Int32List>(obj, to_i32);
  }
}

std::int64_t to_i64(PyObject* obj) {
  Ref index = PyLong_CheckExact(obj) ? Ref::borrow(obj) : index_of(obj);
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) throw Error::fetch();
  return value;
}

std::uint64_t to_u64(PyObject* obj) {
  Ref index = PyLong_CheckExact(obj) ? Ref::borrow(obj) : index_of(obj);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw Error::fetch();
  return value;
}

float narrow_to_float(double value) noexcept {
  constexpr double float_max = std::numeric_limits<float>::max();
  // Halfway between the largest float and 2^128: from here on, rounding gives infinity.
  constexpr double overflow_edge = 0x1.ffffffp127;
  if (std::isnan(value)) return std::copysign(std::numeric_limits<float>::quiet_NaN(), value);
  if (std::fabs(value) >= overflow_edge) {
    return std::copysign(std::numeric_limits<float>::infinity(), value);
  }
  if (std::fabs(value) > float_max) return std::copysign(std::numeric_limits<float>::max(), value);
  return static_cast<float>(value);
}

float to_f32(PyObject* obj) {
  double value;
  if (PyFloat_CheckExact(obj)) {
    value = PyFloat_AS_DOUBLE(obj);
  } else {
    value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) throw Error::fetch();
  }
  return narrow_to_float(value);
}

namespace detail {

Ref list_iterator(PyObject* obj, std::size_t& hint) {
  if (PyUnicode_Check(obj)) {
    throw Error::with_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
  }
  if (!PySequence_Check(obj)) throw Error::mismatch(obj, "Sequence");
  const Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) {
    discard_error();
    hint = 0;
  } else {
    hint = std::min(static_cast<std::size_t>(size), max_reserved_items);
  }
  Ref iter = Ref::steal(PyObject_GetIter(obj));
  if (!iter) throw Error::fetch();
  return iter;
}

}  // namespace detail

Ref none() { return Ref::borrow(Py_None); }

Ref to_py(std::string_view text) {
  Ref str = Ref::steal(PyUnicode_FromStringAndSize(text.data(), text.size()));
  if (!str) throw Error::fetch();
  return str;
}

Ref to_py(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

Ref to_py(std::int64_t value) {
  Ref num = Ref::steal(PyLong_FromLongLong(value));
  if (!num) throw Error::fetch();
  return num;
}

Ref to_py(std::uint64_t value) {
  Ref num = Ref::steal(PyLong_FromUnsignedLongLong(value));
  if (!num) throw Error::fetch();
  return num;
}

Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

}  // namespace kelvora
