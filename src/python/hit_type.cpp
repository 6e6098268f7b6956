// Hit objects keep their two texts inline, behind the fixed fields, so a hit
// costs one allocation however long its label is. The getters build a new
// str or tuple on every access.
#include "python/hit_type.hpp"

#include <cstddef>
#include <cstring>

#include "python/python_boundary.hpp"

namespace corvanta::py {

namespace {

struct HitObject {
  PyObject_VAR_HEAD unsigned long long byte_begin;
  unsigned long long byte_end;
  Py_ssize_t term_id_len;
  Py_ssize_t label_len;
  int excluded;
  char text[1];  // term id, then label
};

HitObject* as_hit(PyObject* self) { return reinterpret_cast<HitObject*>(self); }

PyObject* hit_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "cannot create 'builtins.Hit' instances");
  return nullptr;
}

void hit_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);
}

PyObject* get_term_id(PyObject* self, void*) {
  const HitObject* hit = as_hit(self);
  return PyUnicode_FromStringAndSize(hit->text, hit->term_id_len);
}

PyObject* get_label(PyObject* self, void*) {
  const HitObject* hit = as_hit(self);
  return PyUnicode_FromStringAndSize(hit->text + hit->term_id_len, hit->label_len);
}

PyObject* get_span(PyObject* self, void*) {
  const HitObject* hit = as_hit(self);
  return Py_BuildValue("(KK)", hit->byte_begin, hit->byte_end);
}

PyObject* get_excluded(PyObject* self, void*) { return PyBool_FromLong(as_hit(self)->excluded); }

PyGetSetDef hit_getset[] = {
    {"term_id", get_term_id, nullptr, nullptr, nullptr},
    {"label", get_label, nullptr, nullptr, nullptr},
    {"span", get_span, nullptr, nullptr, nullptr},
    {"excluded", get_excluded, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot hit_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(hit_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(hit_dealloc)},
    {Py_tp_getset, hit_getset},
    {0, nullptr},
};

PyType_Spec hit_spec = {
    "builtins.Hit",
    static_cast<int>(offsetof(HitObject, text)),
    1,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    hit_slots,
};

}  // namespace

PyObject* create_hit_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &hit_spec, nullptr);
}

PyObject* new_hit(PyTypeObject* type, std::string_view term_id, std::string_view label,
                  const HitRecord& record) {
  const auto text_len = static_cast<Py_ssize_t>(term_id.size() + label.size());
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, text_len);
  if (self == nullptr) return nullptr;
  HitObject* hit = as_hit(self);
  hit->byte_begin = record.byte_begin;
  hit->byte_end = record.byte_end;
  hit->term_id_len = static_cast<Py_ssize_t>(term_id.size());
  hit->label_len = static_cast<Py_ssize_t>(label.size());
  hit->excluded = record.excluded ? 1 : 0;
  std::memcpy(hit->text, term_id.data(), term_id.size());
  std::memcpy(hit->text + term_id.size(), label.data(), label.size());
  return self;
}

}  // namespace corvanta::py
