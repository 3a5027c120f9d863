// The module's entry point: makes the module once per process and registers its classes.
#include "classes.hpp"
#include "entry.hpp"
#include "python/files.hpp"
#include "python/game.hpp"
#include "python/node.hpp"
#include "python/solution.hpp"
#include "python/variable.hpp"

namespace kelvora {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kelvora",
    "All of kelvora's structures and functions are packed into the kelvora module.",
    0,  // no per-module state: importing again calls PyInit_kelvora, which hands back the module
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module made by the first successful initialisation, in the main interpreter.
PyObject* module_cell = nullptr;

// The classes, in the order in which they are made and listed in __all__.
ClassDef& (*const registration[])() = {
    &class_def<Game>,     &class_def<Type>,   &class_def<Variable>,
    &class_def<Decision>, &class_def<Player>,
};

void module_body(PyObject* module) {
  for (auto def : registration) register_class(module, def());
  // What Game.backward_induction returns: reachable as kelvora.Equilibrium, but not one of
  // the classes that `from kelvora import *` brings in.
  PyTypeObject* equilibrium = get_or_make_type(class_def<Solution>());
  if (PyModule_AddObjectRef(module, "Equilibrium", reinterpret_cast<PyObject*>(equilibrium)) < 0) {
    throw Error::fetch();
  }
  if (PyModule_AddFunctions(module, file_functions) != 0) throw Error::fetch();
}

// Only the main interpreter may own the module: the type objects are process-wide and made in
// the owner, and handing them to another interpreter is unsafe. A sub-interpreter is refused
// before anything is read or made, so its import never claims the module, whatever the order of
// imports (an isolated one may run this concurrently with the main interpreter, under its own
// lock). CPython may refuse such an import itself, before or after calling this.
Ref make_module() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    throw Error::with_message(
        PyExc_ImportError,
        "kelvora does not support sub-interpreters: it can be imported only in the main "
        "interpreter");
  }
  if (module_cell != nullptr) return Ref::borrow(module_cell);

  Ref module = Ref::steal(PyModule_Create2(&module_def, 1013));
  if (!module) throw Error::fetch();
  module_body(module.get());
  if (module_cell == nullptr) module_cell = module.release();
  return Ref::borrow(module_cell);
}

}  // namespace
}  // namespace kelvora

PyMODINIT_FUNC PyInit_kelvora() { return kelvora::entry(kelvora::make_module); }
