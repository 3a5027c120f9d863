// Where the renderers' texts go for the Python calls: straight into the str that a call returns,
// or into a file; and a renderer's failure as the Python exception that the call raises.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "convert.hpp"
#include "error.hpp"
#include "ref.hpp"
#include "write/destination.hpp"
#include "write/failure.hpp"

namespace kelvora {

// An export's text made straight into the str it is returned as. A short text is written aside
// and copied into a new str at the end (a block kept from call to call); a longer one into a
// str's own buffer, whose pages are asked to be huge, grown in place (a large block of memory
// grows by being remapped, not copied) and shrunk to the text at the end. The buffer holds
// UTF-8: a text with other than ASCII characters is decoded at the end into a str of their
// width, and the pages of the UTF-8 are given back as they are read, so that the two texts are
// never both whole in memory.
class StrDestination final : public Destination {
 public:
  std::span<char> grow(std::size_t used, std::size_t size) override;
  void finish(std::size_t size, unsigned width) override;
  // The str, once the renderer has finished.
  Ref result() { return std::move(str_); }

 private:
  char* data() const { return static_cast<char*>(PyUnicode_DATA(str_.get())); }

  Ref str_;
};

// Runs a renderer; its failure becomes the exception that the call raises: a fault as
// PanicException (reported where the renderer found it), a cycle as ValueError, a text too
// large as MemoryError, an interruption as KeyboardInterrupt.
template <class Render>
void rendering(Render&& render) {
  try {
    render();
  } catch (RenderFailure& failure) {
    switch (failure.kind) {
      case RenderFailure::Kind::cycle:
        throw Error::with_message(PyExc_ValueError, std::move(failure.message));
      case RenderFailure::Kind::too_large:
        throw Error::with_message(PyExc_MemoryError, std::move(failure.message));
      case RenderFailure::Kind::interrupted:
        throw Error::with_message(PyExc_KeyboardInterrupt, std::move(failure.message));
      case RenderFailure::Kind::fault: break;
    }
    throw Fault(std::move(failure.message), failure.where);
  }
}

// A file system path from a str, bytes or os.PathLike: as os.fspath() gives it (the name
// that errors report, as open() does), and encoded as the file system wants it.
struct FilePath {
  Ref name;
  Ref encoded;
};
FilePath to_path(PyObject* obj);

// Writes `text` to the file at `path` as replace_file does (write/file.hpp): a regular file is
// replaced only once the text is written whole. A failure raises what open() or write() would;
// a signal whose handler raises stops a blocked open with that exception.
void write_file(const FilePath& path, std::string_view text);

// A rendered text as a str, or written whole to `path` (then None). `render(destination)`
// makes it, inside rendering().
template <class Render>
Ref text_or_file(const std::optional<FilePath>& path, Render&& render) {
  if (!path) {
    StrDestination text;
    rendering([&] { render(text); });
    return text.result();
  }
  MemoryDestination text;
  rendering([&] { render(text); });
  write_file(*path, text.text());
  return none();
}

}  // namespace kelvora
