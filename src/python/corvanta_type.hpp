// The Python type Corvanta: one immutable matcher built from an HPO release.
#pragma once

#include <Python.h>

namespace corvanta::py {

// The type Corvanta of `module` (a new reference), or nullptr with an
// exception set.
PyObject* create_corvanta_type(PyObject* module);

}  // namespace corvanta::py
