// ascii_variant_hits: the new hits that the variants of an ASCII text give.
//
// corvanta_tools.accuracy.variants documents the variants and how their hits
// are placed in the original text, and corvanta_tools.accuracy.recogniser
// (`_new_hits`) which of those hits are new; together they are the
// reference this pass equals, hit for hit. All variants are laid out in one
// synthetic text and recognised in one `map_text_json` call of the matcher.
// The synthetic text of an ASCII text is ASCII, so its byte spans are its str
// spans, as the hits' spans in the original text are.
#include "accurate_functions.hpp"
#include "derived_surface.hpp"
#include "hits_json_reader.hpp"
#include "python_objects.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvanta_tools_accurate {
namespace {

constexpr std::string_view kSeparator = ".\n";  // ends a cluster and a sentence

using Place = std::pair<Py_ssize_t, Py_ssize_t>;

// The synthetic text of all variants, and where each of its pieces came from.
struct Layout {
  std::string text;
  std::vector<Py_ssize_t> starts;   // synthetic index of each piece
  std::vector<Py_ssize_t> origins;  // original index of each piece
  std::vector<Py_ssize_t> joins;    // synthetic indices where two pieces of a variant meet

  bool crosses_join(Py_ssize_t start, Py_ssize_t end) const {
    const auto k = std::upper_bound(joins.begin(), joins.end(), start);
    return k != joins.end() && *k < end;
  }

  Py_ssize_t original(Py_ssize_t index, bool is_end) const {
    const auto k = std::upper_bound(starts.begin(), starts.end(), is_end ? index - 1 : index) -
                   starts.begin() - 1;
    return origins[k] + index - starts[k];
  }
};

// A variant's segments with those that meet merged and empty ones left out.
bool merged_segments(PyObject* variant, std::vector<Place>& merged) {
  merged.clear();
  const Py_ssize_t count = PySequence_Size(variant);
  if (count < 0) return false;
  for (Py_ssize_t k = 0; k < count; ++k) {
    Owned segment(PySequence_GetItem(variant, k));
    Py_ssize_t start = 0;
    Py_ssize_t end = 0;
    if (segment.get() == nullptr || !PyArg_ParseTuple(segment.get(), "nn", &start, &end)) {
      return false;
    }
    if (!merged.empty() && merged.back().second == start) {
      merged.back().second = end;
    } else if (end > start) {
      merged.emplace_back(start, end);
    }
  }
  return true;
}

bool laid_out(const char* text, Py_ssize_t length, PyObject* variants, Layout& layout) {
  const Py_ssize_t count = PySequence_Size(variants);
  if (count < 0) return false;
  std::vector<Place> merged;
  for (Py_ssize_t v = 0; v < count; ++v) {
    Owned variant(PySequence_GetItem(variants, v));
    if (variant.get() == nullptr || !merged_segments(variant.get(), merged)) return false;
    for (size_t k = 0; k < merged.size(); ++k) {
      const auto [start, end] = merged[k];
      if (start < 0 || end > length) {
        PyErr_SetString(PyExc_ValueError, "ascii_variant_hits: a segment lies outside the text");
        return false;
      }
      if (k != 0) {
        layout.text += ' ';
        layout.joins.push_back(static_cast<Py_ssize_t>(layout.text.size()));
      }
      layout.starts.push_back(static_cast<Py_ssize_t>(layout.text.size()));
      layout.origins.push_back(start);
      layout.text.append(text + start, static_cast<size_t>(end - start));
    }
    layout.text += kSeparator;
  }
  return true;
}

struct Call {
  ModuleState* state;
  PyObject* text;
  PyObject* hits;
  PyObject* categories;
  PyObject* phenotype;
  PyTypeObject* hit_type;
};

// The str spans of the hits so far, by term id.
bool places_by_term(PyObject* hits, std::unordered_map<std::string, std::vector<Place>>& places) {
  const Py_ssize_t count = PySequence_Size(hits);
  if (count < 0) return false;
  for (Py_ssize_t k = 0; k < count; ++k) {
    Owned hit(PySequence_GetItem(hits, k));
    Owned term(hit.get() == nullptr ? nullptr : PySequence_GetItem(hit.get(), 2));
    Owned span(term.get() == nullptr ? nullptr : PySequence_GetItem(hit.get(), 1));
    if (span.get() == nullptr) return false;
    if (span.get() == Py_None) continue;
    Py_ssize_t size = 0;
    const char* term_id = PyUnicode_AsUTF8AndSize(term.get(), &size);
    Py_ssize_t start = 0;
    Py_ssize_t end = 0;
    if (term_id == nullptr || !PyArg_ParseTuple(span.get(), "nn", &start, &end)) return false;
    places[std::string(term_id, static_cast<size_t>(size))].emplace_back(start, end);
  }
  return true;
}

bool append_new_hit(const Call& call, const JsonHit& found, Place place, PyObject* found_hits) {
  Owned term_id(call.state->term_ids->get(found.term_id, decoded));
  Owned label(term_id.get() == nullptr ? nullptr
                                       : call.state->labels->get(found.label, decoded_unmarked));
  Owned covered(label.get() == nullptr ? nullptr
                                       : PyUnicode_Substring(call.text, place.first, place.second));
  if (covered.get() == nullptr) return false;
  PyObject* category = PyDict_Size(call.categories) > 0
                           ? PyDict_GetItemWithError(call.categories, term_id.get())
                           : nullptr;
  if (category == nullptr && PyErr_Occurred()) return false;
  category = category == nullptr ? call.phenotype : category;
  PyObject* span = Py_BuildValue("(nn)", place.first, place.second);
  if (span == nullptr) return false;
  PyObject* items[] = {span,
                       Py_NewRef(span),
                       term_id.share(),
                       label.share(),
                       PyBool_FromLong(found.excluded),
                       covered.share(),
                       Py_NewRef(category)};
  Owned hit(new_tuple_of(call.hit_type, items, 7));
  return hit.get() != nullptr && PyList_Append(found_hits, hit.get()) == 0;
}

// The hits of the synthetic text that cross a join, placed in the original
// text, whose term no hit at an overlapping place has already.
bool new_hits(const Call& call, const Layout& layout, std::string_view rendered,
              PyObject* found_hits) {
  HitsJson json(rendered);
  JsonHit found;
  std::unordered_map<std::string, std::vector<Place>> places;
  bool placed = false;
  while (json.next(found)) {
    if (found.end < found.start || found.end > static_cast<Py_ssize_t>(layout.text.size())) {
      return false;
    }
    if (!layout.crosses_join(found.start, found.end)) continue;
    if (!placed && !places_by_term(call.hits, places)) return false;
    placed = true;
    const Place place{layout.original(found.start, false), layout.original(found.end, true)};
    std::vector<Place>& taken = places[found.term_id];
    const bool overlaps = std::any_of(taken.begin(), taken.end(), [&](const Place& other) {
      return other.first < place.second && place.first < other.second;
    });
    if (overlaps) continue;
    taken.push_back(place);
    if (!append_new_hit(call, found, place, found_hits)) return false;
  }
  return !json.malformed();
}

}  // namespace

PyObject* ascii_variant_hits(PyObject* module, PyObject* args) {
  Call call{};
  call.state = &state_of(module);
  PyObject* matcher = nullptr;
  PyObject* variants = nullptr;
  if (!PyArg_ParseTuple(args, "OUOOO!UO!:ascii_variant_hits", &matcher, &call.text, &variants,
                        &call.hits, &PyDict_Type, &call.categories, &call.phenotype, &PyType_Type,
                        &call.hit_type)) {
    return nullptr;
  }
  if (!PyType_IsSubtype(call.hit_type, &PyTuple_Type)) {
    PyErr_SetString(PyExc_TypeError, "ascii_variant_hits: the hit type must be a tuple type");
    return nullptr;
  }
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(call.text, &length);
  if (text == nullptr) return nullptr;
  if (length != PyUnicode_GetLength(call.text)) {
    PyErr_SetString(PyExc_ValueError, "ascii_variant_hits: the text is not ASCII");
    return nullptr;
  }
  Owned found_hits(PyList_New(0));
  if (found_hits.get() == nullptr) return nullptr;
  Layout layout;
  if (!laid_out(text, length, variants, layout)) return nullptr;
  if (layout.text.empty()) return found_hits.share();
  Owned synthetic(
      PyUnicode_FromStringAndSize(layout.text.data(), static_cast<Py_ssize_t>(layout.text.size())));
  Owned rendered(synthetic.get() == nullptr
                     ? nullptr
                     : PyObject_CallMethod(matcher, "map_text_json", "O", synthetic.get()));
  if (rendered.get() == nullptr) return nullptr;
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(rendered.get(), &size);
  if (bytes == nullptr ||
      !new_hits(call, layout, std::string_view(bytes, static_cast<size_t>(size)),
                found_hits.get())) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_ValueError, "ascii_variant_hits: the matcher's hits are malformed");
    }
    return nullptr;
  }
  return found_hits.share();
}

}  // namespace corvanta_tools_accurate
