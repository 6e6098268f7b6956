// The release reader and the whole construction pipeline on arbitrary bytes:
// every input either builds a matcher or fails with an error value. A matcher
// that builds is then used, so that whatever labels the input produced also
// go through the automaton, the concept index, recognition and the JSON
// renderer: each label searched on its own must be found where it stands.
//
// The bytes reach build_from_path as a file, like every release. One
// in-memory file (memfd) is rewritten for each input and opened through
// /proc/self/fd, which keeps the disk out of the loop.
#include <sys/mman.h>
#include <unistd.h>

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lexicon/construction.hpp"
#include "recognition_checks.hpp"
#include "recognize/recognition.hpp"
#include "text/unicode.hpp"

namespace {

// The label rows looked up by themselves; enough to reach every kind of row
// in a small input without making large ones slow.
constexpr size_t kRowsSearched = 64;

struct MemoryFile {
  int fd;
  std::string path;
};

const MemoryFile& release_file() {
  static const MemoryFile file = [] {
    const int fd = memfd_create("corvanta-release", MFD_CLOEXEC);
    if (fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    return MemoryFile{fd, "/proc/self/fd/" + std::to_string(fd)};
  }();
  return file;
}

void write_release(const uint8_t* data, size_t size) {
  const int fd = release_file().fd;
  CORVANTA_FUZZ_CHECK(ftruncate(fd, 0) == 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    CORVANTA_FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
}

// A label searched as the whole text is found at [0, its lower-cased length).
void check_label_finds_itself(const corvanta::MatcherState& state, size_t row) {
  const std::string pattern = corvanta::text::lower_cased(state.labels()[row].surface);
  corvanta::fuzz::check_recognition(state, pattern);
  if (pattern.empty()) return;
  corvanta::RecognitionScratch scratch;
  bool found = false;
  for (const corvanta::HitRecord& h : corvanta::recognize(state, pattern, {}, scratch)) {
    found |= h.byte_begin == 0 && h.byte_end == pattern.size() &&
             corvanta::text::lower_cased(state.labels()[h.row].surface) == pattern;
  }
  CORVANTA_FUZZ_CHECK(found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_release(data, size);
  const std::string& path = release_file().path;
  auto built = corvanta::build_from_path(path);
  if (!built.ok()) {
    using corvanta::Errc;
    const corvanta::Error& error = built.error();
    CORVANTA_FUZZ_CHECK(!error.message.empty());
    CORVANTA_FUZZ_CHECK(error.code == Errc::kOntologyLoad || error.code == Errc::kMatcherBuild ||
                        error.code == Errc::kInvariant);
    if (error.code == Errc::kOntologyLoad) {
      const std::string prefix = "failed to load HPO ontology from " + path + ": ";
      CORVANTA_FUZZ_CHECK(error.message.rfind(prefix, 0) == 0 &&
                          error.message.size() > prefix.size());
    }
    return 0;
  }
  const corvanta::MatcherState& state = *built.value();
  CORVANTA_FUZZ_CHECK(simdjson::validate_utf8(state.version().data(), state.version().size()));
  const size_t rows = std::min(state.labels().size(), kRowsSearched);
  for (size_t row = 0; row < rows; ++row) check_label_finds_itself(state, row);
  corvanta::fuzz::check_recognition(
      state, "No evidence of seizures, but short stature and ataxia. Tremor; fever without cough.");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (simdjson::validate_utf8(input.data(), input.size()))
    corvanta::fuzz::check_recognition(state, input);
  return 0;
}
