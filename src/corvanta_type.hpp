// The Python type Corvanta: one immutable matcher built from an HPO release.
#pragma once

#include <Python.h>

namespace corvanta::py {

PyObject* create_corvanta_type();

}  // namespace corvanta::py
