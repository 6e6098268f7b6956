// Times load_release (read, typed check, ontology model, phenotype subtree)
// on a release file. Build (CMake, with the benchmarks enabled) and run from
// the repository root:
//   cmake -S . -B build/bench -DCORVANTA_MODULE=OFF -DCORVANTA_BENCHMARKS=ON
//   cmake --build build/bench --target bench_load_release
//   build/bench/bench_load_release ../shared/hpo/hp.json 20
//
// Prints the time of each run, then the minimum and the median.
//
// On the 2025-05-06 release (21.5 MB, 2-core VM, simdjson 3.0.1 icelake
// kernel) a load takes about 41 ms: reading the file about 5, the simdjson
// parse about 20 (a third of it page faults on fresh buffers), the typed
// walk with the model about 10, the subtree under 4. Tried and dropped, no
// change measured: comparing keys with an inline loop instead of memcmp,
// and MADV_HUGEPAGE on the read buffer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ontology/ontology.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s RELEASE.json [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  std::vector<double> times_ms;
  size_t terms = 0;
  size_t subtree = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    auto release = corvanta::ontology::load_release(argv[1]);
    const auto stop = std::chrono::steady_clock::now();
    if (!release.ok()) {
      std::fprintf(stderr, "load failed: %s (%s)\n", release.error().message.c_str(),
                   release.error().cause.c_str());
      return 1;
    }
    terms = release.value().ontology.terms.size();
    subtree = release.value().subtree.size();
    times_ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    std::printf("run %2d: %6.1f ms\n", run, times_ms.back());
  }
  std::sort(times_ms.begin(), times_ms.end());
  std::printf("terms %zu, subtree %zu; min %.1f ms, median %.1f ms\n", terms, subtree,
              times_ms.front(), times_ms[times_ms.size() / 2]);
}
