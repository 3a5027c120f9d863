// The failures that both renderers share.
#include "export/walk.hpp"

#include "machine.hpp"

namespace kelvora::walk {

void out_of_bounds(std::size_t len, std::size_t index) {
  throw RenderFailure(RenderFailure::Kind::fault, "index out of bounds: the len is " +
                                                      std::to_string(len) + " but the index is " +
                                                      std::to_string(index));
}

void Cursor::overrun() {
  throw RenderFailure(RenderFailure::Kind::fault,
                      "an export wrote other text than it had measured");
}

void Progress::check(std::size_t text_size) {
  // Reads and clears the interrupt flag without running any Python code, which could change
  // the nodes being walked.
  if (PyOS_InterruptOccurred()) throw RenderFailure(RenderFailure::Kind::interrupted, "");
  // The text, its Python string and room for the rest of the process.
  if (text_size > physical_memory() / 3) {
    throw RenderFailure(RenderFailure::Kind::too_large,
                        "the exported text would not fit in this machine's memory: " +
                            std::to_string(text_size) + " bytes written so far");
  }
}

void cycle(const Decision& node) {
  std::string message = "the game tree contains a cycle: node " + std::to_string(node.node_id);
  message += " ('";
  message += node.name;
  message += "') is among its own descendants";
  throw RenderFailure(RenderFailure::Kind::cycle, std::move(message));
}

}  // namespace kelvora::walk
