// The extension module corvanta: multi-phase initialization, no module state.
// Its two types are created once per process, on first import, and exported
// together with __all__.
#include <Python.h>

#include "python_boundary.hpp"

namespace {

// Appends `name` to the module's __all__ and sets the attribute itself.
int export_type(PyObject* module, const char* name, PyObject* type) {
  corvanta::py::PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = corvanta::py::PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  corvanta::py::PyRef text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return -1;
  return PyObject_SetAttrString(module, name, type);
}

int corvanta_exec(PyObject* module) {
  if (!corvanta::py::ensure_types_ready()) return -1;
  if (export_type(module, "Corvanta", corvanta::py::corvanta_type()) < 0) return -1;
  return export_type(module, "Hit", corvanta::py::hit_type());
}

PyModuleDef_Slot corvanta_module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(corvanta_exec)},
    {0, nullptr},
};

PyModuleDef corvanta_module = {
    PyModuleDef_HEAD_INIT, "corvanta", "", 0, nullptr, corvanta_module_slots,
    nullptr,               nullptr,    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_corvanta(void) { return PyModuleDef_Init(&corvanta_module); }
