// corvanta_tools._accurate: the accurate profile's compiled helper, for the
// passes of corvanta_tools.accuracy that cost too much in Python. Each has a
// Python twin in that package, which it equals result for result.
#include "accurate_functions.hpp"

namespace {

PyMethodDef kMethods[] = {
    {"coordinations", corvanta_tools_accurate::coordinations, METH_VARARGS,
     "coordinations(text, hit_starts, words) -> list of ((lead), (conjunct), (tail)) str spans."},
    {"ascii_hits", corvanta_tools_accurate::ascii_hits, METH_VARARGS,
     "ascii_hits(text, hits_json, check, kept, categories, phenotype, hit_type) -> "
     "(hits, hit_starts) of the first pass over an ASCII text."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_accurate", "The compiled passes of corvanta_tools.accuracy.", -1,
    kMethods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__accurate() { return PyModule_Create(&kModule); }
