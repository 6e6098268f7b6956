// Recognition over arbitrary UTF-8 with the small fixture release: every run
// checks the promises of recognition_checks.hpp. Inputs that are not UTF-8
// are refused, since no such text gets past the Python boundary.
#include <simdjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "lexicon/construction.hpp"
#include "recognition_checks.hpp"

namespace {

const corvanta::MatcherState& fixture_state() {
  static const std::unique_ptr<const corvanta::MatcherState> state = [] {
    auto built = corvanta::build_from_path(CORVANTA_FUZZ_FIXTURE);
    if (!built.ok()) {
      std::fprintf(stderr, "fixture release: %s\n", built.error().message.c_str());
      std::abort();
    }
    return std::move(built).value();
  }();
  return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!simdjson::validate_utf8(text.data(), text.size())) return -1;
  corvanta::fuzz::check_recognition(fixture_state(), text);
  return 0;
}
