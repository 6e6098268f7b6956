// corvanta_tools._context: the phrase search of the toolkit's ConText engine.
//
// scan(text, table) finds, left to right and without overlap, every phrase
// of a prefix tree that starts at a word start and ends before a non-word
// character, the longest at each start, in a text already lower-cased. It
// returns a flat list of ints: start, end, phrase number, for each phrase.
// The table is the tree as int32 values (corvanta_tools.context.lexicon
// builds it):
//   node_count, edge_count,
//   phrase[node_count]        phrase number ending at the node, or -1,
//   first_edge[node_count+1]  each node's edges are first_edge[n]..first_edge[n+1],
//   label[edge_count]         a character, or -1 for a run of white space,
//   child[edge_count]
// A typographic apostrophe (U+2019) is read as "'".
//
// Word characters are ASCII letters, digits and "_", and every non-ASCII
// character but the Latin-1 signs, the general punctuation block and the
// ideographic space; white space is ASCII's and the Unicode spaces.
#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#include <Python.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr int32_t kSpace = -1;

bool is_space(Py_UCS4 c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool is_word(Py_UCS4 c) {
  if (c < 0x80) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  if (c < 0xC0) return c == 0xAA || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB9 || c == 0xBA;
  if (c == 0xD7 || c == 0xF7) return false;
  return !(c >= 0x2000 && c <= 0x206F) && c != 0x3000 && !is_space(c);
}

struct Tree {
  int32_t nodes = 0;
  int32_t edges = 0;
  const int32_t* phrase = nullptr;
  const int32_t* first_edge = nullptr;
  const int32_t* label = nullptr;
  const int32_t* child = nullptr;

  int32_t step(int32_t node, int32_t c) const {
    for (int32_t e = first_edge[node]; e < first_edge[node + 1]; ++e) {
      if (label[e] == c) return child[e];
    }
    return -1;
  }
};

// The tree laid over the table's bytes, or false when they do not hold one.
bool read_tree(const char* bytes, Py_ssize_t size, Tree& tree) {
  if (size < 8 || size % 4 != 0) return false;
  const auto* values = reinterpret_cast<const int32_t*>(bytes);
  const int64_t count = size / 4;
  tree.nodes = values[0];
  tree.edges = values[1];
  if (tree.nodes < 1 || tree.edges < 0 ||
      count != 2 + int64_t{tree.nodes} * 2 + 1 + int64_t{tree.edges} * 2) {
    return false;
  }
  tree.phrase = values + 2;
  tree.first_edge = tree.phrase + tree.nodes;
  tree.label = tree.first_edge + tree.nodes + 1;
  tree.child = tree.label + tree.edges;
  for (int32_t e = 0; e < tree.edges; ++e) {
    if (tree.child[e] < 0 || tree.child[e] >= tree.nodes) return false;
  }
  for (int32_t n = 0; n < tree.nodes; ++n) {
    if (tree.first_edge[n] < 0 || tree.first_edge[n] > tree.first_edge[n + 1] ||
        tree.first_edge[n + 1] > tree.edges) {
      return false;
    }
  }
  return true;
}

bool append(PyObject* list, Py_ssize_t value) {
  PyObject* item = PyLong_FromSsize_t(value);
  if (item == nullptr) return false;
  const int failed = PyList_Append(list, item);
  Py_DECREF(item);
  return failed == 0;
}

// The longest phrase starting at `start`: its end and number, or number -1.
void longest_at(const Tree& tree, const Py_UCS4* text, Py_ssize_t length, Py_ssize_t start,
                Py_ssize_t& end, int32_t& phrase) {
  phrase = -1;
  int32_t node = 0;
  Py_ssize_t at = start;
  while (at < length) {
    Py_UCS4 c = text[at];
    if (is_space(c)) {
      node = tree.step(node, kSpace);
      if (node < 0) return;
      while (at < length && is_space(text[at])) ++at;
      continue;
    }
    node = tree.step(node, c == 0x2019 ? Py_UCS4{'\''} : c);
    if (node < 0) return;
    ++at;
    if (tree.phrase[node] >= 0 && (at == length || !is_word(text[at]))) {
      end = at;
      phrase = tree.phrase[node];
    }
  }
}

PyObject* scan(PyObject*, PyObject* args) {
  PyObject* text_object = nullptr;
  const char* table = nullptr;
  Py_ssize_t table_size = 0;
  if (!PyArg_ParseTuple(args, "Uy#:scan", &text_object, &table, &table_size)) return nullptr;
  Tree tree;
  if (!read_tree(table, table_size, tree)) {
    PyErr_SetString(PyExc_ValueError, "scan: the table does not hold a prefix tree");
    return nullptr;
  }
  const Py_ssize_t length = PyUnicode_GetLength(text_object);
  if (length < 0) return nullptr;
  Py_UCS4* text = PyUnicode_AsUCS4Copy(text_object);
  if (text == nullptr) return nullptr;
  PyObject* found = PyList_New(0);
  bool ok = found != nullptr;
  Py_ssize_t at = 0;
  while (ok && at < length) {
    if (!is_word(text[at]) || (at > 0 && is_word(text[at - 1]))) {
      ++at;
      continue;
    }
    Py_ssize_t end = at;
    int32_t phrase = -1;
    longest_at(tree, text, length, at, end, phrase);
    if (phrase < 0) {
      ++at;
      continue;
    }
    ok = append(found, at) && append(found, end) && append(found, phrase);
    at = end;
  }
  PyMem_Free(text);
  if (!ok) {
    Py_XDECREF(found);
    return nullptr;
  }
  return found;
}

PyMethodDef kMethods[] = {
    {"scan", scan, METH_VARARGS,
     "scan(text, table) -> list[int]: start, end and phrase number of each phrase found."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_context",
    "The phrase search of corvanta_tools.context.",
    -1,
    kMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__context() { return PyModule_Create(&kModule); }
