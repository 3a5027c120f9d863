// A laid-out game tree as an SVG 1.1 document.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "layout/layout.hpp"

namespace kelvora::draw {

// Where the document goes: asked once for a block of `bound` bytes, more than the document
// will take (untouched memory costs nothing), then told how much was written and whether it
// is all ASCII.
class Output {
 public:
  virtual char* reserve(std::size_t bound) = 0;
  virtual void finish(std::size_t size, bool ascii) = 0;

 protected:
  ~Output() = default;
};

// The document in a block of its own.
class Block final : public Output {
 public:
  char* reserve(std::size_t bound) override;
  void finish(std::size_t size, bool) override { size_ = size; }
  std::string_view text() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

// The document: its title, the information-set lines (dashed), the edges, the nodes (decision
// nodes filled, leaves hollow) and the labels, every text escaped for XML. Numbers have at
// most two decimals, so the same drawing always gives the same text.
void svg(const layout::Drawing& drawing, std::string_view title, Output& out);

}  // namespace kelvora::draw
