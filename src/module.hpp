// The module's types and exception. The module creates them once per
// process, in its exec slot, before anything can call into the binding;
// these return borrowed references that stay valid for the process's life.
#pragma once

#include <Python.h>

namespace corvanta::py {

PyTypeObject* corvanta_type();
PyTypeObject* hit_type();
// corvanta.InvariantError, derived from BaseException.
PyObject* invariant_error();

}  // namespace corvanta::py
