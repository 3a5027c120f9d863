// The failures that both renderers share.
#include "export/walk.hpp"

namespace kelvora::walk {

void out_of_bounds(std::size_t len, std::size_t index) {
  throw Fault(concat({"index out of bounds: the len is ", std::to_string(len),
                      " but the index is ", std::to_string(index)}));
}

void cycle(const Decision& node) {
  throw Error::with_message(
      PyExc_ValueError,
      concat({"the game tree contains a cycle: node ", std::to_string(node.node_id), " ('",
              node.name, "') is among its own descendants"}));
}

}  // namespace kelvora::walk
