// Making the type objects of the module's classes, and the borrow conflict reports.
#include "classes.hpp"

#include <vector>

#include "entry.hpp"

namespace kelvora {
namespace {

// Constructor slot of a class that has no constructor.
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  return entry(
      []() -> Ref { throw Error::with_message(PyExc_TypeError, "No constructor defined"); });
}

// Creates the type object from the class definition.
Ref create_type(const ClassDef& def) {
  // "Name(signature)\n--\n\n" makes CPython report the signature as __text_signature__
  // and an empty __doc__.
  std::string doc;
  std::vector<PyType_Slot> slots;
  bool has_constructor = false;
  for (PyType_Slot* slot = def.slots; slot->slot != 0; ++slot) {
    slots.push_back(*slot);
    has_constructor |= slot->slot == Py_tp_new;
  }
  // Never inherit object's constructor: it would leave the record unmade.
  if (!has_constructor) slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor)});
  if (def.text_signature != nullptr) {
    doc = concat({def.name, def.text_signature, "\n--\n\n"});
    slots.push_back({Py_tp_doc, doc.data()});
  }
  slots.push_back({0, nullptr});

  // Default flags only: not subclassable, no cyclic GC, no __dict__, no weak references.
  PyType_Spec spec{def.qualified_name, def.basic_size, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  Ref type = Ref::steal(PyType_FromSpec(&spec));
  if (!type) throw Error::fetch();
  // The dotted spec name gave the class its __module__; CPython's own messages use tp_name,
  // which should read as the bare class name.
  reinterpret_cast<PyTypeObject*>(type.get())->tp_name = def.name;
  // Calling a class goes through this field when it is set; the class cannot be subclassed,
  // so it is always this class that is being called.
  if (def.vectorcall != nullptr) {
    reinterpret_cast<PyTypeObject*>(type.get())->tp_vectorcall = def.vectorcall;
  }
  return type;
}

Error initialisation_error(std::string message, Error cause) {
  Error err = Error::with_message(PyExc_RuntimeError, std::move(message));
  err.set_cause(std::move(cause).into_value());
  return err;
}

void store_class_attrs(ClassDef& def) {
  auto* type = reinterpret_cast<PyObject*>(def.type);
  for (std::size_t i = 0; i < def.attr_count; ++i) {
    const ClassAttr& attr = def.attrs[i];
    Ref value;
    try {
      value = attr.make();
    } catch (Error& err) {
      throw initialisation_error(
          concat({"An error occurred while initializing `", def.name, ".", attr.name, "`"}),
          std::move(err));
    }
    if (PyObject_SetAttrString(type, attr.name, value.get()) < 0) {
      throw initialisation_error(
          concat({"An error occurred while initializing `", def.name, ".__dict__`"}),
          Error::fetch());
    }
  }
}

}  // namespace

PyTypeObject* get_or_make_type(ClassDef& def) {
  if (def.type == nullptr) {
    Ref type = create_type(def);
    // Making the type may have run Python code that made it first; keep the stored one.
    if (def.type == nullptr) def.type = reinterpret_cast<PyTypeObject*>(type.release());
  }
  // A class attribute is an instance of the class, so making it comes back here: that call
  // gets the type object as it stands.
  if (!def.attrs_stored && !def.storing_attrs) {
    def.storing_attrs = true;
    try {
      store_class_attrs(def);
    } catch (...) {
      def.storing_attrs = false;
      throw;
    }
    def.storing_attrs = false;
    def.attrs_stored = true;
  }
  return def.type;
}

PyTypeObject* type_object(ClassDef& def) {
  if (def.type != nullptr && (def.attrs_stored || def.storing_attrs)) return def.type;
  try {
    return get_or_make_type(def);
  } catch (Error& err) {
    std::move(err).restore();
    PyErr_PrintEx(0);
    throw Fault(concat({"failed to create type object for ", def.name}));
  }
}

void register_class(PyObject* module, ClassDef& def) {
  PyTypeObject* type;
  try {
    type = get_or_make_type(def);
  } catch (Error& err) {
    throw initialisation_error(concat({"An error occurred while initializing class ", def.name}),
                               std::move(err));
  }
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    Error err = Error::fetch();
    if (!err.is(PyExc_AttributeError)) throw err;
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw Error::fetch();
  } else if (!PyList_Check(all.get())) {
    throw Error::mismatch(all.get(), "PyList");
  }
  Ref name = Ref::steal(PyUnicode_FromString(def.name));
  if (!name || PyList_Append(all.get(), name.get()) < 0) {
    throw Fault("could not append __name__ to __all__: " + Error::fetch().text());
  }
  if (PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) < 0) {
    throw Error::fetch();
  }
}

namespace detail {

void shared_conflict(OnConflict how) {
  if (how == OnConflict::fault) throw Fault("Already mutably borrowed: PyBorrowError");
  throw Error::with_message(PyExc_RuntimeError, "Already mutably borrowed");
}

void exclusive_conflict(OnConflict how) {
  if (how == OnConflict::fault) throw Fault("Already borrowed: PyBorrowMutError");
  throw Error::with_message(PyExc_RuntimeError, "Already borrowed");
}

}  // namespace detail
}  // namespace kelvora
