// The memory of node objects: cells of one size in blocks of 2 MiB, which the system backs with
// huge pages once a program has more nodes than one block holds. A walk over a large tree whose
// nodes were made in an order of their own reads them all over memory; in small pages nearly
// every record it reads would also miss the processor's table of pages, a wait of its own that
// reading ahead does not hide.
#pragma once

#include <Python.h>

namespace kelvora::pool {

// The allocation slot of the node class: a zeroed object of `type`, or null with MemoryError.
PyObject* allocate_node(PyTypeObject* type, Py_ssize_t items);
// The matching free slot; the object's record is already destroyed. Needs the interpreter lock,
// as the allocation does.
void free_node(void* object);

}  // namespace kelvora::pool
