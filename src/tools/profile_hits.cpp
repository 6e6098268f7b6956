// ascii_hits: the accurate profile's hits of an ASCII text, read straight
// from the derived release's `map_text_json`.
//
// corvanta_tools.accuracy.recogniser documents what a hit of the first pass
// is; its Python reading of the same JSON is the reference this one equals,
// hit for hit. The JSON is the extension's rendering (an array of objects
// with the members excluded, label, span and termId); any member order and
// JSON white space are accepted, anything else is a ValueError.
//
// In an ASCII text a hit's byte span is its str span, so nothing is mapped:
// each hit is one tuple of the caller's hit type, built without a Python
// call, holding the span (twice), the term id, the label with the derived
// release's marks taken out, the excluded flag, the covered text and the
// category. A hit on one word of letters and digits is kept only where
// `kept(word, label)` says so, when `check` is set.
#include "accurate_functions.hpp"

#include <string>
#include <string_view>

namespace corvanta_tools_accurate {
namespace {

constexpr std::string_view kMark = "{}";  // what the derived release adds to a surface

struct Cursor {
  const char* at;
  const char* end;

  void skip_space() {
    while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
  }
  bool take(char c) {
    skip_space();
    if (at == end || *at != c) return false;
    ++at;
    return true;
  }
  bool take_literal(std::string_view word) {
    skip_space();
    if (static_cast<size_t>(end - at) < word.size() || std::string_view(at, word.size()) != word) {
      return false;
    }
    at += word.size();
    return true;
  }
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool read_hex4(Cursor& in, uint32_t& value) {
  if (in.end - in.at < 4) return false;
  value = 0;
  for (int k = 0; k < 4; ++k) {
    const int digit = hex_value(in.at[k]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  in.at += 4;
  return true;
}

void append_utf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool read_escape(Cursor& in, std::string& out) {
  if (in.at == in.end) return false;
  const char c = *in.at++;
  switch (c) {
    case '"': case '\\': case '/': out += c; return true;
    case 'b': out += '\b'; return true;
    case 'f': out += '\f'; return true;
    case 'n': out += '\n'; return true;
    case 'r': out += '\r'; return true;
    case 't': out += '\t'; return true;
    case 'u': break;
    default: return false;
  }
  uint32_t code = 0;
  if (!read_hex4(in, code)) return false;
  if (code >= 0xD800 && code < 0xDC00) {
    uint32_t low = 0;
    if (in.end - in.at < 6 || in.at[0] != '\\' || in.at[1] != 'u') return false;
    in.at += 2;
    if (!read_hex4(in, low) || low < 0xDC00 || low >= 0xE000) return false;
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  } else if (code >= 0xDC00 && code < 0xE000) {
    return false;
  }
  append_utf8(code, out);
  return true;
}

// A JSON string's contents, unescaped, into `out` (UTF-8).
bool read_string(Cursor& in, std::string& out) {
  out.clear();
  if (!in.take('"')) return false;
  const char* run = in.at;
  while (in.at < in.end) {
    const char c = *in.at;
    if (c == '"') {
      out.append(run, in.at);
      ++in.at;
      return true;
    }
    if (c == '\\') {
      out.append(run, in.at);
      ++in.at;
      if (!read_escape(in, out)) return false;
      run = in.at;
      continue;
    }
    ++in.at;
  }
  return false;
}

bool read_index(Cursor& in, Py_ssize_t& value) {
  in.skip_space();
  const char* first = in.at;
  value = 0;
  while (in.at < in.end && *in.at >= '0' && *in.at <= '9' && in.at - first < 18) {
    value = value * 10 + (*in.at - '0');
    ++in.at;
  }
  return in.at > first && (in.at == in.end || *in.at < '0' || *in.at > '9');
}

struct JsonHit {
  std::string term_id;
  std::string label;
  Py_ssize_t start = -1;
  Py_ssize_t end = -1;
  bool excluded = false;
};

bool read_member(Cursor& in, std::string& key, JsonHit& hit) {
  if (!read_string(in, key) || !in.take(':')) return false;
  if (key == "termId") return read_string(in, hit.term_id);
  if (key == "label") return read_string(in, hit.label);
  if (key == "excluded") {
    hit.excluded = in.take_literal("true");
    return hit.excluded || in.take_literal("false");
  }
  if (key == "span") {
    return in.take('[') && read_index(in, hit.start) && in.take(',') && read_index(in, hit.end) &&
           in.take(']');
  }
  return false;
}

bool read_hit(Cursor& in, std::string& key, JsonHit& hit) {
  hit.start = hit.end = -1;
  if (!in.take('{')) return false;
  int members = 0;
  do {
    if (!read_member(in, key, hit)) return false;
    ++members;
  } while (in.take(','));
  return in.take('}') && members == 4 && hit.start >= 0;
}

std::string unmarked(const std::string& surface) {
  std::string out;
  out.reserve(surface.size());
  size_t from = 0;
  for (size_t mark = surface.find(kMark); mark != std::string::npos;
       mark = surface.find(kMark, from)) {
    out.append(surface, from, mark - from);
    from = mark + kMark.size();
  }
  out.append(surface, from);
  return out;
}

bool one_word(const char* text, Py_ssize_t start, Py_ssize_t end) {
  if (start == end) return false;
  for (Py_ssize_t k = start; k < end; ++k) {
    const char c = text[k];
    if (!((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))) return false;
  }
  return true;
}

// A reference owned by the scope that holds it.
class Owned {
 public:
  explicit Owned(PyObject* object = nullptr) : object_(object) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // A new reference for a caller that steals it.
  PyObject* share() const {
    Py_INCREF(object_);
    return object_;
  }

 private:
  PyObject* object_;
};

// A new instance of the tuple subclass `type` holding `items`, which it
// steals (as PyTuple_SetItem does, also on failure); nullptr with an
// exception set.
PyObject* new_tuple_of(PyTypeObject* type, PyObject* const* items, Py_ssize_t count) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* tuple = alloc == nullptr ? nullptr : alloc(type, count);
  for (Py_ssize_t k = 0; k < count; ++k) {
    if (tuple == nullptr) {
      Py_DECREF(items[k]);
    } else if (PyTuple_SetItem(tuple, k, items[k]) != 0) {
      Py_CLEAR(tuple);
    }
  }
  return tuple;
}

struct Call {
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
  const std::string surface = unmarked(found.label);
  Owned label(PyUnicode_DecodeUTF8(surface.data(), static_cast<Py_ssize_t>(surface.size()),
                                   "strict"));
  if (label.get() == nullptr) return false;
  Owned covered(PyUnicode_Substring(call.text, found.start, found.end));
  if (covered.get() == nullptr) return false;
  const int keep = kept(call, found, covered.get(), label.get());
  if (keep <= 0) return keep == 0;
  Owned term_id(PyUnicode_DecodeUTF8(found.term_id.data(),
                                     static_cast<Py_ssize_t>(found.term_id.size()), "strict"));
  if (term_id.get() == nullptr) return false;
  PyObject* category = PyDict_Size(call.categories) > 0
                           ? PyDict_GetItemWithError(call.categories, term_id.get())
                           : nullptr;
  if (category == nullptr && PyErr_Occurred()) return false;
  Py_INCREF(category == nullptr ? call.phenotype : category);
  PyObject* items[] = {Py_BuildValue("(nn)", found.start, found.end), nullptr, term_id.share(),
                       label.share(), PyBool_FromLong(found.excluded), covered.share(),
                       category == nullptr ? call.phenotype : category};
  if (items[0] == nullptr) {
    for (PyObject* item : items) Py_XDECREF(item);
    return false;
  }
  items[1] = Py_NewRef(items[0]);  // the byte span is the str span
  Owned hit(new_tuple_of(call.hit_type, items, 7));
  return hit.get() != nullptr && PyList_Append(hits, hit.get()) == 0;
}

bool read_hits(const Call& call, Cursor& in, PyObject* hits, PyObject* starts) {
  if (!in.take('[')) return false;
  if (in.take(']')) return true;
  std::string key;
  JsonHit found;
  do {
    if (!read_hit(in, key, found)) return false;
    if (found.end < found.start || found.end > call.length) return false;
    PyObject* start = PyLong_FromSsize_t(found.start);
    const bool listed = start != nullptr && PyList_Append(starts, start) == 0;
    Py_XDECREF(start);
    if (!listed || !append_hit(call, found, hits)) return false;
  } while (in.take(','));
  return in.take(']');
}

}  // namespace

PyObject* ascii_hits(PyObject*, PyObject* args) {
  Call call{};
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
  PyObject* hits = PyList_New(0);
  PyObject* starts = PyList_New(0);
  Cursor in{bytes, bytes + size};
  const bool read = hits != nullptr && starts != nullptr && read_hits(call, in, hits, starts);
  in.skip_space();
  if (!read || in.at != in.end) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ValueError, "ascii_hits: not the hits of map_text_json for this text");
    }
    Py_XDECREF(hits);
    Py_XDECREF(starts);
    return nullptr;
  }
  return Py_BuildValue("(NN)", hits, starts);
}

}  // namespace corvanta_tools_accurate
