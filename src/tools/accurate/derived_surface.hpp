// A surface as the release wrote it, from the derived release's form, which
// carries a mark after its first character (corvanta_tools.accuracy.
// derived_release); as `original_surface` there, every mark is taken out.
#pragma once

#include "python_objects.hpp"

#include <string>
#include <string_view>

namespace corvanta_tools_accurate {

inline std::string unmarked(const std::string& surface) {
  constexpr std::string_view kMark = "{}";
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

// The str of the unmarked surface of `surface` (UTF-8).
inline PyObject* decoded_unmarked(const std::string& surface) { return decoded(unmarked(surface)); }

}  // namespace corvanta_tools_accurate
