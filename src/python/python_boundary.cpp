#include "python/python_boundary.hpp"

#include <new>
#include <string>

namespace corvanta::py {

namespace {

PyObject* too_many_positional(const char* callable, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s takes 1 positional arguments but %zd %s given", callable, given,
               given == 1 ? "was" : "were");
  return nullptr;
}

PyObject* missing(const char* callable, const char* name) {
  PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'", callable, name);
  return nullptr;
}

PyObject* multiple_values(const char* callable, const char* name) {
  PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", callable, name);
  return nullptr;
}

PyObject* unexpected_keyword(const char* callable, PyObject* keyword) {
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", callable, keyword);
  return nullptr;
}

bool is_keyword(PyObject* keyword, const char* name) {
  return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

// Attaches "while processing '<name>'" to the pending exception, where the
// interpreter's exceptions support notes.
void add_argument_note(const char* name) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    std::string note = "while processing '";
    note += name;
    note += "'";
    PyRef result(PyObject_CallMethod(value, "add_note", "s", note.c_str()));
    if (!result) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

void raise_not_str(PyObject* value) {
  if (value == Py_None) {
    PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'str'");
    return;
  }
  PyRef type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__"));
  if (!type_name) return;
  PyErr_Format(PyExc_TypeError, "'%S' object is not an instance of 'str'", type_name.get());
}

}  // namespace

PyObject* single_argument(const char* callable, const char* name, PyObject* const* args,
                          Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > 1) return too_many_positional(callable, nargs);
  PyObject* value = nargs == 1 ? args[0] : nullptr;
  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    PyObject* keyword = PyTuple_GetItem(kwnames, i);
    if (!is_keyword(keyword, name)) return unexpected_keyword(callable, keyword);
    if (value != nullptr) return multiple_values(callable, name);
    value = args[nargs + i];
  }
  if (value == nullptr) return missing(callable, name);
  return value;
}

PyObject* single_argument(const char* callable, const char* name, PyObject* args,
                          PyObject* kwargs) {
  const Py_ssize_t nargs = args != nullptr ? PyTuple_Size(args) : 0;
  if (nargs > 1) return too_many_positional(callable, nargs);
  PyObject* value = nargs == 1 ? PyTuple_GetItem(args, 0) : nullptr;
  if (kwargs != nullptr) {
    PyObject* keyword = nullptr;
    PyObject* item = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &keyword, &item)) {
      if (!is_keyword(keyword, name)) return unexpected_keyword(callable, keyword);
      if (value != nullptr) return multiple_values(callable, name);
      value = item;
    }
  }
  if (value == nullptr) return missing(callable, name);
  return value;
}

bool utf8_argument(PyObject* value, const char* name, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    raise_not_str(value);
    add_argument_note(name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (data == nullptr) {
    add_argument_note(name);
    return false;
  }
  out = std::string_view(data, static_cast<size_t>(size));
  return true;
}

PyObject* raise(const Error& error, PyObject* invariant_error) {
  PyRef message(PyUnicode_DecodeUTF8(error.message.data(),
                                     static_cast<Py_ssize_t>(error.message.size()), "replace"));
  if (!message) return nullptr;
  PyObject* type = error.code == Errc::kInvariant ? invariant_error : PyExc_OSError;
  PyErr_SetObject(type, message.get());
  return nullptr;
}

PyObject* raise_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unexpected native exception");
  }
  return nullptr;
}

}  // namespace corvanta::py
