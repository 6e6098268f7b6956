// The extension module corvanta: multi-phase initialization, no module state.
// The module owns its two types and its exception: each is created once per
// process, on first import, kept in one pointer here, and exported together
// with __all__.
#include "module.hpp"

#include "corvanta_type.hpp"
#include "hit_type.hpp"
#include "python_boundary.hpp"

namespace corvanta::py {

namespace {

PyTypeObject* g_corvanta_type = nullptr;
PyTypeObject* g_hit_type = nullptr;
PyObject* g_invariant_error = nullptr;

// Creates the types and the exception that do not exist yet. False with an
// exception set on failure.
bool create_types() {
  if (g_invariant_error == nullptr) {
    g_invariant_error = PyErr_NewExceptionWithDoc(
        "corvanta.InvariantError",
        "A release file broke an invariant that no real release breaks.", PyExc_BaseException,
        nullptr);
    if (g_invariant_error == nullptr) return false;
  }
  if (g_corvanta_type == nullptr &&
      (g_corvanta_type = reinterpret_cast<PyTypeObject*>(create_corvanta_type())) == nullptr)
    return false;
  if (g_hit_type == nullptr &&
      (g_hit_type = reinterpret_cast<PyTypeObject*>(create_hit_type())) == nullptr)
    return false;
  return true;
}

// Appends `name` to the module's __all__ and sets the attribute itself.
int export_type(PyObject* module, const char* name, PyTypeObject* type) {
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  PyRef text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return -1;
  return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type));
}

int corvanta_exec(PyObject* module) {
  if (!create_types()) return -1;
  if (export_type(module, "Corvanta", g_corvanta_type) < 0) return -1;
  return export_type(module, "Hit", g_hit_type);
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

PyTypeObject* corvanta_type() { return g_corvanta_type; }
PyTypeObject* hit_type() { return g_hit_type; }
PyObject* invariant_error() { return g_invariant_error; }

}  // namespace corvanta::py

PyMODINIT_FUNC PyInit_corvanta(void) { return PyModuleDef_Init(&corvanta::py::corvanta_module); }
