// The ids of variables.
#include "tree/utility.hpp"

#include <atomic>

namespace kelvora {
namespace {

// The id of the next variable; ids are never reused within a process.
std::atomic<std::uint64_t> variable_counter{0};

}  // namespace

std::uint64_t next_variable_id() { return variable_counter.fetch_add(1); }

}  // namespace kelvora
