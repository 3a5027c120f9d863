// The DOT renderer: the node lines in pre-order, then the edge lines, each edge after the
// subtree of the child it leads to. One walk writes the node lines into the text and the edge
// lines aside, to be appended when the walk is done.
#include "export/dot.hpp"

#include <limits>

#include "export/walk.hpp"

namespace kelvora {
namespace {

// An index that no node or edge may take: it stands for "no index".
constexpr std::uint32_t reserved_index = std::numeric_limits<std::uint32_t>::max();

// Writes a label with quotes and backslashes escaped and line feeds as \l.
void put_escaped(walk::Out& out, std::string_view label) {
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

void put_escaped(walk::Out& out, const Text& name) {
  if (name.needs_escape()) return put_escaped(out, name.view());
  out.put_name(name);
}

// The label of a node: its integer payoff pair, or the player of its first child. A symbolic
// payoff counts only at a leaf, which shows the names of its first two variables.
void put_label(walk::Out& out, const Decision& node) {
  if (node.payoff && (node.payoff.is_numeric() || node.children.empty())) {
    out.put("label=below:{$");
    walk::put_payoff_pair(out, node.payoff,
                          [](walk::Out& to, std::string_view name) { put_escaped(to, name); });
    out.put("$}");
  } else {
    put_escaped(out, walk::first_child_player(node));
  }
}

// A node index in decimal, counted up one at a time without dividing. The digits end at
// `end`, and 16 bytes from the first digit are readable.
class Counter {
 public:
  Counter() { std::memset(digits_, '0', sizeof digits_); }
  const char* text() const { return digits_ + first_; }
  std::size_t size() const { return end - first_; }
  void next() {
    std::size_t i = end - 1;
    while (digits_[i] == '9') digits_[i--] = '0';
    ++digits_[i];
    if (i < first_) first_ = i;
  }

 private:
  static constexpr std::size_t end = 16;
  char digits_[end + 16];
  std::size_t first_ = end - 1;
};

struct Frame {
  const Decision* node;
  std::size_t next_child;
  std::size_t index_size;
  char index[16];  // the node's index, as Counter::text() was
};

}  // namespace

void render_dot(PyObject* root_node, Destination& destination) {
  const Decision& root = read_node(root_node);
  if (root.children.empty()) walk::out_of_bounds(0, 0);

  walk::Out nodes(destination);
  MemoryDestination aside;
  walk::Out edges(aside);
  walk::Path<Frame> path;
  walk::Progress progress;
  Counter counter;
  std::uint32_t node_count = 0;

  auto enter = [&](const Decision& node) {
    Frame frame{&node, 0, counter.size(), {}};
    std::memcpy(frame.index, counter.text(), 16);
    path.push(frame);
    nodes.put("    ");
    nodes.put_padded(counter.text(), counter.size());
    nodes.put(" [ label = \"");
    put_label(nodes, node);
    nodes.put("\" ]\n");
    if (node_count == reserved_index) {
      throw RenderFailure(RenderFailure::Kind::fault,
                          "node index out of range: a graph holds at most 4294967295 nodes");
    }
    ++node_count;
    counter.next();
    progress.step(nodes.size() + edges.size());
  };

  // Every edge ends at a node entered after the root, so there is always one edge fewer
  // than nodes and the edge indices stay below the reserved one as well.
  nodes.put("digraph {\n");
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
    edges.put_padded(path.top().index, path.top().index_size);
    edges.put(" -> ");
    edges.put_padded(done.index, done.index_size);
    edges.put(" [ label = \"");
    put_escaped(edges, done.node->name);
    edges.put("\" ]\n");
  }
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
