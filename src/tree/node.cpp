// The Python class Player.
#include "tree/node.hpp"

#include "convert.hpp"
#include "entry.hpp"

namespace kelvora {
namespace {

constexpr const char* player_params[] = {"name"};
constexpr CallSpec player_new_spec{"Player", "__new__", player_params, 1, 0, 0};

PyObject* Player_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return entry([&] {
    auto matched = match_new<1>(player_new_spec, args, kwargs);
    auto name = optional_argument(player_new_spec, 0, matched.slot[0], to_text);
    return construct(type, Player{name ? std::move(*name) : "player"});
  });
}

PyObject* Player_get_name(PyObject* self, void*) {
  return entry([&] { return to_py(shared<Player>(self)->name); });
}

int Player_set_name(PyObject* self, PyObject* value, void*) {
  return entry_status([&] {
    std::string name = to_text(assigned_value(value));
    exclusive<Player>(self)->name = std::move(name);
  });
}

PyGetSetDef player_getset[] = {
    {"name", Player_get_name, Player_set_name, "", nullptr},
    {},
};

PyType_Slot player_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Player_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Player>)},
    {Py_tp_getset, player_getset},
    {0, nullptr},
};

ClassDef player_class{"Player", "kelvora.Player", "(name=None)", sizeof(Cell<Player>),
                      player_slots};

}  // namespace

template <>
ClassDef& class_def<Player>() {
  return player_class;
}

}  // namespace kelvora
