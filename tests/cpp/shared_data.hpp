// The real HPO releases: the one the package embeds (unpacked by CMake, always
// there) and the older ones beside the repository (../shared/hpo/orig). Tests
// that read the older ones carry `* doctest::skip(!shared_data_available())`:
// where the directory is absent they are skipped, and one line on stderr says
// why.
#pragma once

#include <cstdio>
#include <filesystem>

#ifndef CORVANTA_SHARED_DIR
#define CORVANTA_SHARED_DIR "../shared"
#endif

#ifndef CORVANTA_EMBEDDED_RELEASE
#error "CMake defines CORVANTA_EMBEDDED_RELEASE: the embedded release, unpacked"
#endif

inline bool shared_data_available() {
  static const bool available = [] {
    const bool found = std::filesystem::exists(CORVANTA_SHARED_DIR "/hpo/orig");
    if (!found) {
      std::fprintf(stderr, "skipping the tests on the older releases: %s not found\n",
                   CORVANTA_SHARED_DIR "/hpo/orig");
    }
    return found;
  }();
  return available;
}
