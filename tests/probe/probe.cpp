// _kelvora_probe: a test-only extension built from kelvora's own boundary sources. It reaches
// the parts of the call boundary that the public classes use only in particular ways: every
// conversion, every argument-matching shape, borrows held across calls into Python, faults;
// and the node records that only the exports read.
#include "args.hpp"
#include "classes.hpp"
#include "convert.hpp"
#include "entry.hpp"
#include "python/game.hpp"
#include "python/node.hpp"
#include "python/variable.hpp"

namespace kelvora {
namespace {

// A value converted by `kind`, handed back as a Python object.
Ref convert_by_kind(const std::string& kind, PyObject* obj) {
  if (kind == "text") return to_py(to_text(obj));
  if (kind == "i32") return to_py(std::int64_t{to_i32(obj)});
  if (kind == "i64") return to_py(to_i64(obj));
  if (kind == "u64") return to_py(to_u64(obj));
  if (kind == "f32") return Ref::steal(PyFloat_FromDouble(to_f32(obj)));
  if (kind == "list_i32") {
    return to_py_list(to_list(obj, to_i32), [](std::int32_t v) { return to_py(std::int64_t{v}); });
  }
  if (kind == "player") return to_py(copy_of<Player>(obj).name);
  if (kind == "player_ref") return ref_of<Player>(obj);
  if (kind == "list_player") {
    return to_py_list(to_list(obj, copy_of<Player>), [](const Player& p) { return wrap(p); });
  }
  throw Fault("unknown conversion " + kind);
}

constexpr const char* convert_params[] = {"kind", "value"};
constexpr CallSpec convert_spec{nullptr, "convert", convert_params, 2, 0, 2};

PyObject* probe_convert(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry([&] {
    auto m = match_fast<2>(convert_spec, args, nargs, kwnames);
    std::string kind = argument(convert_spec, 0, m.slot[0], to_text);
    return argument(convert_spec, 1, m.slot[1],
                    [&](PyObject* obj) { return convert_by_kind(kind, obj); });
  });
}

// Argument-matching shapes: the matched slots as a tuple (None for empty), then the surplus.
constexpr const char* abc[] = {"a", "b", "c"};
constexpr KeywordOnly kw_only[] = {{"k", true}, {"opt", false}};
constexpr CallSpec shapes[] = {
    {"Probe", "all_required", abc, 3, 0, 3},
    {"Probe", "some_required", abc, 3, 0, 1},
    {"Probe", "none_required", abc, 1, 0, 0},
    {nullptr, "keyword_only", abc, 1, 0, 1, kw_only, 2},
    {"Probe", "positional_only", abc, 3, 2, 0},
    {"Probe", "collect", abc, 1, 0, 1, nullptr, 0, true},
    {"Probe", "one_required", abc, 1, 0, 1},
    {"Probe", "no_parameters", abc, 0, 0, 0},
};

PyObject* probe_match(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return entry([&]() -> Ref {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs < 1) throw Error::with_message(PyExc_TypeError, "shape index needed");
    const std::int64_t shape = to_i64(args[0]);
    if (shape < 0 || shape >= static_cast<std::int64_t>(std::size(shapes))) {
      throw Error::with_message(PyExc_IndexError, "no such shape");
    }
    const CallSpec& spec = shapes[shape];
    auto m = match_fast<4>(spec, args + 1, nargs - 1, kwnames);
    Ref out = Ref::steal(PyTuple_New(spec.slot_count() + 1));
    if (!out) throw Error::fetch();
    for (std::size_t i = 0; i < spec.slot_count(); ++i) {
      PyTuple_SET_ITEM(out.get(), i, Py_NewRef(m.slot[i] ? m.slot[i] : Py_None));
    }
    PyTuple_SET_ITEM(out.get(), spec.slot_count(),
                     m.surplus ? m.surplus.release() : Py_NewRef(Py_None));
    return out;
  });
}

// Raises an internal fault carrying `message`.
PyObject* probe_fault(PyObject*, PyObject* message) {
  return entry([&]() -> Ref { throw Fault(to_text(message)); });
}

// Runs `call` while a borrow (`kind`: "shared" or "exclusive"; `how`: checked or fatal) of the
// probe instance `obj` of record type T is held.
template <class T, class Call>
Ref holding(const std::string& kind, PyObject* obj, OnConflict how, Call&& call) {
  if (kind == "shared") {
    auto held = shared<T>(obj, how);
    return call();
  }
  auto held = exclusive<T>(obj, how);
  return call();
}

template <class Call>
Ref holding_any(const std::string& kind, PyObject* obj, OnConflict how, Call&& call) {
  if (is_instance<Variable>(obj)) return holding<Variable>(kind, obj, how, call);
  if (is_instance<Decision>(obj)) return holding<Decision>(kind, obj, how, call);
  if (is_instance<Game>(obj)) return holding<Game>(kind, obj, how, call);
  if (is_instance<Type>(obj)) return holding<Type>(kind, obj, how, call);
  return holding<Player>(kind, obj, how, call);
}

// Holds a borrow of `obj` (a probe Player, Variable, Decision, Game or Type) while `callback`
// runs; returns its result.
PyObject* probe_hold(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return entry([&]() -> Ref {
    if (nargs != 3) throw Error::with_message(PyExc_TypeError, "hold(kind, obj, callback)");
    return holding_any(to_text(args[0]), args[1], OnConflict::raise, [&] {
      Ref result = Ref::steal(PyObject_CallNoArgs(args[2]));
      if (!result) throw Error::fetch();
      return result;
    });
  });
}

// Takes a fatal borrow of a probe instance, as the tree walks do.
PyObject* probe_fatal(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return entry([&]() -> Ref {
    if (nargs != 2) throw Error::with_message(PyExc_TypeError, "fatal(kind, obj)");
    return holding_any(to_text(args[0]), args[1], OnConflict::fault, [] { return none(); });
  });
}

Ref variable_fields(const Variable& v) {
  auto ids = [](const std::vector<std::uint64_t>& list) {
    return to_py_list(list, [](std::uint64_t id) { return to_py(id); });
  };
  return Ref::steal(Py_BuildValue("(NNNNN)", to_py(v.name).release(), to_py(v.id).release(),
                                  ids(v.lower).release(), ids(v.higher).release(),
                                  ids(v.equal).release()));
}

// What a probe Decision holds beyond its attributes: (node_id, payoff), the payoff being None,
// ("Numeric", [ints]) or ("Symbolic", [(name, id, lower, higher, equal), ...]).
PyObject* probe_node(PyObject*, PyObject* node) {
  return entry([&]() -> Ref {
    auto record = shared<Decision>(node);
    Ref payoff = none();
    if (record->payoff) {
      if (record->payoff.is_numeric()) {
        const auto numbers = record->payoff.numbers();
        payoff = Ref::steal(
            Py_BuildValue("(sN)", "Numeric",
                          to_py_list(std::vector<std::int32_t>(numbers.begin(), numbers.end()),
                                     [](std::int32_t v) { return to_py(std::int64_t{v}); })
                              .release()));
      } else {
        payoff = Ref::steal(Py_BuildValue(
            "(sN)", "Symbolic", to_py_list(record->payoff.variables(), variable_fields).release()));
      }
    }
    return Ref::steal(Py_BuildValue("(NN)", to_py(record->node_id).release(), payoff.release()));
  });
}

// A new probe Decision holding a record copy of `node`: texts and payoff duplicated, the
// children shared (one more reference to each), the node number kept.
PyObject* probe_copy(PyObject*, PyObject* node) {
  return entry([&] {
    auto record = shared<Decision>(node);
    Children children;
    for (PyObject* child : record->children) children.push_back(Ref::borrow(child));
    return wrap(Decision{record->player, record->name, record->payoff, std::move(children),
                         record->node_id, record->information_set_number,
                         record->has_information_set});
  });
}

// The bytes that a game's player count is bounded by, per player.
PyObject* probe_bytes_per_player(PyObject*, PyObject*) {
  return entry([] { return to_py(bytes_per_player); });
}

PyType_Slot broken_slots[] = {{0, nullptr}};
Ref refuse_attr() { throw Error::with_message(PyExc_ValueError, "attribute refused"); }
const ClassAttr broken_attrs[] = {{"First", refuse_attr}};
ClassDef broken_class{"Broken",     "kelvora.Broken", nullptr, sizeof(Cell<Player>),
                      broken_slots, broken_attrs,     1};
Ref make_answer() { return to_py(std::int64_t{42}); }
const ClassAttr plain_attrs[] = {{"Answer", make_answer}};
ClassDef plain_class{"Plain",      "kelvora.Plain", nullptr, sizeof(Cell<Player>),
                     broken_slots, plain_attrs,     1};

// Registers a class on `module`: the probe Player; "Plain", a class without constructor with
// the class attribute Answer = 42; or "Broken", whose class attribute cannot be made.
PyObject* probe_register(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return entry([&]() -> Ref {
    if (nargs != 2) throw Error::with_message(PyExc_TypeError, "register(module, name)");
    const std::string name = to_text(args[1]);
    register_class(args[0], name == "Player"  ? class_def<Player>()
                            : name == "Plain" ? plain_class
                                              : broken_class);
    return none();
  });
}

PyMethodDef probe_methods[] = {
    {"convert", as_method(probe_convert), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"match", as_method(probe_match), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"fault", probe_fault, METH_O, nullptr},
    {"hold", as_method(probe_hold), METH_FASTCALL, nullptr},
    {"fatal", as_method(probe_fatal), METH_FASTCALL, nullptr},
    {"register", as_method(probe_register), METH_FASTCALL, nullptr},
    {"node", probe_node, METH_O, nullptr},
    {"copy", probe_copy, METH_O, nullptr},
    {"bytes_per_player", probe_bytes_per_player, METH_NOARGS, nullptr},
    {},
};

PyModuleDef probe_def = {PyModuleDef_HEAD_INIT,
                         "_kelvora_probe",
                         nullptr,
                         -1,
                         probe_methods,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr};

}  // namespace
}  // namespace kelvora

PyMODINIT_FUNC PyInit__kelvora_probe() {
  return kelvora::entry([] {
    kelvora::Ref module = kelvora::Ref::steal(PyModule_Create(&kelvora::probe_def));
    if (!module) throw kelvora::Error::fetch();
    kelvora::register_class(module.get(), kelvora::class_def<kelvora::Game>());
    kelvora::register_class(module.get(), kelvora::class_def<kelvora::Type>());
    kelvora::register_class(module.get(), kelvora::class_def<kelvora::Variable>());
    kelvora::register_class(module.get(), kelvora::class_def<kelvora::Decision>());
    kelvora::register_class(module.get(), kelvora::class_def<kelvora::Player>());
    return module;
  });
}
