// The Python class Variable and its comparisons.
#include "python/variable.hpp"

#include "convert.hpp"
#include "entry.hpp"

namespace kelvora {
namespace {

constexpr const char* variable_params[] = {"name"};
constexpr CallSpec variable_new_spec{"Variable", "__new__", variable_params, 1, 0, 1};

Ref make_variable(PyTypeObject* type, Matched<1>& matched) {
  std::string name = argument(variable_new_spec, 0, matched.slot[0], to_text);
  // Drawn only once the arguments are good and the object is made: a failed call uses no id.
  Ref obj = construct(type, Variable{std::move(name), {}, {}, {}, 0});
  new_value<Variable>(obj).id = next_variable_id();
  return obj;
}
using Variable_constructor = Constructor<1, variable_new_spec, make_variable>;

// The ids are copied out before the list is made: making a list can start the garbage
// collector, which runs Python code, and no borrow may be held while Python code runs.
Ref id_list(PyObject* self, std::vector<std::uint64_t> Variable::* field) {
  const std::vector<std::uint64_t> ids = (*shared<Variable>(self)).*field;
  return to_py_list(ids, [](std::uint64_t id) { return to_py(id); });
}

PyObject* Variable_get_name(PyObject* self, void*) {
  return entry([&] { return to_py(shared<Variable>(self)->name); });
}

PyObject* Variable_get_id(PyObject* self, void*) {
  return entry([&] { return to_py(shared<Variable>(self)->id); });
}

PyObject* Variable_get_lower(PyObject* self, void*) {
  return entry([&] { return id_list(self, &Variable::lower); });
}

PyObject* Variable_get_higher(PyObject* self, void*) {
  return entry([&] { return id_list(self, &Variable::higher); });
}

PyObject* Variable_get_equal(PyObject* self, void*) {
  return entry([&] { return id_list(self, &Variable::equal); });
}

// left OP right records right's id on left and answers a copy of right. Operands of another
// kind, or busy ones (among them `a OP a`), are declined rather than refused, so the
// interpreter's own fallbacks apply.
PyObject* Variable_richcompare(PyObject* left, PyObject* right, int op) {
  return entry([&]() -> Ref {
    if (!is_instance<Variable>(left)) return not_implemented();
    auto* left_cell = reinterpret_cast<Cell<Variable>*>(left);
    if (left_cell->borrow != 0) return not_implemented();
    Exclusive<Variable> lhs(left_cell, OnConflict::raise);
    if (!is_instance<Variable>(right)) return not_implemented();
    auto* right_cell = reinterpret_cast<Cell<Variable>*>(right);
    if (right_cell->borrow == -1) return not_implemented();
    Shared<Variable> rhs(right_cell, OnConflict::raise);
    std::vector<std::uint64_t>* ids = nullptr;
    switch (op) {
      case Py_LT: ids = &lhs->higher; break;
      case Py_GT: ids = &lhs->lower; break;
      case Py_EQ: ids = &lhs->equal; break;
      case Py_LE:
      case Py_NE:
      case Py_GE: break;
      default: return not_implemented();
    }
    // The copy first: when it cannot be made, `left` stays as it was.
    Ref copy = wrap(Variable(*rhs));
    if (ids != nullptr) ids->push_back(rhs->id);
    return copy;
  });
}

PyGetSetDef variable_getset[] = {
    {"name", Variable_get_name, nullptr, "", nullptr},
    {"id", Variable_get_id, nullptr, "", nullptr},
    {"lower", Variable_get_lower, nullptr, "", nullptr},
    {"higher", Variable_get_higher, nullptr, "", nullptr},
    {"equal", Variable_get_equal, nullptr, "", nullptr},
    {},
};

PyType_Slot variable_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Variable_constructor::tp_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Variable>)},
    {Py_tp_getset, variable_getset},
    {Py_tp_richcompare, reinterpret_cast<void*>(Variable_richcompare)},
    {0, nullptr},
};

ClassDef variable_class{"Variable",
                        "kelvora.Variable",
                        "(name)",
                        sizeof(Cell<Variable>),
                        variable_slots,
                        nullptr,
                        0,
                        Variable_constructor::vectorcall};

}  // namespace

template <>
ClassDef& class_def<Variable>() {
  return variable_class;
}

}  // namespace kelvora
