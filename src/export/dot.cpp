// The DOT renderer: the node lines in pre-order, then the edge lines, each edge after the
// subtree of the child it leads to. One walk writes the node lines into the text and the edge
// lines aside, to be appended when the walk is done.
#include "export/dot.hpp"

#include "write/walk.hpp"

namespace kelvora {
namespace {

// An index that no node or edge may take: it stands for "no index" (2**32 - 1).
constexpr char reserved_index[] = "4294967295";

// Writes a label with quotes and backslashes escaped and line feeds as \l.
void put_escaped(walk::Out& out, std::string_view label) {
  out.note_width(Text::width_of(label));
  for (const char& c : label) {
    out.put(c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\l" : std::string_view(&c, 1));
  }
}

void put_escaped(walk::Out& out, const Text& name) {
  if (name.needs_escape()) return put_escaped(out, name.view());
  out.put_name(name);
}

// The label of a node: its numeric payoff pair, or the player of its first child. A symbolic
// payoff counts only at a leaf, which shows the names of its first two variables.
void put_label(walk::Out& out, const Decision& node) {
  if (node.payoff && (!node.payoff.is_symbolic() || node.children.empty())) {
    out.put("label=below:{$");
    walk::put_payoff_pair(out, node.payoff,
                          [](walk::Out& to, std::string_view name) { put_escaped(to, name); });
    out.put("$}");
  } else {
    put_escaped(out, walk::first_child_player(node));
  }
}

// A node index in decimal, counted up one at a time without dividing: 16 bytes, of which the
// first `size` are the digits.
struct Index {
  char digits[16] = {'0'};
  std::size_t size = 1;
  void next() {
    std::size_t i = size;
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i > 0) return static_cast<void>(++digits[i - 1]);
    digits[0] = '1';
    digits[size++] = '0';
  }
};

}  // namespace

void render_dot(PyObject* root_node, Destination& destination) {
  const Decision& root = read_node(root_node);
  if (root.children.empty()) walk::out_of_bounds(0, 0);

  walk::Out nodes(destination);
  MemoryDestination aside;
  walk::Out edges(aside);
  Index index;
  nodes.put("digraph {\n");
  // Every edge ends at a node entered after the root, so there is always one edge fewer
  // than nodes and the edge indices stay below the reserved one as well.
  auto enter = [&](const Decision& node, std::size_t) {
    nodes.put("    ");
    nodes.put_padded(index.digits, index.size);
    nodes.put(" [ label = \"");
    put_label(nodes, node);
    nodes.put("\" ]\n");
    if (index.size == 10 && std::memcmp(index.digits, reserved_index, 10) == 0) {
      throw RenderFailure(RenderFailure::Kind::fault,
                          "node index out of range: a graph holds at most 4294967295 nodes");
    }
    const Index entered = index;
    index.next();
    return entered;
  };
  auto leave = [&](const Decision& node, const Index& done, const Index& parent) {
    edges.put("    ");
    edges.put_padded(parent.digits, parent.size);
    edges.put(" -> ");
    edges.put_padded(done.digits, done.size);
    edges.put(" [ label = \"");
    put_escaped(edges, node.name);
    edges.put("\" ]\n");
  };
  walk::depth_first<Index>(root, enter, leave, [&] { return nodes.size() + edges.size(); });
  edges.finish();
  // The edge lines join the text a few MiB at a time, each part given back once copied.
  const std::string_view lines = aside.text();
  constexpr std::size_t part = std::size_t{4} << 20;
  nodes.note_width(edges.widest());
  for (std::size_t at = 0; at < lines.size(); at += part) {
    nodes.put(lines.substr(at, part));
    aside.release_before(at + part);
  }
  nodes.put("}\n");
  nodes.finish();
}

}  // namespace kelvora
