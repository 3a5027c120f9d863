// The Python class Variable, over the record of tree/utility.hpp.
#pragma once

#include "classes.hpp"
#include "tree/utility.hpp"

namespace kelvora {

template <>
ClassDef& class_def<Variable>();

}  // namespace kelvora
