// The DOT renderer: one walk that writes the node lines in pre-order and, in a second buffer,
// the edge lines, each after the subtree of the child it leads to.
#include "export/dot.hpp"

#include <limits>

#include "export/walk.hpp"

namespace kelvora {
namespace {

// An index that no node or edge may take: it stands for "no index".
constexpr std::uint32_t reserved_index = std::numeric_limits<std::uint32_t>::max();

// Appends a label with quotes and backslashes escaped and line feeds as \l.
void append_escaped(std::string& out, std::string_view label) {
  for (const char c : label) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\l"; break;
      default: out += c;
    }
  }
}

// The label of a node: its payoff pair, or the player of its first child.
void append_label(std::string& out, const Decision& node) {
  if (node.payoff) {
    out += "label=below:{$";
    walk::append_payoff_pair(out, *node.payoff, append_escaped);
    out += "$}";
  } else {
    append_escaped(out, walk::first_child_player(node));
  }
}

struct Frame {
  const Decision* node;
  std::uint32_t index;
  std::size_t next_child;
};

}  // namespace

std::string render_dot(const Game& game) {
  const Decision& root = walk::read(game.root.get());
  if (root.children.empty()) walk::out_of_bounds(0, 0);

  std::string nodes = "digraph {\n";
  std::string edges;
  std::uint32_t node_count = 0;
  walk::Path<Frame> path;
  walk::Progress progress;

  auto enter = [&](const Decision& node) {
    path.push(Frame{&node, node_count, 0});
    nodes += "    ";
    walk::append_number(nodes, node_count);
    nodes += " [ label = \"";
    append_label(nodes, node);
    nodes += "\" ]\n";
    if (node_count == reserved_index) {
      throw Fault("node index out of range: a graph holds at most 4294967295 nodes");
    }
    ++node_count;
    progress.step(nodes.size() + edges.size());
  };

  // Every edge ends at a node entered after the root, so there is always one edge fewer
  // than nodes and the edge indices stay below the reserved one as well.
  enter(root);
  while (!path.empty()) {
    Frame& top = path.top();
    if (top.next_child < top.node->children.size()) {
      enter(walk::read(top.node->children[top.next_child++].get()));
      continue;
    }
    const Frame done = path.pop();
    if (path.empty()) break;
    edges += "    ";
    walk::append_number(edges, path.top().index);
    edges += " -> ";
    walk::append_number(edges, done.index);
    edges += " [ label = \"";
    append_escaped(edges, done.node->name);
    edges += "\" ]\n";
  }
  nodes += edges;
  nodes += "}\n";
  return nodes;
}

}  // namespace kelvora
