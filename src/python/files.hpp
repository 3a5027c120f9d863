// Game files as Python calls: the module functions loads_efg and load_efg, and Game.export_efg.
#pragma once

#include <Python.h>

namespace kelvora {

// loads_efg and load_efg, for the module.
extern PyMethodDef file_functions[];

// Game.export_efg(filename=None), a METH_FASTCALL | METH_KEYWORDS method.
PyObject* Game_export_efg(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames);

}  // namespace kelvora
