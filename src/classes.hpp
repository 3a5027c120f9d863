// Python classes over native records: type objects made on first need, the checked access to
// an instance's cell (cell.hpp) and the conversions between instances and records.
#pragma once

#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "cell.hpp"
#include "error.hpp"

namespace kelvora {

// A class attribute: made once, when the type object is made, and stored on the type.
struct ClassAttr {
  const char* name;
  Ref (*make)();
};

// Everything needed to make one class's type object, plus the cell that keeps it.
struct ClassDef {
  const char* name;            // bare class name, as CPython's messages show it
  const char* qualified_name;  // "kelvora.<name>", from which CPython takes __module__
  const char* text_signature;  // constructor signature, or null for a class without doc
  int basic_size;
  PyType_Slot* slots;  // ended by {0, nullptr}; without Py_tp_new, calling the class fails
  const ClassAttr* attrs = nullptr;
  std::size_t attr_count = 0;
  // Calls of the class that skip the argument tuple and dict (see `Constructor`), or null.
  vectorcallfunc vectorcall = nullptr;

  // Filled on first need and kept for the life of the process.
  PyTypeObject* type = nullptr;
  bool attrs_stored = false;
  bool storing_attrs = false;
};

// The ClassDef of the Python class holding records of type T (defined beside each class).
template <class T>
ClassDef& class_def();

// Returns the type object, making it on first call; throws the Error of a failed making.
PyTypeObject* get_or_make_type(ClassDef& def);
// The same for operations: a failure is printed and becomes a Fault.
PyTypeObject* type_object(ClassDef& def);

// A method of any fast-call signature as the PyCFunction that PyMethodDef stores.
template <class Fn>
PyCFunction as_method(Fn* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// Makes the class's type object (a failure becomes RuntimeError "An error occurred while
// initializing class <name>"), appends its name to the module's __all__ and binds it.
void register_class(PyObject* module, ClassDef& def);

template <class T>
bool is_instance(PyObject* obj) {
  PyTypeObject* type = type_object(class_def<T>());
  return Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type);
}

// The cell of an instance of T's class; any other object is a type mismatch.
template <class T>
Cell<T>* cell_of(PyObject* obj) {
  if (!is_instance<T>(obj)) throw Error::mismatch(obj, class_def<T>().name);
  return reinterpret_cast<Cell<T>*>(obj);
}

template <class T>
Shared<T> shared(PyObject* obj, OnConflict how = OnConflict::raise) {
  return Shared<T>(cell_of<T>(obj), how);
}

template <class T>
Exclusive<T> exclusive(PyObject* obj, OnConflict how = OnConflict::raise) {
  return Exclusive<T>(cell_of<T>(obj), how);
}

// By-value conversion: a full copy of the record of an instance of T's class.
template <class T>
T copy_of(PyObject* obj) {
  return T(*shared<T>(obj));
}

// By-reference conversion: the instance itself.
template <class T>
Ref ref_of(PyObject* obj) {
  (void)cell_of<T>(obj);
  return Ref::borrow(obj);
}

namespace detail {
// A new, unborrowed instance of `type` holding `value`, or null with the interpreter's error.
template <class T>
Ref emplace(PyTypeObject* type, T&& value) {
  // Once allocated, the instance must get its value: moving it in cannot fail.
  static_assert(std::is_nothrow_move_constructible_v<T>);
  Ref obj = Ref::steal(type->tp_alloc(type, 0));
  if (obj) {
    auto* cell = reinterpret_cast<Cell<T>*>(obj.get());
    new (&cell->value) T(std::move(value));
    cell->borrow = 0;
  }
  return obj;
}
}  // namespace detail

// A new instance of `type` (T's class or a subtype) holding `value`, for constructors: a
// failed allocation is the interpreter's error.
template <class T>
Ref construct(PyTypeObject* type, T value) {
  Ref obj = detail::emplace(type, std::move(value));
  if (!obj) throw Error::fetch();
  return obj;
}

// A new instance of T's class holding `value`, as a result; failing to make it is a fault.
template <class T>
Ref wrap(T value) {
  Ref obj = detail::emplace(type_object(class_def<T>()), std::move(value));
  if (!obj) {
    discard_error();
    throw Fault(concat({"failed to create a ", class_def<T>().name, " object"}));
  }
  return obj;
}

// The record of an instance just made by `construct` or `wrap`, which nothing else holds yet:
// what may be done only for an instance that exists (drawing its identifier, say) is done
// through this once the instance is allocated, so that a failed call leaves no trace.
template <class T>
T& new_value(const Ref& obj) {
  return reinterpret_cast<Cell<T>*>(obj.get())->value;
}

}  // namespace kelvora

namespace kelvora {

// The value an attribute setter received; null means deletion, which is refused.
inline PyObject* assigned_value(PyObject* value) {
  if (value == nullptr) throw Error::with_message(PyExc_AttributeError, "can't delete attribute");
  return value;
}

}  // namespace kelvora
