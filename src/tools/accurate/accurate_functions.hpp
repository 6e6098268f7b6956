// The functions of corvanta_tools._accurate (accurate_module.cpp),
// each in the file named for what it finds.
#pragma once

#include "shared_strings.hpp"

namespace corvanta_tools_accurate {

// The module's state: the str objects its functions share between calls.
struct ModuleState {
  SharedStrings* term_ids;
  SharedStrings* labels;  // by the derived release's surface, without its marks
};

// The state of the module `module` (the first argument of its functions).
inline ModuleState& state_of(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// coordinations(text, hit_starts, words): src/tools/coordination_search.cpp.
PyObject* coordinations(PyObject* module, PyObject* args);

// ascii_hits(text, hits_json, check, kept, categories, phenotype, hit_type):
// src/tools/profile_hits.cpp.
PyObject* ascii_hits(PyObject* module, PyObject* args);

// ascii_variant_hits(matcher, text, variants, hits, categories, phenotype,
// hit_type): src/tools/variant_hits.cpp.
PyObject* ascii_variant_hits(PyObject* module, PyObject* args);

// profile_records(document, hits, term_labels, record_type):
// src/tools/profile_records.cpp.
PyObject* profile_records(PyObject* module, PyObject* args);

// exact_records(document, text, hits, term_labels, record_type[, assertions]):
// src/tools/accurate/exact_records.cpp.
PyObject* exact_records(PyObject* module, PyObject* args);

}  // namespace corvanta_tools_accurate
