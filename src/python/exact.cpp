// Reading exact numbers from the forms Python gives them in, and making ints and Fractions of
// them. Only exact ints, floats and strs and instances of Fraction and Decimal (or of their
// subclasses) are read; nothing is converted through __index__ or __float__.
#include "python/exact.hpp"

#include <cmath>
#include <string>

#include "error.hpp"

namespace kelvora {
namespace {

// repr(obj), cut short, or a description of it when repr fails.
std::string describe(PyObject* obj) {
  Ref repr = Ref::steal(PyObject_Repr(obj));
  if (!repr) {
    Error err = Error::fetch();
    if (err.is(PyExc_MemoryError)) throw err;
    const std::optional<std::string> type = qualname_of(Py_TYPE(obj));
    return concat({"a '", type.value_or("?"), "' object"});
  }
  std::string text = utf8_lossy(repr.get());
  if (text.size() > 80) text.replace(77, std::string::npos, "...");
  return text;
}

const char* expected(const ExactTarget& target) {
  return target.probability
             ? "expected a number from 0 to 1 (an int, Fraction, Decimal, float or a str such "
               "as \"0.25\" or \"1/3\")"
             : "expected a number (an int, Fraction, Decimal, float or a str such as \"1.5\" or "
               "\"-3/2\") or a Variable";
}

[[noreturn]] void refuse(PyObject* type, PyObject* obj, const ExactTarget& target,
                         std::string_view why = {}) {
  throw Error::with_message(
      type, concat({target.name, ": ", expected(target), why, ", got ", describe(obj)}));
}

// Whether `obj` is an instance of module.name, without running Python code: a module that was
// never imported has no instances.
bool instance_of(PyObject* obj, const char* module, const char* name) {
  Ref module_name = Ref::steal(PyUnicode_FromString(module));
  if (!module_name) throw Error::fetch();
  Ref mod = Ref::steal(PyImport_GetModule(module_name.get()));
  if (!mod) {
    if (PyErr_Occurred()) throw Error::fetch();
    return false;
  }
  Ref type = Ref::steal(PyObject_GetAttrString(mod.get(), name));
  if (!type) throw Error::fetch();
  return PyType_Check(type.get()) &&
         PyType_IsSubtype(Py_TYPE(obj), reinterpret_cast<PyTypeObject*>(type.get()));
}

// An int's sign and magnitude; false when the magnitude needs more than 64 bits.
bool int_parts(PyObject* value, bool& negative, std::uint64_t& magnitude) {
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (small == -1 && PyErr_Occurred()) throw Error::fetch();
  if (overflow == 0) {
    negative = small < 0;
    magnitude = negative ? 0ull - static_cast<unsigned long long>(small)
                         : static_cast<unsigned long long>(small);
    return true;
  }
  negative = overflow < 0;
  Ref positive = Ref::steal(negative ? PyNumber_Negative(value) : Ref::borrow(value).release());
  if (!positive) throw Error::fetch();
  magnitude = PyLong_AsUnsignedLongLong(positive.get());
  if (magnitude == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) {
    Error err = Error::fetch();
    if (!err.is(PyExc_OverflowError)) throw err;
    return false;
  }
  return true;
}

std::string_view beyond = " whose numerator and denominator are below 2**64";

// The error that Python code of `obj`'s class raised while it was read: a TypeError naming the
// target, with that error as its cause (MemoryError passes as itself).
[[noreturn]] void refuse_failed(const ExactTarget& target, std::string_view what) {
  Error err = Error::fetch();
  if (err.is(PyExc_MemoryError)) throw err;
  Error refused = Error::with_message(
      PyExc_TypeError, concat({target.name, ": ", expected(target), ", got ", what}));
  refused.set_cause(std::move(err).into_value());
  throw refused;
}

// A part of a Fraction, which must be an int.
void fraction_part(PyObject* obj, const char* part, const ExactTarget& target, bool& negative,
                   std::uint64_t& magnitude) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, part));
  if (!value) refuse_failed(target, concat({"a Fraction whose ", part, " cannot be read"}));
  if (!PyLong_Check(value.get()) || PyBool_Check(value.get())) refuse(PyExc_TypeError, obj, target);
  if (!int_parts(value.get(), negative, magnitude)) refuse(PyExc_ValueError, obj, target, beyond);
}

Exact parse(std::string_view text, PyObject* obj, const ExactTarget& target) {
  ParsedExact parsed = parse_exact(text);
  if (!parsed.value) {
    refuse(PyExc_ValueError, obj, target,
           parsed.problem == ExactProblem::too_large ? beyond : std::string_view{});
  }
  return std::move(*parsed.value);
}

Exact read(PyObject* obj, const ExactTarget& target) {
  if (PyBool_Check(obj)) refuse(PyExc_TypeError, obj, target);
  if (PyLong_Check(obj)) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!int_parts(obj, negative, magnitude)) refuse(PyExc_ValueError, obj, target, beyond);
    return *exact_fraction(negative, magnitude, 1);
  }
  if (PyFloat_Check(obj)) {
    const double value = PyFloat_AS_DOUBLE(obj);
    if (!std::isfinite(value)) refuse(PyExc_ValueError, obj, target);
    // The shortest text that reads back as the same double: 0.1 is 1/10.
    char* text = PyOS_double_to_string(value, 'r', 0, 0, nullptr);
    if (text == nullptr) throw Error::fetch();
    std::string copy;
    try {
      copy = text;
    } catch (...) {
      PyMem_Free(text);
      throw;
    }
    PyMem_Free(text);
    return parse(copy, obj, target);
  }
  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
      Error err = Error::fetch();
      if (err.is(PyExc_MemoryError)) throw err;
      refuse(PyExc_ValueError, obj, target);
    }
    return parse(std::string_view(data, static_cast<std::size_t>(size)), obj, target);
  }
  if (instance_of(obj, "fractions", "Fraction")) {
    bool negative = false, below_negative = false;
    std::uint64_t n = 0, d = 0;
    fraction_part(obj, "numerator", target, negative, n);
    fraction_part(obj, "denominator", target, below_negative, d);
    if (below_negative || d == 0) refuse(PyExc_ValueError, obj, target);
    return *exact_fraction(negative, n, d);
  }
  if (instance_of(obj, "decimal", "Decimal")) {
    // str() of a Decimal is exact, in scientific notation for large exponents.
    Ref text = Ref::steal(PyObject_Str(obj));
    if (!text) refuse_failed(target, "a Decimal whose str() fails");
    if (!PyUnicode_Check(text.get())) refuse(PyExc_TypeError, obj, target);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data == nullptr) throw Error::fetch();
    return parse(std::string_view(data, static_cast<std::size_t>(size)), obj, target);
  }
  refuse(PyExc_TypeError, obj, target);
}

}  // namespace

Exact to_exact(PyObject* obj, const ExactTarget& target) {
  Exact number = read(obj, target);
  if (target.probability && (number.negative || number.compare(1, 1) > 0)) {
    refuse(PyExc_ValueError, obj, target);
  }
  return number;
}

Ref exact_to_py(const Exact& number, bool integers) {
  Ref numerator = Ref::steal(PyLong_FromUnsignedLongLong(number.numerator));
  if (!numerator) throw Error::fetch();
  if (number.negative) {
    numerator = Ref::steal(PyNumber_Negative(numerator.get()));
    if (!numerator) throw Error::fetch();
  }
  if (integers && number.is_integer()) return numerator;
  Ref denominator = Ref::steal(PyLong_FromUnsignedLongLong(number.denominator));
  if (!denominator) throw Error::fetch();
  Ref module = Ref::steal(PyImport_ImportModule("fractions"));
  if (!module) throw Error::fetch();
  Ref fraction = Ref::steal(PyObject_GetAttrString(module.get(), "Fraction"));
  if (!fraction) throw Error::fetch();
  Ref value = Ref::steal(
      PyObject_CallFunctionObjArgs(fraction.get(), numerator.get(), denominator.get(), nullptr));
  if (!value) throw Error::fetch();
  return value;
}

}  // namespace kelvora
