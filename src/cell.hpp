// Instance cells: the layout of every instance of the module's classes (header, record,
// borrow flag), the borrows that guard a record while an operation reads or changes it, and
// freeing an instance.
#pragma once

#include "error.hpp"

namespace kelvora {

// The instance layout shared by every class: header, record, borrow flag
// (0 free, n > 0 shared borrows, -1 one exclusive borrow). Once the last reference is gone no
// borrow can be taken, and a class may reuse the word while it deallocates the instance.
template <class T>
struct Cell {
  PyObject_HEAD
  T value;
  Py_ssize_t borrow;
};

// How a borrow conflict is reported: as RuntimeError, or as an internal fault.
enum class OnConflict { raise, fault };

namespace detail {
[[noreturn]] void shared_conflict(OnConflict how);
[[noreturn]] void exclusive_conflict(OnConflict how);
}  // namespace detail

// A shared borrow of a cell's record, released by the destructor.
template <class T>
class Shared {
 public:
  Shared(Cell<T>* cell, OnConflict how) : cell_(cell) {
    if (cell_->borrow == -1) detail::shared_conflict(how);
    ++cell_->borrow;
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() { --cell_->borrow; }
  const T& operator*() const { return cell_->value; }
  const T* operator->() const { return &cell_->value; }

 private:
  Cell<T>* cell_;
};

// An exclusive borrow of a cell's record, released by the destructor.
template <class T>
class Exclusive {
 public:
  Exclusive(Cell<T>* cell, OnConflict how) : cell_(cell) {
    if (cell_->borrow != 0) detail::exclusive_conflict(how);
    cell_->borrow = -1;
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
  ~Exclusive() { cell_->borrow = 0; }
  T& operator*() const { return cell_->value; }
  T* operator->() const { return &cell_->value; }

 private:
  Cell<T>* cell_;
};

// Deallocation slot: drops the record, frees the memory and the instance's reference to its
// (heap) type.
template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<Cell<T>*>(self)->value.~T();
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace kelvora
