// profile_records: the records of a profile's hits, as
// corvanta_tools.accuracy.profile_records builds them in Python (the
// reference this equals): for each hit (byte span, str span, term id, label,
// excluded, covered text, category), the record (document, term id, label,
// the term's official label, str span, byte span, excluded, covered text,
// no assertion). A record that holds only strings, numbers and their tuples
// is left to reference counting: a text's records are its most numerous
// objects, and the garbage collector would otherwise go over every one of
// them again and again for as long as they live.
#include "accurate_functions.hpp"
#include "python_objects.hpp"

namespace corvanta_tools_accurate {
namespace {

constexpr Py_ssize_t kHitFields = 7;
constexpr Py_ssize_t kRecordFields = 9;

PyObject* record_of(PyObject* document, PyObject* hit, PyObject* term_labels,
                    PyTypeObject* record_type) {
  if (!PyTuple_Check(hit) || PyTuple_Size(hit) != kHitFields) {
    PyErr_SetString(PyExc_TypeError, "profile_records: a hit is a tuple of seven fields");
    return nullptr;
  }
  PyObject* term_id = PyTuple_GetItem(hit, 2);
  PyObject* term_label = PyDict_GetItemWithError(term_labels, term_id);
  if (term_label == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, term_id);
    return nullptr;
  }
  PyObject* items[kRecordFields] = {
      Py_NewRef(document),
      Py_NewRef(term_id),
      Py_NewRef(PyTuple_GetItem(hit, 3)),
      Py_NewRef(term_label),
      Py_NewRef(PyTuple_GetItem(hit, 1)),
      Py_NewRef(PyTuple_GetItem(hit, 0)),
      Py_NewRef(PyTuple_GetItem(hit, 4)),
      Py_NewRef(PyTuple_GetItem(hit, 5)),
      Py_NewRef(Py_None),
  };
  bool untrack = true;
  for (PyObject* item : items) untrack = untrack && acyclic(item);
  PyObject* record = new_tuple_of(record_type, items, kRecordFields);
  if (record != nullptr && untrack) PyObject_GC_UnTrack(record);
  return record;
}

}  // namespace

PyObject* profile_records(PyObject*, PyObject* args) {
  PyObject* document = nullptr;
  PyObject* hits = nullptr;
  PyObject* term_labels = nullptr;
  PyTypeObject* record_type = nullptr;
  if (!PyArg_ParseTuple(args, "UO!O!O!:profile_records", &document, &PyList_Type, &hits,
                        &PyDict_Type, &term_labels, &PyType_Type, &record_type)) {
    return nullptr;
  }
  if (!PyType_IsSubtype(record_type, &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "profile_records: the record type must be a tuple type");
    return nullptr;
  }
  const Py_ssize_t count = PyList_Size(hits);
  Owned records(PyList_New(count));
  if (records.get() == nullptr) return nullptr;
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* record = record_of(document, PyList_GetItem(hits, k), term_labels, record_type);
    if (record == nullptr) return nullptr;
    PyList_SetItem(records.get(), k, record);
  }
  return records.share();
}

}  // namespace corvanta_tools_accurate
