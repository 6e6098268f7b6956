// Small helpers for building Python objects in the accurate profile's
// compiled passes.
#pragma once

#include "accurate_functions.hpp"

#include <string>

namespace corvanta_tools_accurate {

// A reference owned by the scope that holds it.
class Owned {
 public:
  explicit Owned(PyObject* object = nullptr) : object_(object) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // A new reference for a caller that steals it.
  PyObject* share() const {
    Py_INCREF(object_);
    return object_;
  }

 private:
  PyObject* object_;
};

// A new instance of the tuple subclass `type` holding `items`, which it
// steals (as PyTuple_SetItem does, also on failure); nullptr with an
// exception set.
inline PyObject* new_tuple_of(PyTypeObject* type, PyObject* const* items, Py_ssize_t count) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* tuple = alloc == nullptr ? nullptr : alloc(type, count);
  for (Py_ssize_t k = 0; k < count; ++k) {
    if (tuple == nullptr) {
      Py_DECREF(items[k]);
    } else if (PyTuple_SetItem(tuple, k, items[k]) != 0) {
      Py_CLEAR(tuple);
    }
  }
  return tuple;
}

// Whether `object` is a str, an int, a bool, None, or a tuple of those: no
// reference cycle can pass through it, so neither through a tuple that only
// holds such objects, which the garbage collector then need not look at.
inline bool acyclic(PyObject* object, bool nested = false) {
  if (object == Py_None || PyUnicode_CheckExact(object) || PyLong_CheckExact(object) ||
      PyBool_Check(object)) {
    return true;
  }
  if (nested || !PyTuple_CheckExact(object)) return false;
  const Py_ssize_t size = PyTuple_Size(object);
  for (Py_ssize_t k = 0; k < size; ++k) {
    if (!acyclic(PyTuple_GetItem(object, k), true)) return false;
  }
  return true;
}

// A str of UTF-8 bytes.
inline PyObject* decoded(const std::string& utf8) {
  return PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict");
}

}  // namespace corvanta_tools_accurate
