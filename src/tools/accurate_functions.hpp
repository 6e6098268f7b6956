// The functions of corvanta_tools._accurate (src/tools/accurate_module.cpp),
// each in the file named for what it finds.
#pragma once

#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#include <Python.h>

namespace corvanta_tools_accurate {

// coordinations(text, hit_starts, words): src/tools/coordination_search.cpp.
PyObject* coordinations(PyObject* module, PyObject* args);

// ascii_hits(text, hits_json, check, kept, categories, phenotype, hit_type):
// src/tools/profile_hits.cpp.
PyObject* ascii_hits(PyObject* module, PyObject* args);

}  // namespace corvanta_tools_accurate
