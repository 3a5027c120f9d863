// Where an export puts its text. A renderer measures the whole text first, then asks its
// destination once for a buffer of exactly that size and fills it: the text is written once,
// straight where it is wanted (for the module, into the Python string it returns).
#pragma once

#include <cstddef>
#include <string>

namespace kelvora {

class Destination {
 public:
  // A buffer of `size` bytes to fill; `ascii` tells whether every byte will be below 0x80.
  virtual char* allocate(std::size_t size, bool ascii) = 0;

 protected:
  ~Destination() = default;
};

// The text as a std::string.
class StringDestination final : public Destination {
 public:
  char* allocate(std::size_t size, bool) override {
    text.resize(size);
    return text.data();
  }
  std::string text;
};

}  // namespace kelvora
