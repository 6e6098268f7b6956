// The extension module corvanta: multi-phase initialization with module
// state. Each module object creates its two types and its exception in its
// exec slot, keeps them in its state (module_state.hpp) and exports the types
// together with __all__. The types hold their module, so a Corvanta or a Hit
// keeps what it needs alive after the module has left sys.modules.
#include "python/corvanta_type.hpp"
#include "python/hit_type.hpp"
#include "python/module_state.hpp"
#include "python/python_boundary.hpp"

namespace corvanta::py {

namespace {

ModuleState* state_of_module(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// Creates the module's types and exception into `state`. False with an
// exception set on failure; what was created stays in the state, which the
// module clears when it goes.
bool create_types(PyObject* module, ModuleState& state) {
  state.invariant_error = PyErr_NewExceptionWithDoc(
      "corvanta.InvariantError", "A release file broke an invariant that no real release breaks.",
      PyExc_BaseException, nullptr);
  if (state.invariant_error == nullptr) return false;
  state.corvanta_type = reinterpret_cast<PyTypeObject*>(create_corvanta_type(module));
  if (state.corvanta_type == nullptr) return false;
  state.hit_type = reinterpret_cast<PyTypeObject*>(create_hit_type(module));
  return state.hit_type != nullptr;
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
  ModuleState* state = state_of_module(module);
  if (!create_types(module, *state)) return -1;
  if (export_type(module, "Corvanta", state->corvanta_type) < 0) return -1;
  return export_type(module, "Hit", state->hit_type);
}

// The state holds the types, and each type holds the module: the collector
// sees that cycle through these two.
int corvanta_traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState* state = state_of_module(module);
  if (state == nullptr) return 0;
  Py_VISIT(state->corvanta_type);
  Py_VISIT(state->hit_type);
  Py_VISIT(state->invariant_error);
  return 0;
}

int corvanta_clear(PyObject* module) {
  ModuleState* state = state_of_module(module);
  if (state == nullptr) return 0;
  Py_CLEAR(state->corvanta_type);
  Py_CLEAR(state->hit_type);
  Py_CLEAR(state->invariant_error);
  return 0;
}

void corvanta_free(void* module) { corvanta_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot corvanta_module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(corvanta_exec)},
    {0, nullptr},
};

PyModuleDef corvanta_module = {
    PyModuleDef_HEAD_INIT, "corvanta",     "",
    sizeof(ModuleState),   nullptr,        corvanta_module_slots,
    corvanta_traverse,     corvanta_clear, corvanta_free,
};

}  // namespace

}  // namespace corvanta::py

PyMODINIT_FUNC PyInit_corvanta(void) { return PyModuleDef_Init(&corvanta::py::corvanta_module); }
