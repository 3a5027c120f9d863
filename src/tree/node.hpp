// Records of the nodes of a game tree and of the players who move at them.
#pragma once

#include <string>

#include "classes.hpp"

namespace kelvora {

// A participant of a game, known only by name. Copied wherever it is handed over.
struct Player {
  std::string name;
};

template <>
ClassDef& class_def<Player>();

}  // namespace kelvora
