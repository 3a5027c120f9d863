// The game tree as a LaTeX figure drawn with TikZ.
#pragma once

#include <optional>
#include <string>

#include "tree/node.hpp"
#include "write/destination.hpp"

namespace kelvora {

// The TikZ figure of the tree below `root` (a Decision object), written to `destination`:
// banner, styles, the tree as nested `child` paths, a dashed box around each information set,
// closing. A node lacking what its text needs is a fault; a node among its own descendants is
// a cycle (both thrown as RenderFailure).
void render_latex(PyObject* root, float scale, Destination& destination);

// Why a file could not be written: the system's error number (0 if it gave none) and a
// description such as `Os { code: 2, kind: NotFound, message: "No such file or directory" }`.
struct IoFailure {
  int os_error;
  std::string description;
};

// Renders the figure and only then writes it to `path`, which then holds exactly the text: a
// regular file is replaced only once the text is written whole (write/file.hpp). Rendering
// failures, and Ctrl-C during a blocked open, are thrown; a failure to write is returned.
std::optional<IoFailure> write_latex_file(PyObject* root, float scale, const std::string& path);

}  // namespace kelvora
