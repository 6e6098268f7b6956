// Shared pieces of the Python boundary: reference ownership, argument
// conversion with the module's exact messages, and the one mapping from a
// core Error to a Python exception.
//
// Only this layer, the module and the two type files include Python.h;
// everything below them is plain C++ that never sees a PyObject. The types
// and the exception belong to the module (module_state.hpp).
#pragma once

#include <Python.h>

#include <string_view>
#include <utility>

#include "base/result.hpp"

// Part of the stable ABI since 3.10, but only declared outside the limited
// API by the 3.10 headers.
#ifndef Py_TPFLAGS_IMMUTABLETYPE
#define Py_TPFLAGS_IMMUTABLETYPE (1UL << 8)
#endif

namespace corvanta::py {

// Owns exactly one strong reference (or none).
class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(o.release()) {}
  PyRef& operator=(PyRef&& o) noexcept {
    PyObject* old = std::exchange(p_, o.release());
    Py_XDECREF(old);
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }
  [[nodiscard]] PyObject* get() const noexcept { return p_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// The single argument `name` of a METH_FASTCALL | METH_KEYWORDS call,
// positional or by keyword, as a borrowed reference; nullptr with TypeError
// set when it is missing, doubled, surplus or under an unknown keyword.
// `callable` names the member in messages, e.g. "Corvanta.map_text()".
PyObject* single_argument(const char* callable, const char* name, PyObject* const* args,
                          Py_ssize_t nargs, PyObject* kwnames);

// The same for a tp_new-style call with an argument tuple and keyword dict.
PyObject* single_argument(const char* callable, const char* name, PyObject* args, PyObject* kwargs);

// The UTF-8 text of a str argument. The view points into `value`'s own UTF-8
// buffer and lives as long as `value`. On failure (not a str, or a str that
// cannot be encoded) the exception carries the note
// "while processing '<name>'" and false is returned.
bool utf8_argument(PyObject* value, const char* name, std::string_view& out);

// Raises the Python exception for `error` and returns nullptr: the module's
// `invariant_error` for a broken invariant, OSError for the rest.
PyObject* raise(const Error& error, PyObject* invariant_error);

// Raises MemoryError or RuntimeError for an exception escaping the core's
// containers (allocation failure) and returns nullptr.
PyObject* raise_current_exception() noexcept;

}  // namespace corvanta::py
