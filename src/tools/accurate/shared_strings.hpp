// One str object per distinct UTF-8 string: the term ids and labels of hits
// recur from text to text, and sharing them saves decoding, allocating and
// hashing each again (a str keeps its hash), and the memory of records that
// hold them. Bounded: emptied when it reaches kMaxStrings, far more than the
// labels of a release.
#pragma once

#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#include <Python.h>

#include <string>
#include <unordered_map>

namespace corvanta_tools_accurate {

class SharedStrings {
 public:
  SharedStrings() = default;
  SharedStrings(const SharedStrings&) = delete;
  SharedStrings& operator=(const SharedStrings&) = delete;
  ~SharedStrings() { clear(); }

  // A new reference to the str of `key` as `make` gives it (UTF-8 in, str
  // out), made on its first request; nullptr with an exception set.
  template <typename Make>
  PyObject* get(const std::string& key, Make make) {
    auto found = strings_.find(key);
    if (found != strings_.end()) return Py_NewRef(found->second);
    if (strings_.size() >= kMaxStrings) clear();
    PyObject* made = make(key);
    if (made == nullptr) return nullptr;
    strings_.emplace(key, Py_NewRef(made));
    return made;
  }

 private:
  static constexpr size_t kMaxStrings = 1 << 18;

  void clear() {
    for (auto& entry : strings_) Py_DECREF(entry.second);
    strings_.clear();
  }

  std::unordered_map<std::string, PyObject*> strings_;
};

}  // namespace corvanta_tools_accurate
