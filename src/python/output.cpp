// The strs and files that the renderers' texts go into for the Python calls.
#include "python/output.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "machine.hpp"
#include "write/file.hpp"

namespace kelvora {
namespace {

// UTF-8 text decoded into characters of type Char, `step` bytes at a time, after each of
// which `done(offset)` is told how far the text has been read. The text is valid UTF-8: it
// comes from Python strs.
template <class Char, class Done>
void decode_utf8(const unsigned char* in, std::size_t size, Char* out, std::size_t step,
                 Done done) {
  for (std::size_t i = 0; i < size; done(i)) {
    for (const std::size_t stop = std::min(size, i + step); i < stop;) {
      const std::uint32_t c = in[i];
      if (c < 0x80) {
        *out++ = static_cast<Char>(c);
        ++i;
        continue;
      }
      const unsigned length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      std::uint32_t code = c & (0x7F >> length);
      for (unsigned k = 1; k < length; ++k) code = code << 6 | (in[i + k] & 0x3F);
      *out++ = static_cast<Char>(code);
      i += length;
    }
  }
}

Ref new_str(std::size_t length, Py_UCS4 widest) {
  Ref str = Ref::steal(PyUnicode_New(static_cast<Py_ssize_t>(length), widest));
  if (!str) throw Error::fetch();
  return str;
}

// A str cut to `length` characters; a failure leaves it as it was. Shrinking keeps the object
// where it is.
void resize_str(Ref& str_ref, std::size_t length) {
  PyObject* str = str_ref.release();
  const int failed = PyUnicode_Resize(&str, static_cast<Py_ssize_t>(length));
  str_ref = Ref::steal(str);
  if (failed != 0) throw Error::fetch();
}

// A text of up to a MiB is written into a block kept from call to call (calls never overlap
// under the interpreter lock), whose pages are already there, and copied into a str of its
// size at the end: faster than growing a str in fresh memory.
constexpr std::size_t kept_size = std::size_t{1} << 20;
char* kept_block = nullptr;  // made by the first text that asks for it

// Raises the OSError that open() raises for the system error `code` on `filename`.
[[noreturn]] void raise_os_error(int code, PyObject* filename) {
  errno = code;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename);
  throw Error::fetch();
}

}  // namespace

std::span<char> StrDestination::grow(std::size_t used, std::size_t size) {
  if (!str_ && size <= kept_size) {
    if (kept_block == nullptr) kept_block = static_cast<char*>(std::malloc(kept_size));
    if (kept_block != nullptr) return {kept_block, kept_size};
  }
  if (size == 0) return {};  // no kept block: the str is made once there is text
  if (!str_) {
    // At once a block that the allocator maps for itself (its pages are touched only as they
    // are written), which it then remaps as it grows and shrinks, never copying it.
    // Where the address space is too tight for that, a block of the size asked for.
    const std::size_t wanted = size;
    size = std::max(size, std::size_t{64} << 20);
    str_ = Ref::steal(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
    if (!str_ && size > wanted) {
      PyErr_Clear();
      str_ = new_str(size = wanted, 127);
    }
    if (!str_) throw Error::fetch();
    if (used > 0) std::memcpy(data(), kept_block, used);
  } else {
    resize_str(str_, size);
  }
  advise_huge_pages(str_.get(), data() + size + 1);
  return {data(), size};
}

void StrDestination::finish(std::size_t size, unsigned width) {
  if (width == 0 && str_) return resize_str(str_, size);
  if (width == 0) {
    str_ = new_str(size, 127);
    return static_cast<void>(std::memcpy(data(), kept_block, size));
  }
  const char* text = str_ ? data() : kept_block;
  Ref utf8 = std::move(str_);
  constexpr Py_UCS4 widest[] = {127, 0xFF, 0xFFFF, 0x10FFFF};
  std::size_t length = 0;
  for (std::size_t i = 0; i < size; ++i) length += (text[i] & 0xC0) != 0x80;
  str_ = new_str(length, widest[width]);
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  void* out = PyUnicode_DATA(str_.get());
  // Pages of the UTF-8 that have been read, whole and inside the buffer, are given back.
  constexpr std::uintptr_t page = 4096;
  const auto begin = (reinterpret_cast<std::uintptr_t>(text) + page - 1) & ~(page - 1);
  auto done = [&](std::size_t read) {
    const auto end = (reinterpret_cast<std::uintptr_t>(text) + read) & ~(page - 1);
    if (utf8 && end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
  };
  constexpr std::size_t step = std::size_t{1} << 20;
  switch (PyUnicode_KIND(str_.get())) {
    case PyUnicode_1BYTE_KIND: return decode_utf8(in, size, static_cast<Py_UCS1*>(out), step, done);
    case PyUnicode_2BYTE_KIND: return decode_utf8(in, size, static_cast<Py_UCS2*>(out), step, done);
    default: return decode_utf8(in, size, static_cast<Py_UCS4*>(out), step, done);
  }
}

FilePath to_path(PyObject* obj) {
  Ref name = Ref::steal(PyOS_FSPath(obj));
  if (!name) throw Error::fetch();
  PyObject* encoded = nullptr;
  if (PyUnicode_FSConverter(name.get(), &encoded) == 0) throw Error::fetch();
  return FilePath{std::move(name), Ref::steal(encoded)};
}

void write_file(const FilePath& path, std::string_view text) {
  // Ctrl-C (or any signal whose handler raises) stops a blocked open.
  const int failure = replace_file(PyBytes_AS_STRING(path.encoded.get()), text, [] {
    if (PyErr_CheckSignals() != 0) throw Error::fetch();
  });
  if (failure != 0) raise_os_error(failure == write_zero ? ENOSPC : failure, path.name.get());
}

}  // namespace kelvora
