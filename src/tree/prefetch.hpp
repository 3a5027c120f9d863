// Asking for a node's memory before it is read. A walk over a tree whose nodes were made in an
// order of their own finds each record far from the last, and waits for memory at every node;
// a walk that names the records it will reach next has their loads overlap instead.
#pragma once

#include <Python.h>

#include "cell.hpp"
#include "tree/node.hpp"

namespace kelvora {

// A hint that `address` will be read soon; it never faults, whatever the address.
inline void prefetch(const void* address) { __builtin_prefetch(address, 0, 3); }

// The record of a node object (a Decision object), unchecked: for reading ahead of a walk,
// which checks each node as it enters it.
inline const Decision& peek_node(PyObject* node) {
  return reinterpret_cast<const Cell<Decision>*>(node)->value;
}

// The record of a node object: every cache line from its player's name to its borrow word,
// which is what a walk reads of it (two or three lines of 64 bytes).
inline void prefetch_node(PyObject* node) {
  const auto* cell = reinterpret_cast<const Cell<Decision>*>(node);
  const char* first = reinterpret_cast<const char*>(&cell->value.player);
  const char* last = reinterpret_cast<const char*>(&cell->borrow + 1) - 1;
  static_assert(sizeof(Cell<Decision>) - sizeof(PyObject) <= 2 * 64 + 1,
                "three prefetches cover the record");
  prefetch(first);
  prefetch(first + 64);
  prefetch(last);
}

// What a record that has been read points to: its array of children, and its names and payoff
// where they are kept on the heap.
inline void prefetch_reached(const Decision& node) {
  if (!node.children.empty()) prefetch(node.children.begin());
  if (const char* name = node.name.heap_block()) prefetch(name);
  if (const char* name = node.player.name.heap_block()) prefetch(name);
  if (const void* payoff = node.payoff.heap_block()) prefetch(payoff);
}

}  // namespace kelvora
