// corvanta_tools._lines: the JSON lines of many records in one call.
//
// json_lines(records, layout, object_json) writes each record (a tuple) as
// one line of JSON, every line ended by "\n". The layout says, for each of
// the record's items in order: the text that precedes its value (the key,
// with "{" or ", " before it), its kind and whether it may be None (null):
//   0  a str, as a JSON string
//   1  a (start, end) pair of ints, as [start, end]
//   2  a flag, as true or false
//   3  an object: left out, key and all, when None, else object_json(value),
//      a str of JSON written as it is
// Strings are escaped as json.dumps(ensure_ascii=False) escapes them, and
// U+0085, U+2028 and U+2029 too, so that no line holds a character that ends
// a line for some reader. A str that is not valid UTF-8 (a lone surrogate)
// raises UnicodeEncodeError; the caller writes that record another way.
#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#include <Python.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace {

enum Kind : long { kString = 0, kSpan = 1, kFlag = 2, kObject = 3 };

struct Item {
  std::string prefix;
  long kind = kString;
  bool nullable = false;
};

void append_escaped(std::string& out, const char* text, Py_ssize_t length) {
  static const char kHex[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  Py_ssize_t run = 0;  // the start of the bytes not yet copied
  for (Py_ssize_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    const char* escape = nullptr;
    char unicode[7] = {'\\', 'u', '0', '0', 0, 0, 0};
    int skip = 1;
    if (c == '"') {
      escape = "\\\"";
    } else if (c == '\\') {
      escape = "\\\\";
    } else if (c < 0x20) {
      switch (c) {
        case '\n':
          escape = "\\n";
          break;
        case '\r':
          escape = "\\r";
          break;
        case '\t':
          escape = "\\t";
          break;
        case '\b':
          escape = "\\b";
          break;
        case '\f':
          escape = "\\f";
          break;
        default:
          unicode[4] = kHex[c >> 4];
          unicode[5] = kHex[c & 0xF];
          escape = unicode;
      }
    } else if (c == 0xC2 && i + 1 < length && bytes[i + 1] == 0x85) {
      escape = "\\u0085";
      skip = 2;
    } else if (c == 0xE2 && i + 2 < length && bytes[i + 1] == 0x80 &&
               (bytes[i + 2] == 0xA8 || bytes[i + 2] == 0xA9)) {
      escape = bytes[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
      skip = 3;
    }
    if (escape == nullptr) continue;
    out.append(text + run, static_cast<size_t>(i - run));
    out.append(escape);
    i += skip - 1;
    run = i + 1;
  }
  out.append(text + run, static_cast<size_t>(length - run));
}

bool append_string(std::string& out, PyObject* value) {
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &length);
  if (text == nullptr) return false;
  out.push_back('"');
  append_escaped(out, text, length);
  out.push_back('"');
  return true;
}

bool append_int(std::string& out, PyObject* sequence, Py_ssize_t index) {
  PyObject* item = PySequence_GetItem(sequence, index);
  if (item == nullptr) return false;
  const long long value = PyLong_AsLongLong(item);
  Py_DECREF(item);
  if (value == -1 && PyErr_Occurred()) return false;
  char digits[24];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, written.ptr);
  return true;
}

bool append_value(std::string& out, const Item& item, PyObject* value, PyObject* object_json) {
  if (item.kind == kObject) {
    if (value == Py_None) return true;
    out += item.prefix;
    PyObject* text = PyObject_CallFunctionObjArgs(object_json, value, nullptr);
    if (text == nullptr) return false;
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
    if (utf8 != nullptr) out.append(utf8, static_cast<size_t>(length));
    Py_DECREF(text);
    return utf8 != nullptr;
  }
  out += item.prefix;
  if (value == Py_None && item.nullable) {
    out += "null";
    return true;
  }
  switch (item.kind) {
    case kString:
      return append_string(out, value);
    case kSpan:
      out.push_back('[');
      if (!append_int(out, value, 0)) return false;
      out += ", ";
      if (!append_int(out, value, 1)) return false;
      out.push_back(']');
      return true;
    case kFlag: {
      const int truth = PyObject_IsTrue(value);
      if (truth < 0) return false;
      out += truth ? "true" : "false";
      return true;
    }
    default:
      PyErr_SetString(PyExc_ValueError, "unknown kind in the layout");
      return false;
  }
}

bool read_layout(PyObject* layout, std::vector<Item>& items) {
  const Py_ssize_t count = PySequence_Size(layout);
  if (count < 0) return false;
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* entry = PySequence_GetItem(layout, i);
    if (entry == nullptr) return false;
    const char* prefix = nullptr;
    long kind = 0;
    int nullable = 0;
    const bool ok = PyArg_ParseTuple(entry, "slp", &prefix, &kind, &nullable);
    Py_DECREF(entry);
    if (!ok) return false;
    items.push_back(Item{prefix, kind, nullable != 0});
  }
  return true;
}

PyObject* json_lines(PyObject*, PyObject* args) {
  PyObject* records = nullptr;
  PyObject* layout = nullptr;
  PyObject* object_json = nullptr;
  if (!PyArg_ParseTuple(args, "OOO", &records, &layout, &object_json)) return nullptr;
  std::vector<Item> items;
  if (!read_layout(layout, items)) return nullptr;
  PyObject* iterator = PyObject_GetIter(records);
  if (iterator == nullptr) return nullptr;
  std::string out;
  bool ok = true;
  PyObject* record = nullptr;
  while (ok && (record = PyIter_Next(iterator)) != nullptr) {
    if (!PyTuple_Check(record) || PyTuple_Size(record) != static_cast<Py_ssize_t>(items.size())) {
      PyErr_SetString(PyExc_TypeError, "a record is a tuple with one item per layout entry");
      ok = false;
    }
    for (size_t i = 0; ok && i < items.size(); ++i) {
      ok = append_value(out, items[i], PyTuple_GetItem(record, static_cast<Py_ssize_t>(i)),
                        object_json);
    }
    if (ok) out += "}\n";
    Py_DECREF(record);
  }
  Py_DECREF(iterator);
  if (!ok || PyErr_Occurred()) return nullptr;
  return PyUnicode_DecodeUTF8(out.data(), static_cast<Py_ssize_t>(out.size()), "strict");
}

PyMethodDef kMethods[] = {
    {"json_lines", json_lines, METH_VARARGS,
     "json_lines(records, layout, object_json) -> str: one line of JSON per record."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_lines",
    "The JSON lines of records, for corvanta_tools.formats.lines.",
    -1,
    kMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__lines() { return PyModule_Create(&kModule); }
