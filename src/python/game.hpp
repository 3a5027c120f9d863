// The Python classes Game and Type, over the records of tree/game.hpp.
#pragma once

#include "classes.hpp"
#include "tree/game.hpp"

namespace kelvora {

template <>
ClassDef& class_def<Type>();
template <>
ClassDef& class_def<Game>();

}  // namespace kelvora
