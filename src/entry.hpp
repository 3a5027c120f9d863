// Entry guards: every call from the interpreter into the module runs inside one of these.
#pragma once

#include "error.hpp"

namespace kelvora {

// Runs `op` (returning a Ref). Returns its new reference, or null with the failure raised:
// an Error as itself, a Fault as PanicException. No C++ exception leaves the module.
template <class Op>
PyObject* entry(Op&& op) noexcept {
  try {
    return op().release();
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

// The same for slots that answer 0 on success and -1 on failure (attribute setters).
template <class Op>
int entry_status(Op&& op) noexcept {
  try {
    op();
    return 0;
  } catch (...) {
    raise_current_exception();
    return -1;
  }
}

}  // namespace kelvora
