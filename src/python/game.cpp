// The Python classes Game and Type, and the exports and drawings as Python calls.
#include "python/game.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check/validate.hpp"
#include "convert.hpp"
#include "draw/svg.hpp"
#include "draw/tikz.hpp"
#include "entry.hpp"
#include "export/dot.hpp"
#include "export/latex.hpp"
#include "layout/layout.hpp"
#include "python/files.hpp"
#include "python/node.hpp"
#include "python/output.hpp"
#include "python/solution.hpp"
#include "write/failure.hpp"

namespace kelvora {
namespace {

// --- Type ---

// The value of a Type object that is not being changed, or nothing for anything else.
std::optional<Type> type_value(PyObject* obj) {
  if (!is_instance<Type>(obj)) return std::nullopt;
  auto* cell = reinterpret_cast<Cell<Type>*>(obj);
  if (cell->borrow == -1) return std::nullopt;
  return cell->value;
}

Ref make_normal() { return wrap(Type{Type::Normal}); }
Ref make_extensive() { return wrap(Type{Type::Extensive}); }

const ClassAttr type_attrs[] = {
    {"Normal", make_normal},
    {"Extensive", make_extensive},
};

PyObject* Type_repr(PyObject* self) {
  return entry([&] {
    const Type type = *shared<Type>(self);
    return to_py(std::string(type.value == Type::Normal ? "Type.Normal" : "Type.Extensive"));
  });
}

PyObject* Type_int(PyObject* self) {
  return entry([&] { return to_py(std::int64_t{shared<Type>(self)->value}); });
}

// Only == and != are answered: against anything with __index__ by its integer value, then
// against another Type. Whatever cannot be compared is declined, never refused, so the
// interpreter falls back to identity.
PyObject* Type_richcompare(PyObject* self, PyObject* other, int op) {
  return entry([&]() -> Ref {
    const std::optional<Type> mine = type_value(self);
    if (!mine || (op != Py_EQ && op != Py_NE)) return not_implemented();
    bool equal;
    std::optional<std::int64_t> number;
    try {
      number = to_i64(other);
    } catch (const Error& err) {
      // Not an integer, or too wide for 64 bits: try it as a Type. Out of memory, the
      // question could not be asked: that is raised, not answered.
      if (err.is(PyExc_MemoryError)) throw;
    }
    if (number) {
      equal = *number == mine->value;
    } else if (const std::optional<Type> theirs = type_value(other)) {
      equal = theirs->value == mine->value;
    } else {
      return not_implemented();
    }
    return to_py(op == Py_EQ ? equal : !equal);
  });
}

PyType_Slot type_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Type>)},
    {Py_tp_repr, reinterpret_cast<void*>(Type_repr)},
    {Py_nb_int, reinterpret_cast<void*>(Type_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(Type_richcompare)},
    {0, nullptr},
};

ClassDef type_class{"Type",     "kelvora.Type",       nullptr, sizeof(Cell<Type>), type_slots,
                    type_attrs, std::size(type_attrs)};

// --- Game ---

constexpr const char* game_params[] = {"title", "players", "gametype"};
constexpr CallSpec game_new_spec{"Game", "__new__", game_params, 3, 0, 0};

Ref make_game(PyTypeObject* type, Matched<3>& matched) {
  const CallSpec& spec = game_new_spec;
  auto title = optional_argument(spec, 0, matched.slot[0], to_text);
  auto players = optional_argument(spec, 1, matched.slot[1], to_u64);
  auto gametype = optional_argument(spec, 2, matched.slot[2], copy_of<Type>);
  std::vector<Player> player = make_players(players.value_or(2));
  // The root, which draws a node number, is made last: a game that cannot be made draws none.
  Ref game = construct(type, Game{title ? std::move(*title) : "Untitled Game", std::move(player),
                                  gametype.value_or(Type{Type::Normal}), Ref()});
  new_value<Game>(game).root =
      new_node(Player{"player"}, "root", std::nullopt, std::nullopt, std::nullopt);
  return game;
}
using Game_constructor = Constructor<3, game_new_spec, make_game>;

PyObject* Game_get_title(PyObject* self, void*) {
  return entry([&] { return to_py(shared<Game>(self)->title); });
}

PyObject* Game_get_player(PyObject* self, void*) {
  return entry([&] {
    // Copied out before the list is made, as making it can run Python code.
    const std::vector<Player> players = shared<Game>(self)->player;
    return to_py_list(players, [](const Player& player) { return wrap(player); });
  });
}

PyObject* Game_get_gametype(PyObject* self, void*) {
  return entry([&] {
    const Type gametype = shared<Game>(self)->gametype;
    return wrap(gametype);
  });
}

PyObject* Game_get_root(PyObject* self, void*) {
  return entry([&] { return shared<Game>(self)->root.copy(); });
}

// The methods without parameters take the interpreter's no-argument convention, so the
// interpreter itself refuses any argument.

PyObject* Game_get_ref(PyObject* self, PyObject*) {
  return entry([&] {
    Game copy = shared<Game>(self)->copy();
    return wrap(std::move(copy));
  });
}

PyObject* Game_length(PyObject* self, PyObject*) {
  return entry([&] {
    const Ref root = shared<Game>(self)->root.copy();
    const std::size_t length = exclusive<Decision>(root.get(), OnConflict::fault)->children.size();
    return to_py(std::uint64_t{length});
  });
}

PyObject* Game_export(PyObject* self, PyObject*) {
  return entry([&] {
    const Ref root = shared<Game>(self)->root.copy();
    StrDestination text;
    rendering([&] { render_dot(root.get(), text); });
    return text.result();
  });
}

constexpr const char* export_latex_params[] = {"scale", "filename"};
constexpr CallSpec export_latex_spec{"Game", "export_latex", export_latex_params, 2, 0, 0};

// The fault of a file that could not be written, with the system's own OSError as its cause.
Fault write_fault(const IoFailure& failure, const std::string& path) {
  Fault fault(concat({"Error: ", failure.description}));
  if (failure.os_error != 0) {
    Ref filename = to_py(path);
    Ref cause = Ref::steal(PyObject_CallFunction(PyExc_OSError, "isO", failure.os_error,
                                                 std::strerror(failure.os_error), filename.get()));
    if (cause) {
      fault.set_cause(std::move(cause));
    } else {
      discard_error();
    }
  }
  return fault;
}

// The figure as text, or written to `filename` (then None).
PyObject* Game_export_latex(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return entry([&]() -> Ref {
    const CallSpec& spec = export_latex_spec;
    // Without arguments there is nothing to match nor convert: the default scale, as text.
    Matched<2> matched;
    if (PyVectorcall_NARGS(nargsf) != 0 || kwnames != nullptr)
      matched = match_fast<2>(spec, args, nargsf, kwnames);
    // The game stays borrowed while the arguments are converted: Python code that runs in a
    // conversion can read the game but not change it (`+` on it declines).
    auto game = shared<Game>(self);
    const float scale = optional_argument(spec, 0, matched.slot[0], to_f32).value_or(2.5f);
    auto filename = optional_argument(spec, 1, matched.slot[1], to_text);
    const Ref root = game->root.copy();
    if (!filename) {
      StrDestination text;
      rendering([&] { render_latex(root.get(), scale, text); });
      return text.result();
    }
    std::optional<IoFailure> failure;
    rendering([&] { failure = write_latex_file(root.get(), scale, *filename); });
    if (failure) throw write_fault(*failure, *filename);
    return none();
  });
}

// The drawing options of a call, and the highlighted nodes, held for as long as it draws.
struct DrawingOptions {
  layout::Options layout;
  std::vector<Ref> held;
};

// The index of `obj` among `choices`; a str that is none of them is a ValueError, anything
// else a TypeError, each naming the argument and what it accepts.
std::size_t choice(const char* name, PyObject* obj, const char* first, const char* second) {
  auto refuse = [&](PyObject* type, std::string_view got) -> std::size_t {
    throw Error::with_message(type, concat({"argument '", name, "': expected \"", first, "\" or \"",
                                            second, "\", got ", got}));
  };
  if (!PyUnicode_Check(obj)) return refuse(PyExc_TypeError, Py_TYPE(obj)->tp_name);
  const std::string text = to_text(obj);
  if (text == first) return 0;
  if (text == second) return 1;
  return refuse(PyExc_ValueError, concat({"\"", text, "\""}));
}

// Any iterable of Decision nodes, or an Equilibrium (its chosen children), as the nodes'
// records' addresses, sorted.
void highlighted(PyObject* given, DrawingOptions& options) {
  Ref chosen = chosen_children(given);
  PyObject* obj = chosen ? chosen.get() : given;
  auto refuse = [&](std::string_view got) {
    throw Error::with_message(PyExc_TypeError,
                              concat({"argument 'highlight': expected an Equilibrium or an "
                                      "iterable of Decision nodes, got ",
                                      got}));
  };
  Ref iterator = Ref::steal(PyObject_GetIter(obj));
  if (!iterator) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw Error::fetch();
    PyErr_Clear();
    refuse(Py_TYPE(obj)->tp_name);
  }
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    if (!is_instance<Decision>(item.get())) {
      refuse(concat({"an iterable holding ", Py_TYPE(item.get())->tp_name}));
    }
    options.held.push_back(std::move(item));
  }
  if (PyErr_Occurred()) throw Error::fetch();
  auto& nodes = options.layout.highlight;
  nodes.reserve(options.held.size());
  for (const Ref& node : options.held) nodes.push_back(&read_node(node.get()));
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
}

// The options that both drawings take, from the matched slots `first` (direction), `first + 1`
// (infosets) and `first + 2` (highlight).
DrawingOptions drawing_options(const CallSpec& spec, PyObject* const* slot, std::size_t first) {
  DrawingOptions options;
  auto name = [&](std::size_t k) {
    return spec.keyword_only[first + k - spec.positional_count].name;
  };
  if (given(slot[first])) {
    options.layout.direction = choice(name(0), slot[first], "down", "right") == 0
                                   ? layout::Direction::down
                                   : layout::Direction::right;
  }
  if (given(slot[first + 1])) {
    options.layout.sets = choice(name(1), slot[first + 1], "line", "outline") == 0
                              ? layout::SetStyle::line
                              : layout::SetStyle::outline;
  }
  if (given(slot[first + 2])) highlighted(slot[first + 2], options);
  return options;
}

constexpr const char* export_svg_params[] = {"filename"};
constexpr KeywordOnly export_svg_keywords[] = {
    {"direction", false}, {"infosets", false}, {"highlight", false}};
constexpr CallSpec export_svg_spec{
    "Game", "export_svg", export_svg_params, 1, 0, 0, export_svg_keywords, 3};

// The drawing as text, or written to `filename` (then None).
PyObject* Game_export_svg(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
  return entry([&]() -> Ref {
    const CallSpec& spec = export_svg_spec;
    auto matched = match_fast<4>(spec, args, nargsf, kwnames);
    auto path = optional_argument(spec, 0, matched.slot[0], to_path);
    const DrawingOptions options = drawing_options(spec, matched.slot.data(), 1);
    auto game = shared<Game>(self);
    return text_or_file(path, [&](Destination& text) {
      draw::svg(layout::lay_out(*game, options.layout), game->title, text);
    });
  });
}

// A width or height as the picture is fitted to; a ValueError naming the argument otherwise.
draw::TexLength fit_length(const CallSpec& spec, std::size_t index, PyObject* obj,
                           std::string_view fallback, std::string_view example) {
  const std::string text =
      optional_argument(spec, index, obj, to_text).value_or(std::string(fallback));
  const std::optional<draw::TexLength> length = draw::tex_length(text);
  if (!length) {
    throw Error::with_message(
        PyExc_ValueError,
        concat({"argument '", spec.keyword_only[index - spec.positional_count].name,
                "': expected a TeX length such as \"12cm\" or \"", example,
                "\" (a factor of at most 4 digits before the point and 5 after, not zero, and a "
                "unit or one of TeX's page and line lengths; at most 16383.99999pt), got \"",
                text, "\""}));
  }
  return *length;
}

constexpr const char* export_tikz_params[] = {"filename"};
constexpr KeywordOnly export_tikz_keywords[] = {{"width", false},
                                                {"height", false},
                                                {"direction", false},
                                                {"infosets", false},
                                                {"highlight", false}};
constexpr CallSpec export_tikz_spec{
    "Game", "export_tikz", export_tikz_params, 1, 0, 0, export_tikz_keywords, 5};

// The tikzpicture as text, or written to `filename` (then None).
PyObject* Game_export_tikz(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                           PyObject* kwnames) {
  return entry([&]() -> Ref {
    const CallSpec& spec = export_tikz_spec;
    auto matched = match_fast<6>(spec, args, nargsf, kwnames);
    auto path = optional_argument(spec, 0, matched.slot[0], to_path);
    // The width of the line unless another is given (as tex_length reads "\\linewidth").
    constexpr draw::TexLength line_width{100000, "\\linewidth"};
    draw::Fit fit{given(matched.slot[1])
                      ? fit_length(spec, 1, matched.slot[1], "", "0.8\\linewidth")
                      : line_width,
                  std::nullopt};
    if (given(matched.slot[2])) {
      fit.height = fit_length(spec, 2, matched.slot[2], "", "0.8\\textheight");
    }
    const DrawingOptions options = drawing_options(spec, matched.slot.data(), 3);
    auto game = shared<Game>(self);
    return text_or_file(path, [&](Destination& text) {
      draw::tikz(layout::lay_out(*game, options.layout), fit, text);
    });
  });
}

// The most node occurrences that a notebook is given a picture of.
constexpr std::size_t notebook_bound = 5000;

// The drawing for IPython and Jupyter; None for a larger tree, which then shows its repr().
PyObject* Game_repr_svg(PyObject* self, PyObject*) {
  return entry([&]() -> Ref {
    auto game = shared<Game>(self);
    if (layout::count_occurrences(*game, notebook_bound + 1) > notebook_bound) return none();
    return text_or_file(std::nullopt, [&](Destination& text) {
      draw::svg(layout::lay_out(*game), game->title, text);
    });
  });
}

// None for a sound game, else ValueError listing its problems (see check/validate.hpp).
PyObject* Game_validate(PyObject* self, PyObject*) {
  return entry([&] {
    const check::Problems problems = check::validate(*shared<Game>(self));
    if (problems.count > 0) throw Error::with_message(PyExc_ValueError, check::describe(problems));
    return none();
  });
}

// game + decision attaches the decision to the root and answers a new game sharing the root.
// Anything else, or a game that is busy, is declined.
PyObject* Game_add(PyObject* left, PyObject* right) {
  return entry([&]() -> Ref {
    if (!is_instance<Game>(left)) return not_implemented();
    auto* cell = reinterpret_cast<Cell<Game>*>(left);
    if (cell->borrow != 0 || !is_instance<Decision>(right)) return not_implemented();
    Exclusive<Game> game(cell, OnConflict::raise);
    // The new game first: when it cannot be made, the tree stays as it was.
    Ref sum = wrap(game->copy());
    append_child(game->root.get(), right);
    return sum;
  });
}

// "title: <title> root: <root name> children: " and then "(player: <p> action: <a>)" for each
// child of the root.
PyObject* Game_str(PyObject* self) {
  return entry([&] {
    std::string text;
    Ref root;
    {
      auto game = shared<Game>(self);
      text = concat({"title: ", game->title, " root: "});
      root = game->root.copy();
    }
    std::vector<Ref> children;
    {
      auto node = exclusive<Decision>(root.get(), OnConflict::fault);
      text += node->name;
      text += " children: ";
      children = share(node->children);
    }
    // One node borrowed at a time: the root itself may be among its children.
    for (const Ref& child : children) {
      auto node = exclusive<Decision>(child.get(), OnConflict::fault);
      text += concat({"(player: ", node->player.name, " action: ", node->name, ")"});
    }
    return to_py(text);
  });
}

PyGetSetDef game_getset[] = {
    {"title", Game_get_title, nullptr, "", nullptr},
    {"player", Game_get_player, nullptr, "", nullptr},
    {"gametype", Game_get_gametype, nullptr, "", nullptr},
    {"root", Game_get_root, nullptr, "", nullptr},
    {},
};

PyMethodDef game_methods[] = {
    {"export", Game_export, METH_NOARGS, "export($self)\n--\n\n"},
    {"export_latex", as_method(Game_export_latex), METH_FASTCALL | METH_KEYWORDS,
     "export_latex($self, scale=None, filename=None)\n--\n\n"},
    {"export_svg", as_method(Game_export_svg), METH_FASTCALL | METH_KEYWORDS,
     "export_svg($self, /, filename=None, *, direction='down', infosets='line', highlight=())\n"
     "--\n\n"
     "The tree drawn by kelvora's own layout, as an SVG 1.1 document: returned as a str, or\n"
     "written whole to `filename` (a str or os.PathLike), and then None is returned. A\n"
     "regular file is replaced only once the new one is written whole beside it, keeping its\n"
     "permissions; a failure to write raises the OSError that open() would raise, and leaves\n"
     "the old file as it was.\n\n"
     "direction: \"down\" or \"right\", the way the tree grows from its root.\n"
     "infosets: \"line\" (dashed lines joining each set's members) or \"outline\" (a dashed\n"
     "outline round them).\n"
     "highlight: an iterable of Decision nodes whose incoming edges are drawn thick, or an\n"
     "Equilibrium from backward_induction(), whose chosen actions are drawn thick."},
    {"export_tikz", as_method(Game_export_tikz), METH_FASTCALL | METH_KEYWORDS,
     "export_tikz($self, /, filename=None, *, width=None, height=None, direction='down', "
     "infosets='line', highlight=())\n--\n\n"
     "The tree drawn by kelvora's own layout, as a bare LaTeX tikzpicture to put in a figure of\n"
     "your own: returned as a str, or written whole to `filename` as export_svg() writes it.\n\n"
     "The picture is drawn at its natural size in the document's em. Only when TeX finds it\n"
     "wider than `width` (\\linewidth by default) or taller than `height` (no limit by\n"
     "default; \"0.8\\textheight\" suits a slide) does the whole picture, text included, shrink\n"
     "uniformly to fit. Each is a TeX length: a factor (at most 4 digits before the point and\n"
     "5 after) and a unit (pt pc in bp cm mm dd cc sp em ex px), or a factor and one of\n"
     "\\linewidth \\textwidth \\columnwidth \\textheight \\hsize \\vsize \\paperwidth\n"
     "\\paperheight. The document needs only \\usepackage{tikz}.\n\n"
     "Names print as written: TeX's special characters, ligatures (--, ``, ?`, ...), Greek\n"
     "letters and the common typographic characters are written so that pdfLaTeX prints\n"
     "them; other scripts pass through as UTF-8, for LuaLaTeX with fontspec. A name wholly\n"
     "enclosed in $...$, such as \"$\\alpha$\", goes through unchanged, as math.\n\n"
     "direction, infosets, highlight: as for export_svg()."},
    {"export_efg", as_method(Game_export_efg), METH_FASTCALL | METH_KEYWORDS,
     "export_efg($self, /, filename=None)\n--\n\n"
     "The game as a Gambit .efg file (version 2): returned as a str, or written whole to\n"
     "`filename` as export_svg() writes it. The game must pass validate() (else that\n"
     "ValueError). Nature's nodes are chance nodes, whose actions need probabilities;\n"
     "information sets are numbered per player, and outcomes, in order of first appearance.\n"
     "Nodes read from one outcome of a file share it, under its name, while their payoffs\n"
     "agree; other nodes share one by payoff, named \"\". The same game always gives the same\n"
     "text. A payoff of Variables, or a name with a backslash before a double quote or at its\n"
     "end, cannot be written: ValueError."},
    {"_repr_svg_", Game_repr_svg, METH_NOARGS,
     "_repr_svg_($self, /)\n--\n\n"
     "The SVG drawing of export_svg(), for IPython and Jupyter; None when the tree has more\n"
     "than 5,000 node occurrences, so that a notebook shows repr() instead."},
    {"validate", Game_validate, METH_NOARGS,
     "validate($self, /)\n--\n\n"
     "None when the game is sound, else ValueError listing every problem found (the first\n"
     "20, then \"... and N more\"), each after the path of node names from the root to it,\n"
     "such as \"root > In > Fight\": children moved by different players, some children with\n"
     "a probability and some without, probabilities that do not add up to exactly 1, a\n"
     "probability on a node not reached by Nature (the game's first player), members of an\n"
     "information set with different movers or actions, a leaf without payoff, a payoff whose\n"
     "length is not the number of players, a cycle.\n\n"
     "Payoff entries: when any mover has the name of one of the game's players (or Nature\n"
     "is the only mover), entry i is game.player[i + 1] (Nature has none) and a payoff has one\n"
     "entry per player of the game; otherwise entry i is the i-th mover other than Nature in\n"
     "order of first appearance (pre-order), and a payoff has one entry per mover. A node\n"
     "shared under several parents is checked once, under the first."},
    {"backward_induction", as_method(Game_backward_induction), METH_FASTCALL | METH_KEYWORDS,
     "backward_induction($self, /, limit=100)\n--\n\n"
     "The pure-strategy subgame-perfect equilibria of the game, at most `limit` (an int of at\n"
     "least 1) of them, as a list of Equilibrium objects in a fixed order; empty when there is\n"
     "none. The game must pass validate(), whose ValueError is raised otherwise.\n\n"
     "Where every information set is a single node, backward induction: every action that\n"
     "maximises its mover's payoff is an equilibrium choice. A chance node takes the exact\n"
     "expected payoff under its children's probabilities. A subgame with a larger information\n"
     "set is solved after the subgames within it: its pure behaviour profiles (at most\n"
     "1,000,000, else ValueError naming its root) are kept where no player gains by changing\n"
     "their actions in it. Variable payoffs are compared through the relations recorded with\n"
     "<, > and ==, transitively; payoffs they do not order, or a Variable in an expected\n"
     "payoff, raise ValueError naming the node. An expected payoff whose numerator or\n"
     "denominator needs 64 bits or more raises OverflowError. A node attached under several\n"
     "parents makes one choice wherever it occurs.\n\n"
     "Each equilibrium has `payoff` (a tuple, one entry per player that payoffs count), `path`\n"
     "(the nodes reached with positive probability, root first) and `choices` (a read-only\n"
     "mapping from every node where a player moves to its chosen child); it can be passed as\n"
     "`highlight` to export_svg() and export_tikz()."},
    {"get_ref", Game_get_ref, METH_NOARGS, "get_ref($self)\n--\n\n"},
    {"length", Game_length, METH_NOARGS, "length($self)\n--\n\n"},
    {},
};

PyType_Slot game_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Game_constructor::tp_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Game>)},
    {Py_tp_getset, game_getset},
    {Py_tp_methods, game_methods},
    {Py_nb_add, reinterpret_cast<void*>(Game_add)},
    {Py_tp_str, reinterpret_cast<void*>(Game_str)},
    {0, nullptr},
};

ClassDef game_class{"Game",
                    "kelvora.Game",
                    "(title=None, players=None, gametype=None)",
                    sizeof(Cell<Game>),
                    game_slots,
                    nullptr,
                    0,
                    Game_constructor::vectorcall};

}  // namespace

template <>
ClassDef& class_def<Type>() {
  return type_class;
}

template <>
ClassDef& class_def<Game>() {
  return game_class;
}

}  // namespace kelvora
