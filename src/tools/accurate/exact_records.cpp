// exact_records: the records of the exact profile's hits of an ASCII text,
// as corvanta_tools.records.document_of_hits builds them in Python (the
// reference this equals): for each corvanta.Hit, the record (document, term
// id, label, the term's official label, str span, byte span, excluded,
// covered text, assertion). In an ASCII text the byte span is the str span,
// one tuple for both. Term ids and labels are interned, as the Python
// builder does, so that a text's records share one str per distinct value.
//
// Each hit is let go of as soon as its record is made and `hits` is left
// empty: a text with many hits never holds both in full. Records of strings,
// numbers and their tuples are left to reference counting (profile_records
// says why); one that carries an assertion object stays with the garbage
// collector.
#include "accurate_functions.hpp"
#include "python_objects.hpp"

namespace corvanta_tools_accurate {
namespace {

constexpr Py_ssize_t kRecordFields = 9;

struct Call {
  PyObject* document;
  PyObject* text;
  PyObject* term_labels;  // None, or a mapping from term id to official label
  PyTypeObject* record_type;
  PyObject* assertions;  // None, or a sequence with one assertion per hit
};

// The attribute names read from every hit, made once per call.
struct HitNames {
  Owned span{PyUnicode_InternFromString("span")};
  Owned term_id{PyUnicode_InternFromString("term_id")};
  Owned label{PyUnicode_InternFromString("label")};
  Owned excluded{PyUnicode_InternFromString("excluded")};

  bool made() const {
    return span.get() != nullptr && term_id.get() != nullptr && label.get() != nullptr &&
           excluded.get() != nullptr;
  }
};

// A new reference to the interned str of `name` of `hit`; nullptr with an
// exception set.
PyObject* interned_attribute(PyObject* hit, PyObject* name) {
  PyObject* value = PyObject_GetAttr(hit, name);
  if (value == nullptr) return nullptr;
  if (!PyUnicode_CheckExact(value)) {
    Py_DECREF(value);
    PyErr_SetString(PyExc_TypeError, "exact_records: a hit's term id and label are str");
    return nullptr;
  }
  PyUnicode_InternInPlace(&value);
  return value;
}

// The covered text of `span` (a (start, end) tuple of str indices).
PyObject* covered_text(PyObject* text, PyObject* span) {
  if (!PyTuple_Check(span) || PyTuple_Size(span) != 2) {
    PyErr_SetString(PyExc_TypeError, "exact_records: a hit's span is a (start, end) tuple");
    return nullptr;
  }
  const Py_ssize_t start = PyLong_AsSsize_t(PyTuple_GetItem(span, 0));
  if (start == -1 && PyErr_Occurred()) return nullptr;
  const Py_ssize_t end = PyLong_AsSsize_t(PyTuple_GetItem(span, 1));
  if (end == -1 && PyErr_Occurred()) return nullptr;
  return PyUnicode_Substring(text, start, end < start ? start : end);
}

PyObject* record_of(const Call& call, const HitNames& names, PyObject* hit, Py_ssize_t index) {
  Owned span(PyObject_GetAttr(hit, names.span.get()));
  if (span.get() == nullptr) return nullptr;
  Owned covered(covered_text(call.text, span.get()));
  if (covered.get() == nullptr) return nullptr;
  Owned term_id(interned_attribute(hit, names.term_id.get()));
  if (term_id.get() == nullptr) return nullptr;
  Owned label(interned_attribute(hit, names.label.get()));
  if (label.get() == nullptr) return nullptr;
  Owned excluded(PyObject_GetAttr(hit, names.excluded.get()));
  if (excluded.get() == nullptr) return nullptr;
  Owned term_label(call.term_labels == Py_None ? Py_NewRef(Py_None)
                                               : PyObject_GetItem(call.term_labels, term_id.get()));
  if (term_label.get() == nullptr) return nullptr;
  Owned assertion(call.assertions == Py_None ? Py_NewRef(Py_None)
                                             : PySequence_GetItem(call.assertions, index));
  if (assertion.get() == nullptr) return nullptr;
  PyObject* items[kRecordFields] = {
      Py_NewRef(call.document), term_id.share(), label.share(),
      term_label.share(),       span.share(),    span.share(),
      excluded.share(),         covered.share(), assertion.share(),
  };
  bool untrack = true;
  for (PyObject* item : items) untrack = untrack && acyclic(item);
  PyObject* record = new_tuple_of(call.record_type, items, kRecordFields);
  if (record != nullptr && untrack) PyObject_GC_UnTrack(record);
  return record;
}

bool checked(const Call& call, Py_ssize_t count) {
  if (!PyType_IsSubtype(call.record_type, &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "exact_records: the record type must be a tuple type");
    return false;
  }
  Py_ssize_t utf8_size = 0;
  if (PyUnicode_AsUTF8AndSize(call.text, &utf8_size) == nullptr) return false;
  if (utf8_size != PyUnicode_GetLength(call.text)) {
    PyErr_SetString(PyExc_ValueError, "exact_records: the text is not ASCII");
    return false;
  }
  if (call.assertions != Py_None && PySequence_Size(call.assertions) != count) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ValueError, "exact_records: one assertion per hit");
    }
    return false;
  }
  return true;
}

}  // namespace

PyObject* exact_records(PyObject*, PyObject* args) {
  Call call{nullptr, nullptr, Py_None, nullptr, Py_None};
  PyObject* hits = nullptr;
  if (!PyArg_ParseTuple(args, "UUO!OO!|O:exact_records", &call.document, &call.text, &PyList_Type,
                        &hits, &call.term_labels, &PyType_Type, &call.record_type,
                        &call.assertions)) {
    return nullptr;
  }
  const Py_ssize_t count = PyList_Size(hits);
  if (!checked(call, count)) return nullptr;
  HitNames names;
  if (!names.made()) return nullptr;
  Owned records(PyList_New(count));
  if (records.get() == nullptr) return nullptr;
  for (Py_ssize_t k = 0; k < count; ++k) {
    // The hit is held here once the list lets go of it (replaced by None);
    // a label lookup that changed the list is an IndexError, not a crash.
    PyObject* listed = PyList_GetItem(hits, k);
    if (listed == nullptr) return nullptr;
    Owned hit(Py_NewRef(listed));
    PyObject* record = record_of(call, names, hit.get(), k);
    if (record == nullptr) return nullptr;
    PyList_SetItem(records.get(), k, record);
    if (PyList_SetItem(hits, k, Py_NewRef(Py_None)) != 0) return nullptr;
  }
  if (PyList_SetSlice(hits, 0, PyList_Size(hits), nullptr) != 0) return nullptr;
  return records.share();
}

}  // namespace corvanta_tools_accurate
