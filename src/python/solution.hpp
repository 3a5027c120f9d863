// The Python class Equilibrium and Game.backward_induction, over the solver of solve/.
#pragma once

#include "classes.hpp"

namespace kelvora {

// An equilibrium as Python holds it: a tuple of payoffs, a tuple of the nodes on the path of
// play and a read-only mapping from each decision node to its chosen child.
struct Solution {
  Ref payoff;
  Ref path;
  Ref choices;
};

template <>
ClassDef& class_def<Solution>();

// Game.backward_induction(limit=100).
PyObject* Game_backward_induction(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                  PyObject* kwnames);

// The chosen children of an Equilibrium object as a new list, or null for any other object.
Ref chosen_children(PyObject* obj);

}  // namespace kelvora
