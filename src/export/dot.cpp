// The DOT renderer: the node lines in pre-order, then the edge lines, each edge after the
// subtree of the child it leads to. One walk writes both sections at once, each into its own
// part of the buffer.
#include "export/dot.hpp"

#include <cstring>
#include <limits>

#include "export/walk.hpp"

namespace kelvora {
namespace {

// An index that no node or edge may take: it stands for "no index".
constexpr std::uint32_t reserved_index = std::numeric_limits<std::uint32_t>::max();

constexpr std::string_view header = "digraph {\n";
constexpr std::string_view footer = "}\n";

// Appends a label with quotes and backslashes escaped and line feeds as \l.
template <class Sink>
void append_escaped(Sink& out, std::string_view label) {
  std::size_t plain = 0;
  for (std::size_t i = 0; i < label.size(); ++i) {
    const char c = label[i];
    if (c != '"' && c != '\\' && c != '\n') continue;
    out.put_text(label.substr(plain, i - plain));
    out.put(c == '"' ? "\\\"" : c == '\\' ? "\\\\" : "\\l");
    plain = i + 1;
  }
  out.put_text(label.substr(plain));
}

// The label of a node: its integer payoff pair, or the player of its first child. A symbolic
// payoff counts only at a leaf, which shows the names of its first two variables.
template <class Sink>
void append_label(Sink& out, const Decision& node) {
  if (node.payoff && (node.payoff.is_numeric() || node.children.empty())) {
    out.put("label=below:{$");
    walk::append_payoff_pair(out, node.payoff, append_escaped<Sink>);
    out.put("$}");
  } else {
    append_escaped(out, walk::first_child_player(node));
  }
}

struct Frame {
  const Decision* node;
  std::uint32_t index;
  std::size_t next_child;
};

// Walks the tree from `root` (checked to have children), writing node lines to `nodes` and
// edge lines to `edges`.
template <class Sink>
void write_tree(const Decision& root, Sink& nodes, Sink& edges) {
  std::uint32_t node_count = 0;
  walk::Path<Frame> path;
  walk::Progress progress;

  auto enter = [&](const Decision& node) {
    path.push(Frame{&node, node_count, 0});
    nodes.put("    ");
    walk::append_number(nodes, node_count);
    nodes.put(" [ label = \"");
    append_label(nodes, node);
    nodes.put("\" ]\n");
    if (node_count == reserved_index) {
      throw RenderFailure(RenderFailure::Kind::fault,
                          "node index out of range: a graph holds at most 4294967295 nodes");
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
      enter(read_node(top.node->children[top.next_child++]));
      continue;
    }
    const Frame done = path.pop();
    if (path.empty()) break;
    edges.put("    ");
    walk::append_number(edges, path.top().index);
    edges.put(" -> ");
    walk::append_number(edges, done.index);
    edges.put(" [ label = \"");
    append_escaped(edges, done.node->name);
    edges.put("\" ]\n");
  }
}

}  // namespace

void render_dot(const Game& game, Destination& destination) {
  const Decision& root = read_node(game.root.get());
  if (root.children.empty()) walk::out_of_bounds(0, 0);

  walk::Measure node_size, edge_size;
  write_tree(root, node_size, edge_size);

  const std::size_t size = header.size() + node_size.size() + edge_size.size() + footer.size();
  char* text = destination.allocate(size, node_size.ascii() && edge_size.ascii());
  std::memcpy(text, header.data(), header.size());
  walk::Cursor nodes(text + header.size(), node_size.size());
  walk::Cursor edges(text + header.size() + node_size.size(), edge_size.size());
  write_tree(root, nodes, edges);
  if (!nodes.full() || !edges.full()) walk::Cursor::overrun();
  std::memcpy(text + size - footer.size(), footer.data(), footer.size());
}

}  // namespace kelvora
