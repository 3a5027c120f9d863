// Why a rendering stopped. The renderers throw a RenderFailure; whoever called them reports it
// in its own terms (the module raises the matching Python exception).
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <utility>

namespace kelvora {

struct RenderFailure {
  enum class Kind : std::uint8_t {
    fault,        // the tree lacks what its text needs, or a renderer broke its own rule
    cycle,        // a node is among its own descendants
    too_large,    // the text would not fit in this machine's memory
    interrupted,  // the user asked the program to stop (Ctrl-C)
  };

  RenderFailure(Kind kind, std::string message,
                std::source_location where = std::source_location::current())
      : kind(kind), message(std::move(message)), where(where) {}

  Kind kind;
  std::string message;
  std::source_location where;  // where the failure was found, for the report of a fault
};

}  // namespace kelvora
