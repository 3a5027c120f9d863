// Pending errors, internal faults, PanicException and the text of objects in messages.
#include "error.hpp"

#include <cstdio>
#include <exception>
#include <new>

namespace kelvora {
namespace {

// The binding layer's own name, used for PanicException's module and in panic reports.
constexpr const char* runtime_name = "kelvora_runtime";

// Made on first use and kept for the life of the process (guarded by the interpreter lock).
PyObject* panic_type = nullptr;

// The class, or null with the interpreter's error set when it cannot be made (out of memory:
// a MemoryError, which is then raised in place of the panic, so that the process lives on).
PyObject* panic_exception_type() noexcept {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc(
        "kelvora_runtime.PanicException",
        "Raised when kelvora's native code called from Python panics.\n\n"
        "Like SystemExit, it derives from BaseException, so that it typically propagates all\n"
        "the way through the stack and makes the interpreter exit.\n",
        PyExc_BaseException, nullptr);
    if (panic_type == nullptr) {
      std::fputs("kelvora: internal fault: Failed to initialize new exception type.\n", stderr);
      if (!PyErr_Occurred()) PyErr_NoMemory();
      return nullptr;
    }
  }
  return panic_type;
}

// Raises PanicException(message); any failure on the way (no memory for the class, the text
// or the instance) is raised instead.
void raise_panic(const std::string& message, const Ref& cause = Ref()) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;
  Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), message.size(), "replace"));
  if (!text) return;  // the failure to make the text is what is raised
  // The instance is made here rather than by the interpreter when it first looks at it:
  // out of memory, the interpreter could lose the exception that it fails to make.
  Ref value = Ref::steal(PyObject_CallOneArg(type, text.get()));
  if (!value) return;
  if (cause) PyException_SetCause(value.get(), cause.copy().release());
  PyErr_SetObject(type, value.get());
}

// Prints a PanicException raised by Python code, with its traceback, to sys.stderr.
void print_resumed(Ref type, Ref value, Ref traceback) noexcept {
#if PY_VERSION_HEX < 0x030D0000
  PyErr_Restore(type.release(), value.release(), traceback.release());
  PyErr_PrintEx(0);
#else
  // From 3.13 the interpreter prints exceptions with the traceback module, Python code that
  // can spin for ever when no memory is left: the C printer of the traceback is called here
  // instead, then "<dotted class name>: <text>" as the interpreter writes it.
  PyObject* file = PySys_GetObject("stderr");
  if (file == nullptr || file == Py_None) return;
  Ref module = Ref::steal(PyObject_GetAttrString(type.get(), "__module__"));
  const bool written =
      (!traceback || PyTraceBack_Print(traceback.get(), file) == 0) && module &&
      PyFile_WriteObject(module.get(), file, Py_PRINT_RAW) == 0 &&
      PyFile_WriteString(".", file) == 0 &&
      PyFile_WriteString(reinterpret_cast<PyTypeObject*>(type.get())->tp_name, file) == 0 &&
      PyFile_WriteString(": ", file) == 0 &&
      PyFile_WriteObject(value.get(), file, Py_PRINT_RAW) == 0 &&
      PyFile_WriteString("\n", file) == 0;
  if (!written) PyErr_Clear();
#endif
}

// Interned "__qualname__", made once: null (with the interpreter's error set) until it can be.
PyObject* qualname_key() {
  static PyObject* key = nullptr;
  if (key == nullptr) key = PyUnicode_InternFromString("__qualname__");
  return key;
}

}  // namespace

Error::Error(const Error& other)
    : type_(other.type_.copy()),
      value_(other.value_.copy()),
      traceback_(other.traceback_.copy()),
      message_(other.message_),
      fetched_(other.fetched_),
      mismatch_type_(other.mismatch_type_.copy()),
      target_(other.target_),
      cause_(other.cause_.copy()) {}

Error Error::fetch() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) {
    return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  if (panic_type != nullptr && type == panic_type) {
    // Python code raised a PanicException inside a call of ours: resume it as a fault.
    PyErr_NormalizeException(&type, &value, &traceback);
    // Owned from here on, as making the message can fail.
    Ref owned[] = {Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
    Ref text = value != nullptr ? Ref::steal(PyObject_Str(value)) : Ref();
    if (value != nullptr && !text) PyErr_Clear();
    std::string message = text ? utf8_lossy(text.get()) : "Unwrapped panic from Python code";
    std::fprintf(stderr,
                 "--- %s is resuming a panic after fetching a PanicException from Python. ---\n"
                 "Python stack trace below:\n",
                 runtime_name);
    print_resumed(std::move(owned[0]), std::move(owned[1]), std::move(owned[2]));
    throw Fault(std::move(message));
  }
  Error err;
  err.fetched_ = true;
  err.type_ = Ref::steal(type);
  err.value_ = Ref::steal(value);
  err.traceback_ = Ref::steal(traceback);
  return err;
}

Error Error::with_message(PyObject* type, std::string message) {
  Error err;
  err.type_ = Ref::borrow(type);
  err.message_ = std::move(message);
  return err;
}

Error Error::mismatch(PyObject* obj, const char* target) {
  Error err;
  err.type_ = Ref::borrow(PyExc_TypeError);
  err.mismatch_type_ = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(obj)));
  err.target_ = target;
  return err;
}

void Error::normalize() {
  if (!fetched_) return;
  PyObject* type = type_.release();
  PyObject* value = value_.release();
  PyObject* traceback = traceback_.release();
  PyErr_NormalizeException(&type, &value, &traceback);
  type_ = Ref::steal(type);
  value_ = Ref::steal(value);
  traceback_ = Ref::steal(traceback);
}

std::string Error::text() {
  if (mismatch_type_) {
    auto name = qualname_of(reinterpret_cast<PyTypeObject*>(mismatch_type_.get()));
    return concat({"'", name ? std::string_view(*name) : "<failed to extract type name>",
                   "' object cannot be converted to '", target_, "'"});
  }
  if (!fetched_) return message_;
  normalize();
  return value_ ? text_of(value_.get()) : std::string();
}

Ref Error::own_cause() {
  if (!fetched_) return cause_.copy();
  normalize();
  if (!value_ || !PyExceptionInstance_Check(value_.get())) return Ref();
  return Ref::steal(PyException_GetCause(value_.get()));
}

Error Error::with_argument_prefix(const char* param) && {
  if (!is(PyExc_TypeError)) return std::move(*this);
  Error err = with_message(PyExc_TypeError, concat({"argument '", param, "': ", text()}));
  err.cause_ = own_cause();
  return err;
}

void Error::restore() && {
  if (fetched_) {
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
    return;
  }
  std::string message = mismatch_type_ ? text() : std::move(message_);
  Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), message.size(), "replace"));
  if (!text) return;
  if (!cause_) {
    PyErr_Restore(type_.release(), text.release(), nullptr);
    return;
  }
  Ref value = Ref::steal(PyObject_CallOneArg(type_.get(), text.get()));
  if (!value) return;
  PyException_SetCause(value.get(), cause_.release());
  PyErr_Restore(type_.release(), value.release(), nullptr);
}

Ref Error::into_value() && {
  std::move(*this).restore();
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return Ref::steal(value);
}

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (auto part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (auto part : parts) out += part;
  return out;
}

void discard_error() { (void)Error::fetch(); }

Fault::Fault(std::string message, std::source_location where) : message_(std::move(message)) {
  std::fprintf(stderr, "kelvora: internal fault at %s:%u: %s\n", where.file_name(),
               static_cast<unsigned>(where.line()), message_.c_str());
}

std::string utf8_lossy(PyObject* str) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) return std::string(data, size);
  PyErr_Clear();
  // Lone surrogates: encode them as they are, then decode with each invalid sequence
  // becoming U+FFFD.
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!bytes) {
    PyErr_Clear();
    return "\xEF\xBF\xBD";
  }
  Ref clean = Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                              PyBytes_GET_SIZE(bytes.get()), "replace"));
  const char* data = clean ? PyUnicode_AsUTF8AndSize(clean.get(), &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return "\xEF\xBF\xBD";
  }
  return std::string(data, size);
}

std::optional<std::string> qualname_of(PyTypeObject* type) {
  PyObject* key = qualname_key();
  Ref name =
      key != nullptr ? Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), key)) : Ref();
  if (!name) {
    discard_error();
    return std::nullopt;
  }
  if (!PyUnicode_Check(name.get())) return std::nullopt;
  return utf8_lossy(name.get());
}

std::string text_of(PyObject* obj) {
  Ref str = Ref::steal(PyObject_Str(obj));
  if (str) return utf8_lossy(str.get());
  Error::fetch().restore();
  PyErr_WriteUnraisable(obj);
  auto name = qualname_of(Py_TYPE(obj));
  return name ? "<unprintable " + *name + " object>" : "<unprintable object>";
}

void raise_current_exception() noexcept {
  try {
    try {
      throw;
    } catch (Error& err) {
      std::move(err).restore();
    } catch (const Fault& fault) {
      raise_panic(fault.message(), fault.cause());
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& exc) {
      raise_panic(Fault(exc.what()).message());
    } catch (...) {
      raise_panic(Fault("a panic occurred in kelvora's native code").message());
    }
  } catch (const Fault& fault) {
    // A fault while the failure itself was being raised (for instance a PanicException
    // from Python while a message was built): raise that one instead.
    raise_panic(fault.message(), fault.cause());
  } catch (...) {
    // Raising the failure failed itself: only a failed allocation can get here.
    PyErr_NoMemory();
  }
}

}  // namespace kelvora
