// The Python type Hit: one recognized concept occurrence, with read-only
// term_id, label, span and excluded. Made only by recognition; holds copies
// of its texts, so it outlives the Corvanta object that produced it.
#pragma once

#include <Python.h>

#include <string_view>

#include "recognize/hit_record.hpp"

namespace corvanta::py {

// The type Hit of `module` (a new reference), or nullptr with an exception set.
PyObject* create_hit_type(PyObject* module);

// A new Hit of `type`, the module's Hit type (strong reference), or nullptr
// with an exception set.
PyObject* new_hit(PyTypeObject* type, std::string_view term_id, std::string_view label,
                  const HitRecord& record);

}  // namespace corvanta::py
