// The failures that both renderers share.
#include "export/walk.hpp"

#include "machine.hpp"

namespace kelvora::walk {

void out_of_bounds(std::size_t len, std::size_t index) {
  throw Fault(concat({"index out of bounds: the len is ", std::to_string(len),
                      " but the index is ", std::to_string(index)}));
}

void Cursor::overrun() {
  throw Fault("an export wrote other text than it had measured");
}

void Progress::check(std::size_t text_size) {
  // Reads and clears the interrupt flag without running any Python code, which could change
  // the nodes being walked.
  if (PyOS_InterruptOccurred()) throw Error::with_message(PyExc_KeyboardInterrupt, "");
  // The text, its Python string and room for the rest of the process.
  if (text_size > physical_memory() / 3) {
    throw Error::with_message(
        PyExc_MemoryError,
        concat({"the exported text would not fit in this machine's memory: ",
                std::to_string(text_size), " bytes written so far"}));
  }
}

void cycle(const Decision& node) {
  throw Error::with_message(
      PyExc_ValueError,
      concat({"the game tree contains a cycle: node ", std::to_string(node.node_id), " ('",
              node.name, "') is among its own descendants"}));
}

}  // namespace kelvora::walk
