// The Python classes Player and Decision, over the records of tree/node.hpp.
#pragma once

#include "classes.hpp"
#include "tree/node.hpp"

namespace kelvora {

template <>
ClassDef& class_def<Player>();
template <>
ClassDef& class_def<Decision>();

}  // namespace kelvora
