// The real HPO releases beside the repository (../shared/hpo). Tests that read
// them carry `* doctest::skip(!shared_data_available())`: where the directory
// is absent they are skipped, and one line on stderr says why.
#pragma once

#include <cstdio>
#include <filesystem>

#ifndef CORVANTA_SHARED_DIR
#define CORVANTA_SHARED_DIR "../shared"
#endif

inline bool shared_data_available() {
  static const bool available = [] {
    const bool found = std::filesystem::exists(CORVANTA_SHARED_DIR "/hpo/hp.json");
    if (!found) {
      std::fprintf(stderr, "skipping the tests on the real releases: %s not found\n",
                   CORVANTA_SHARED_DIR "/hpo/hp.json");
    }
    return found;
  }();
  return available;
}
