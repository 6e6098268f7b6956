// ascii_hits: the accurate profile's hits of an ASCII text, read straight
// from the derived release's `map_text_json`.
//
// corvanta_tools.accuracy.recogniser documents what a hit of the first pass
// is; its Python reading of the same JSON is the reference this one equals,
// hit for hit. A rendering that hits_json_reader.hpp finds malformed, or
// whose spans do not fit the text, is a ValueError.
//
// In an ASCII text a hit's byte span is its str span, so nothing is mapped:
// each hit is one tuple of the caller's hit type, built without a Python
// call, holding the span (twice), the term id, the label with the derived
// release's marks taken out, the excluded flag, the covered text and the
// category. A hit on one word of letters and digits is kept only where
// `kept(word, label)` says so, when `check` is set.
#include "accurate_functions.hpp"
#include "derived_surface.hpp"
#include "hits_json_reader.hpp"
#include "python_objects.hpp"

#include <string>
#include <string_view>

namespace corvanta_tools_accurate {
namespace {

bool one_word(const char* text, Py_ssize_t start, Py_ssize_t end) {
  if (start == end) return false;
  for (Py_ssize_t k = start; k < end; ++k) {
    const char c = text[k];
    if (!((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))) return false;
  }
  return true;
}

struct Call {
  ModuleState* state;
  PyObject* text;
  const char* chars;
  Py_ssize_t length;
  bool check;
  PyObject* kept;
  PyObject* categories;
  PyObject* phenotype;
  PyTypeObject* hit_type;
};

// Whether the hit on `covered` with `label` stays: 1, 0, or -1 with an
// exception set.
int kept(const Call& call, const JsonHit& found, PyObject* covered, PyObject* label) {
  if (!call.check || !one_word(call.chars, found.start, found.end)) return 1;
  Owned verdict(PyObject_CallFunctionObjArgs(call.kept, covered, label, nullptr));
  return verdict.get() == nullptr ? -1 : PyObject_IsTrue(verdict.get());
}

// The hit of `found`, appended to `hits` unless the one-word check drops it.
bool append_hit(const Call& call, const JsonHit& found, PyObject* hits) {
  Owned label(call.state->labels->get(found.label, decoded_unmarked));
  if (label.get() == nullptr) return false;
  Owned covered(PyUnicode_Substring(call.text, found.start, found.end));
  if (covered.get() == nullptr) return false;
  const int keep = kept(call, found, covered.get(), label.get());
  if (keep <= 0) return keep == 0;
  Owned term_id(call.state->term_ids->get(found.term_id, decoded));
  if (term_id.get() == nullptr) return false;
  PyObject* category = PyDict_Size(call.categories) > 0
                           ? PyDict_GetItemWithError(call.categories, term_id.get())
                           : nullptr;
  if (category == nullptr && PyErr_Occurred()) return false;
  Py_INCREF(category == nullptr ? call.phenotype : category);
  PyObject* items[] = {Py_BuildValue("(nn)", found.start, found.end),
                       nullptr,
                       term_id.share(),
                       label.share(),
                       PyBool_FromLong(found.excluded),
                       covered.share(),
                       category == nullptr ? call.phenotype : category};
  if (items[0] == nullptr) {
    for (PyObject* item : items) Py_XDECREF(item);
    return false;
  }
  items[1] = Py_NewRef(items[0]);  // the byte span is the str span
  Owned hit(new_tuple_of(call.hit_type, items, 7));
  if (hit.get() == nullptr) return false;
  // Ints, strs and a bool cannot be part of a reference cycle, nor can the
  // tuples that hold only them: the collector need not look at either (it
  // would untrack the span itself, but never an instance of a subclass).
  PyObject_GC_UnTrack(items[0]);
  PyObject_GC_UnTrack(hit.get());
  return PyList_Append(hits, hit.get()) == 0;
}

bool read_hits(const Call& call, std::string_view json, PyObject* hits, PyObject* starts) {
  HitsJson rendered(json);
  JsonHit found;
  while (rendered.next(found)) {
    if (found.end < found.start || found.end > call.length) return false;
    Owned start(PyLong_FromSsize_t(found.start));
    if (start.get() == nullptr || PyList_Append(starts, start.get()) != 0 ||
        !append_hit(call, found, hits)) {
      return false;
    }
  }
  return !rendered.malformed();
}

}  // namespace

PyObject* ascii_hits(PyObject* module, PyObject* args) {
  Call call{};
  call.state = &state_of(module);
  PyObject* json = nullptr;
  int check = 0;
  if (!PyArg_ParseTuple(args, "UUpOO!UO!:ascii_hits", &call.text, &json, &check, &call.kept,
                        &PyDict_Type, &call.categories, &call.phenotype, &PyType_Type,
                        &call.hit_type)) {
    return nullptr;
  }
  call.check = check != 0;
  if (!PyType_IsSubtype(call.hit_type, &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "ascii_hits: the hit type must be a tuple type");
    return nullptr;
  }
  call.chars = PyUnicode_AsUTF8AndSize(call.text, &call.length);
  if (call.chars == nullptr) return nullptr;
  if (call.length != PyUnicode_GetLength(call.text)) {
    PyErr_SetString(PyExc_ValueError, "ascii_hits: the text is not ASCII");
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(json, &size);
  if (bytes == nullptr) return nullptr;
  Owned hits(PyList_New(0));
  Owned starts(PyList_New(0));
  if (hits.get() == nullptr || starts.get() == nullptr ||
      !read_hits(call, std::string_view(bytes, static_cast<size_t>(size)), hits.get(),
                 starts.get())) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ValueError, "ascii_hits: not the hits of map_text_json for this text");
    }
    return nullptr;
  }
  return PyTuple_Pack(2, hits.get(), starts.get());
}

}  // namespace corvanta_tools_accurate
