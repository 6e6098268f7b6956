// What one module object owns: its two types and its exception. Each import
// (a re-import after the module left sys.modules, an import in another
// interpreter) makes its own set in the module's exec slot. The types are
// created for their module, so code that holds one of them, or the class
// that defines a method, reaches the rest through module_state.
#pragma once

#include <Python.h>

namespace corvanta::py {

struct ModuleState {
  PyTypeObject* corvanta_type;
  PyTypeObject* hit_type;
  PyObject* invariant_error;  // corvanta.InvariantError, derived from BaseException
};

// The state of the module `type` was created for (Corvanta or Hit); nullptr
// with an exception set for any other type.
inline ModuleState* module_state(PyTypeObject* type) {
  return static_cast<ModuleState*>(PyType_GetModuleState(type));
}

}  // namespace corvanta::py
