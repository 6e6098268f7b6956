// Reading the hits of `Corvanta.map_text_json`: an array of objects with
// the members excluded, label, span and termId, in any order, JSON white
// space allowed. Anything else is malformed.
#pragma once

#include "accurate_functions.hpp"

#include <string>
#include <string_view>

namespace corvanta_tools_accurate {

// One hit, its strings unescaped (UTF-8).
struct JsonHit {
  std::string term_id;
  std::string label;
  Py_ssize_t start = -1;
  Py_ssize_t end = -1;
  bool excluded = false;
};

// The hits of one rendering, one at a time.
class HitsJson {
 public:
  explicit HitsJson(std::string_view json) : at_(json.data()), end_(json.data() + json.size()) {}

  // The next hit into `hit`: false at the end of the array or where the
  // rendering is malformed (then `malformed()`).
  bool next(JsonHit& hit);
  bool malformed() const { return malformed_; }

 private:
  const char* at_;
  const char* end_;
  bool started_ = false;
  bool malformed_ = false;
  std::string key_;
};

}  // namespace corvanta_tools_accurate
