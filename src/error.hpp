// Errors at the call boundary: pending Python exceptions (Error) and internal faults (Fault).
#pragma once

#include <initializer_list>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "ref.hpp"

namespace kelvora {

// A Python exception that has not been raised yet: its type plus either a value fetched from
// the interpreter or a message from which the value is made when the error is raised.
// Operations throw it; the entry guard hands it to the interpreter.
class Error {
 public:
  Error(const Error& other);
  Error(Error&&) noexcept = default;
  Error& operator=(const Error&) = delete;
  Error& operator=(Error&&) noexcept = default;
  ~Error() = default;

  // Takes the interpreter's pending exception (SystemError when there is none). A
  // PanicException raised by Python code is not an ordinary error: it is reported and
  // thrown on as a Fault.
  static Error fetch();
  // An exception of `type` whose value is made from `message` when it is raised.
  static Error with_message(PyObject* type, std::string message);
  // TypeError "'<type qualname>' object cannot be converted to '<target>'"; the text is
  // built only when the error is displayed.
  static Error mismatch(PyObject* obj, const char* target);

  // True when the exception type is exactly `type` (subclasses do not count).
  bool is(PyObject* type) const noexcept { return type_.get() == type; }
  // The text of the exception value, as str() shows it.
  std::string text();
  // A TypeError becomes "argument '<param>': <text>", keeping its own cause; any other
  // error is returned unchanged.
  Error with_argument_prefix(const char* param) &&;
  void set_cause(Ref cause) noexcept { cause_ = std::move(cause); }

  // Makes this the interpreter's pending exception.
  void restore() &&;
  // The exception instance itself (null only if even making it failed).
  Ref into_value() &&;

 private:
  Error() = default;
  void normalize();
  Ref own_cause();

  Ref type_;
  Ref value_;      // fetched value, or null when the value is still to be made
  Ref traceback_;  // of a fetched exception
  std::string message_;
  bool fetched_ = false;  // type, value and traceback came from the interpreter
  Ref mismatch_type_;     // set for a type mismatch, whose message is built late
  const char* target_ = nullptr;
  Ref cause_;
};

// Discards the interpreter's pending exception (a PanicException is still thrown on).
void discard_error();

// An internal fault: a broken invariant in an operation. Reported to standard error where it
// is made; the entry guard raises it in Python as PanicException.
class Fault {
 public:
  explicit Fault(std::string message, std::source_location where = std::source_location::current());
  Fault(const Fault& other) : message_(other.message_), cause_(other.cause_.copy()) {}
  Fault(Fault&&) noexcept = default;
  const std::string& message() const noexcept { return message_; }
  // The exception that led to the fault, raised as the PanicException's __cause__.
  const Ref& cause() const noexcept { return cause_; }
  void set_cause(Ref cause) noexcept { cause_ = std::move(cause); }

 private:
  std::string message_;
  Ref cause_;
};

// The pieces, one after the other.
std::string concat(std::initializer_list<std::string_view> parts);

// The text of any object as str() gives it, as UTF-8. Lone surrogates become U+FFFD; when
// str() itself fails the failure is reported as unraisable and a placeholder stands in.
std::string text_of(PyObject* obj);
// The UTF-8 form of a str, with the same replacement of lone surrogates.
std::string utf8_lossy(PyObject* str);
// type.__qualname__ as UTF-8, or nothing when it cannot be read as a str.
std::optional<std::string> qualname_of(PyTypeObject* type);

// Raises the exception that is being handled (the current C++ exception) in the interpreter:
// an Error as itself, a Fault as PanicException, a failed allocation as MemoryError.
void raise_current_exception() noexcept;

}  // namespace kelvora
