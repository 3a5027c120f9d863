// Game files as Python calls: a .efg text or file read into a Game, and a Game written as one.
#include "python/files.hpp"

#include <optional>
#include <string_view>
#include <utility>

#include "check/validate.hpp"
#include "convert.hpp"
#include "efg/efg.hpp"
#include "entry.hpp"
#include "python/game.hpp"
#include "python/node.hpp"
#include "python/output.hpp"

namespace kelvora {
namespace {

// A node object of the module's Decision class, numbered by the reader once it is done.
Ref make_decision(Decision node) { return wrap(std::move(node)); }

// The Game of a .efg text held by `data` (a str, bytes or bytearray); `what` names the argument
// or the call that gave it.
Ref game_of(PyObject* data, std::string_view what) {
  std::string_view text;
  bool utf8_known = false;
  if (PyUnicode_Check(data)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
    if (utf8 == nullptr) throw Error::fetch();
    text = std::string_view(utf8, static_cast<std::size_t>(size));
    utf8_known = true;
  } else if (PyBytes_Check(data)) {
    text =
        std::string_view(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
  } else if (PyByteArray_Check(data)) {
    text = std::string_view(PyByteArray_AS_STRING(data),
                            static_cast<std::size_t>(PyByteArray_GET_SIZE(data)));
  } else {
    throw Error::with_message(
        PyExc_TypeError, concat({what, ": expected a str or bytes, got ", Py_TYPE(data)->tp_name}));
  }
  try {
    // No Python code runs while the text is read, so the buffer stays as it is.
    // The game first, which the reader fills in only once it has read the whole text.
    Ref game = wrap(Game{});
    efg::read(text, utf8_known, make_decision, new_value<Game>(game));
    return game;
  } catch (efg::Refusal& refusal) {
    throw Error::with_message(PyExc_ValueError, std::move(refusal.message));
  }
}

constexpr const char* loads_params[] = {"text"};
constexpr CallSpec loads_spec{nullptr, "loads_efg", loads_params, 1, 0, 1};

PyObject* loads_efg(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return entry([&] {
    auto matched = match_fast<1>(loads_spec, args, nargsf, kwnames);
    return game_of(matched.slot[0], "argument 'text'");
  });
}

// The whole content of a file object, read with its own read().
Ref read_all(PyObject* file) {
  Ref data = Ref::steal(PyObject_CallMethod(file, "read", nullptr));
  if (!data) throw Error::fetch();
  return data;
}

constexpr const char* load_params[] = {"file"};
constexpr CallSpec load_spec{nullptr, "load_efg", load_params, 1, 0, 1};

PyObject* load_efg(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return entry([&] {
    auto matched = match_fast<1>(load_spec, args, nargsf, kwnames);
    PyObject* file = matched.slot[0];
    const bool is_path =
        PyUnicode_Check(file) || PyBytes_Check(file) ||
        PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(file)), "__fspath__");
    if (is_path) {
      // Opened as open(file, "rb") opens it, and closed however the reading ends.
      Ref io = Ref::steal(PyImport_ImportModule("io"));
      if (!io) throw Error::fetch();
      Ref open = Ref::steal(PyObject_GetAttrString(io.get(), "open"));
      if (!open) throw Error::fetch();
      Ref opened = Ref::steal(PyObject_CallFunction(open.get(), "Os", file, "rb"));
      if (!opened) throw Error::fetch();
      std::optional<Error> failure;
      Ref data;
      try {
        data = read_all(opened.get());
      } catch (Error& err) {
        failure = std::move(err);
      }
      Ref closed = Ref::steal(PyObject_CallMethod(opened.get(), "close", nullptr));
      if (failure) throw std::move(*failure);
      if (!closed) throw Error::fetch();
      return game_of(data.get(), "load_efg");
    }
    if (!PyObject_HasAttrString(file, "read")) {
      throw Error::with_message(
          PyExc_TypeError,
          concat({"argument 'file': expected a path (str or os.PathLike) or a file object, got ",
                  Py_TYPE(file)->tp_name}));
    }
    Ref data = read_all(file);
    return game_of(data.get(), "load_efg: the file's read()");
  });
}

constexpr const char* export_efg_params[] = {"filename"};
constexpr CallSpec export_efg_spec{"Game", "export_efg", export_efg_params, 1, 0, 0};

}  // namespace

PyMethodDef file_functions[] = {
    {"loads_efg", as_method(loads_efg), METH_FASTCALL | METH_KEYWORDS,
     "loads_efg(text)\n--\n\n"
     "The Game of a Gambit .efg text (a str, or UTF-8 bytes): its title, its players after\n"
     "Nature, and its tree, whose root is the file's first node. Each node is named by its\n"
     "action and reached by the player who moves at its parent (Nature at a chance node,\n"
     "with the action's probability); information sets of two or more nodes are numbered\n"
     "from 1 in order of first appearance; an outcome's payoffs stay on the node where it\n"
     "stands (an inner node's too), every number as written, and the node keeps which outcome\n"
     "it was, for export_efg(). A text that is not such a file raises ValueError with the\n"
     "line and column where it goes wrong."},
    {"load_efg", as_method(load_efg), METH_FASTCALL | METH_KEYWORDS,
     "load_efg(file)\n--\n\n"
     "The Game of a Gambit .efg file: `file` is a path (a str or os.PathLike), opened as\n"
     "open() opens it, or a binary or text file object, which is read to its end. The text is\n"
     "read as loads_efg() reads it."},
    {},
};

PyObject* Game_export_efg(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
  return entry([&]() -> Ref {
    const CallSpec& spec = export_efg_spec;
    auto matched = match_fast<1>(spec, args, nargsf, kwnames);
    auto path = optional_argument(spec, 0, matched.slot[0], to_path);
    auto game = shared<Game>(self);
    const check::Problems problems = check::validate(*game);
    if (problems.count > 0) throw Error::with_message(PyExc_ValueError, check::describe(problems));
    auto render = [&](Destination& text) {
      try {
        efg::write(*game, problems.players, text);
      } catch (efg::Refusal& refusal) {
        throw Error::with_message(PyExc_ValueError, std::move(refusal.message));
      }
    };
    return text_or_file(path, render);
  });
}

}  // namespace kelvora
