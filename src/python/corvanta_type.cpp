// Corvanta objects own one immutable MatcherState. Construction and every
// recognition call run their native work without the GIL: the argument's
// UTF-8 bytes are pinned by the argument itself, the state is never written,
// and all per-call memory is the calling thread's RecognitionScratch (the
// one piece of per-thread state of the module). Python objects are made only
// once the GIL is held again.
#include "python/corvanta_type.hpp"

#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fetch/release_fetch.hpp"
#include "lexicon/construction.hpp"
#include "python/hit_type.hpp"
#include "python/module_state.hpp"
#include "python/python_boundary.hpp"
#include "recognize/hits_json.hpp"
#include "recognize/recognition.hpp"

namespace corvanta::py {

namespace {

struct CorvantaObject {
  PyObject_HEAD const MatcherState* state;
};

const MatcherState& state_of(PyObject* self) {
  return *reinterpret_cast<CorvantaObject*>(self)->state;
}

// Runs `work` with the GIL released. An exception escaping the core (only
// allocation failure can) is raised as a Python exception once the GIL is
// back; returns false then.
template <class F>
bool without_gil(F&& work) {
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS try { work(); } catch (...) {
    failure = std::current_exception();
  }
  Py_END_ALLOW_THREADS if (!failure) return true;
  try {
    std::rethrow_exception(failure);
  } catch (...) {
    raise_current_exception();
  }
  return false;
}

// A new instance of `type` owning `state`; the state is released when the
// allocation fails.
PyObject* wrap_state(PyTypeObject* type, std::unique_ptr<const MatcherState> state) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<CorvantaObject*>(self)->state = state.release();
  return self;
}

// Raises the Python exception for `error`, with the exception classes of the
// module `type` belongs to, and returns nullptr.
PyObject* raise_for(PyTypeObject* type, const Error& error) {
  const ModuleState* module = module_state(type);
  return module != nullptr ? raise(error, module->invariant_error) : nullptr;
}

// A new instance of `type`, the module's Corvanta type, built from the
// release at `path`; nullptr with an exception set on failure.
PyObject* build_object(PyTypeObject* type, std::string_view path) {
  std::unique_ptr<const MatcherState> state;
  Error error;
  const bool finished = without_gil([&] {
    auto built = build_from_path(path);
    if (built.ok()) {
      state = std::move(built).value();
    } else {
      error = std::move(built).error();
    }
  });
  if (!finished) return nullptr;
  if (!state) {
    // A signal can end a read that waits (a FIFO without a writer): the
    // exception of its handler, KeyboardInterrupt for Ctrl-C, is the
    // outcome, not the "Interrupted system call" of the read it cut short.
    if (PyErr_CheckSignals() != 0) return nullptr;
    return raise_for(type, error);
  }
  return wrap_state(type, std::move(state));
}

PyObject* corvanta_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* arg = single_argument("Corvanta.__new__()", "hp_json_path", args, kwargs);
  std::string_view path;
  if (arg == nullptr || !utf8_argument(arg, "hp_json_path", path)) return nullptr;
  return build_object(type, path);
}

void corvanta_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<CorvantaObject*>(self)->state;
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);
}

PyObject* version(PyObject* self, PyObject*) {
  const std::string& text = state_of(self).version();
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The calling thread's per-call state. A call hands back what a huge text
// grew (release_large_buffers) once its result is built.
RecognitionScratch& thread_scratch() {
  thread_local RecognitionScratch scratch;
  return scratch;
}

// Recognizes the text argument of a map_text* call into `hits`, which view
// the thread's scratch, then runs `then(hits)` in the same stretch without
// the GIL: one release and one reacquisition per call. False with an
// exception set on failure.
template <class Then>
bool recognize_argument(PyObject* self, const char* callable, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames, RecognitionOptions options,
                        std::span<const HitRecord>& hits, Then&& then) {
  PyObject* arg = single_argument(callable, "text", args, nargs, kwnames);
  std::string_view text;
  if (arg == nullptr || !utf8_argument(arg, "text", text)) return false;
  const MatcherState& state = state_of(self);
  RecognitionScratch& scratch = thread_scratch();
  if (without_gil([&] {
        hits = recognize(state, text, options, scratch);
        then(hits);
      }))
    return true;
  scratch.release_large_buffers();
  return false;
}

// The label rows of `hits` into `out`, looked up while the GIL is free: the
// rows and their texts lie scattered over the label table, and fetching them
// here rather than in hit_list keeps those cache misses out of the stretch
// that holds the GIL.
void resolve_labels(std::span<const HitRecord> hits, const LabelTable& labels,
                    std::vector<LabelEntry>& out) {
  out.clear();
  for (const HitRecord& hit : hits) {
    const LabelEntry entry = labels[hit.row];
    __builtin_prefetch(entry.term_id.data());
    __builtin_prefetch(entry.surface.data());
    __builtin_prefetch(entry.surface.data() +
                       (entry.surface.empty() ? 0 : entry.surface.size() - 1));
    out.push_back(entry);
  }
}

PyObject* hit_list(std::span<const HitRecord> hits, std::span<const LabelEntry> labels,
                   PyTypeObject* hit_type) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(hits.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < hits.size(); ++i) {
    PyObject* hit = new_hit(hit_type, labels[i].term_id, labels[i].surface, hits[i]);
    if (hit == nullptr) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), hit);
  }
  return list.release();
}

// map_text and map_text_longest. The hits are of the Hit type of the module
// that defined Corvanta (`defining_class`).
template <bool kLongestOnly>
PyObject* map_text_hits(PyObject* self, PyTypeObject* defining_class, PyObject* const* args,
                        size_t nargs, PyObject* kwnames) {
  const char* callable = kLongestOnly ? "Corvanta.map_text_longest()" : "Corvanta.map_text()";
  const ModuleState* module = module_state(defining_class);
  if (module == nullptr) return nullptr;
  std::span<const HitRecord> hits;
  RecognitionScratch& scratch = thread_scratch();
  const LabelTable& labels = state_of(self).labels();
  if (!recognize_argument(
          self, callable, args, static_cast<Py_ssize_t>(nargs), kwnames,
          RecognitionOptions{.longest_only = kLongestOnly}, hits,
          [&](std::span<const HitRecord> found) { resolve_labels(found, labels, scratch.labels); }))
    return nullptr;
  PyObject* list = hit_list(hits, scratch.labels, module->hit_type);
  scratch.release_large_buffers();
  return list;
}

PyObject* map_text_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  std::span<const HitRecord> hits;
  RecognitionScratch& scratch = thread_scratch();
  const LabelTable& labels = state_of(self).labels();
  if (!recognize_argument(
          self, "Corvanta.map_text_json()", args, nargs, kwnames, {}, hits,
          [&](std::span<const HitRecord> found) { render_hits_json(found, labels, scratch.json); }))
    return nullptr;
  PyObject* result = PyUnicode_FromStringAndSize(scratch.json.data(),
                                                 static_cast<Py_ssize_t>(scratch.json.size()));
  scratch.release_large_buffers();
  return result;
}

// Runs the host's pending signal handlers with the GIL taken back for a
// moment by the calling thread's own state (`context`); true when one raised
// (KeyboardInterrupt after Ctrl-C), which stays pending for the caller to
// return. The PyGILState calls would take the main interpreter's state even
// when the call came from a subinterpreter, and leave the exception there.
// A subinterpreter runs no signal handlers: the signal stays pending for the
// main interpreter.
bool signal_handler_raised(void* context) {
  PyEval_RestoreThread(static_cast<PyThreadState*>(context));
  const bool raised = PyErr_CheckSignals() != 0;
  PyEval_SaveThread();
  return raised;
}

// A static method that still sees its class: CPython calls a METH_STATIC
// function without one, so the class installs this function bound to itself
// (see install_fetch_latest), and the class leads to the module's types and
// exception.
PyObject* fetch_latest(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* arg = single_argument("Corvanta.fetch_latest()", "cache_dir", args, nargs, kwnames);
  std::string_view cache_dir;
  if (arg == nullptr || !utf8_argument(arg, "cache_dir", cache_dir)) return nullptr;
  std::string target;
  Error error;
  PyThreadState* const caller = PyThreadState_Get();
  const bool finished = without_gil([&] {
    auto fetched = fetch_release(cache_dir, FetchCancel{signal_handler_raised, caller});
    if (fetched.ok()) {
      target = std::move(fetched).value();
    } else {
      error = std::move(fetched).error();
    }
  });
  if (!finished) return nullptr;
  if (PyErr_Occurred() != nullptr || PyErr_CheckSignals() != 0) return nullptr;
  auto* type = reinterpret_cast<PyTypeObject*>(cls);
  if (target.empty()) return raise_for(type, error);
  return build_object(type, target);
}

#define CORVANTA_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

PyMethodDef fetch_latest_def = {
    "fetch_latest", CORVANTA_FASTCALL(fetch_latest), METH_FASTCALL | METH_KEYWORDS,
    "fetch_latest(cache_dir)\n--\n\n"
    "Fetches (or reuses a cached) latest HPO release into `cache_dir` and builds the\n"
    "concept-matching index from it. Only the latest release is supported: there is\n"
    "no fetching of a pinned version. Remove `cache_dir/hp.json` to refresh it."};

PyMethodDef corvanta_methods[] = {
    {"version", version, METH_NOARGS,
     "version($self)\n--\n\nThe loaded ontology's version string."},
    {"map_text", CORVANTA_FASTCALL(map_text_hits<false>),
     METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "map_text($self, text)\n--\n\n"
     "Recognizes HPO concepts in `text`, returned as native `Hit` objects with the\n"
     "attributes .term_id, .label, .span and .excluded. Returns every clustering-stage\n"
     "candidate, including ones nested inside a longer overlapping match; see\n"
     "`map_text_longest` for longest-match-only."},
    {"map_text_longest", CORVANTA_FASTCALL(map_text_hits<true>),
     METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "map_text_longest($self, text)\n--\n\n"
     "Like `map_text`, but drops any clustering-stage match fully nested inside a\n"
     "longer overlapping match."},
    {"map_text_json", CORVANTA_FASTCALL(map_text_json), METH_FASTCALL | METH_KEYWORDS,
     "map_text_json($self, text)\n--\n\n"
     "The same recognition as `map_text`, serialized as JSON with the keys\n"
     "termId/label/span/excluded. Meant for interchangeability with a benchmark\n"
     "harness, not the primary API."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot corvanta_slots[] = {
    {Py_tp_doc, const_cast<char*>("Corvanta(hp_json_path)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(corvanta_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(corvanta_dealloc)},
    {Py_tp_methods, corvanta_methods},
    {0, nullptr},
};

PyType_Spec corvanta_spec = {
    "builtins.Corvanta", sizeof(CorvantaObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    corvanta_slots,
};

}  // namespace

namespace {

// Puts fetch_latest in the class's dictionary as a static method whose
// function is bound to the class. The class is immutable to Python code, so
// the entry goes in through the generic attribute path, once, before anyone
// has seen the class; the type's lookup cache is told afterwards.
bool install_fetch_latest(PyObject* type) {
  PyRef function(PyCFunction_NewEx(&fetch_latest_def, type, nullptr));
  if (!function) return false;
  PyObject* const staticmethod = PyDict_GetItemString(PyEval_GetBuiltins(), "staticmethod");
  if (staticmethod == nullptr) return false;
  PyRef method(PyObject_CallFunctionObjArgs(staticmethod, function.get(), nullptr));
  if (!method) return false;
  PyRef name(PyUnicode_FromString(fetch_latest_def.ml_name));
  if (!name || PyObject_GenericSetAttr(type, name.get(), method.get()) < 0) return false;
  PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
  return true;
}

}  // namespace

PyObject* create_corvanta_type(PyObject* module) {
  PyRef type(PyType_FromModuleAndSpec(module, &corvanta_spec, nullptr));
  if (!type || !install_fetch_latest(type.get())) return nullptr;
  return type.release();
}

}  // namespace corvanta::py
