// corvanta_tools._accurate: the accurate profile's compiled helper, for the
// passes of corvanta_tools.accuracy that cost too much in Python. Each has a
// Python twin in that package, which it equals result for result.
#include "accurate_functions.hpp"

#include <new>

namespace {

using corvanta_tools_accurate::ModuleState;
using corvanta_tools_accurate::SharedStrings;

PyMethodDef kMethods[] = {
    {"coordinations", corvanta_tools_accurate::coordinations, METH_VARARGS,
     "coordinations(text, hit_starts, words) -> list of ((lead), (conjunct), (tail)) str spans."},
    {"ascii_hits", corvanta_tools_accurate::ascii_hits, METH_VARARGS,
     "ascii_hits(text, hits_json, check, kept, categories, phenotype, hit_type) -> "
     "(hits, hit_starts) of the first pass over an ASCII text."},
    {"ascii_variant_hits", corvanta_tools_accurate::ascii_variant_hits, METH_VARARGS,
     "ascii_variant_hits(matcher, text, variants, hits, categories, phenotype, hit_type) -> "
     "the new hits of the variants of an ASCII text."},
    {"profile_records", corvanta_tools_accurate::profile_records, METH_VARARGS,
     "profile_records(document, hits, term_labels, record_type) -> the records of the hits."},
    {"exact_records", corvanta_tools_accurate::exact_records, METH_VARARGS,
     "exact_records(document, text, hits, term_labels, record_type[, assertions]) -> the "
     "records of the exact profile's hits of an ASCII text, emptying hits."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  ModuleState& state = corvanta_tools_accurate::state_of(module);
  state.term_ids = new (std::nothrow) SharedStrings();
  state.labels = new (std::nothrow) SharedStrings();
  if (state.term_ids == nullptr || state.labels == nullptr) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

void free_module(void* module) {
  ModuleState& state = corvanta_tools_accurate::state_of(static_cast<PyObject*>(module));
  delete state.term_ids;
  delete state.labels;
  state = ModuleState{};
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_accurate",
    "The compiled passes of corvanta_tools.accuracy.",
    sizeof(ModuleState),
    kMethods,
    kSlots,
    nullptr,
    nullptr,
    free_module,
};

}  // namespace

PyMODINIT_FUNC PyInit__accurate() { return PyModuleDef_Init(&kModule); }
