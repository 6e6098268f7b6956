// Construction of the matcher from a release, stage by stage.
//
// Build (CMake, with the benchmarks enabled) and run from the repository root:
//   cmake -S . -B build/bench -DCORVANTA_MODULE=OFF -DCORVANTA_BENCHMARKS=ON
//   cmake --build build/bench --target bench_construction
//   build/bench/bench_construction ../shared/hpo/hp.json [repetitions]
// benchmarks/construction.py runs it beside Python's json.load.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "hpo.hpp"

namespace {

long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "../shared/hpo/hp.json";
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  const long rss_before = resident_kib();

  corvanta::BuildProfile best{1e9, 1e9, 1e9, 1e9, 1e9};
  double best_total = 1e9;
  long rss_after = 0;
  std::unique_ptr<const corvanta::MatcherState> kept;
  for (int i = 0; i < repetitions; ++i) {
    corvanta::BuildProfile profile;
    const auto start = std::chrono::steady_clock::now();
    auto built = corvanta::build_from_path(path, &profile);
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!built.ok()) {
      std::fprintf(stderr, "%s\n", built.error().message.c_str());
      return 1;
    }
    best_total = std::min(best_total, total);
    best.parse = std::min(best.parse, profile.parse);
    best.subtree = std::min(best.subtree, profile.subtree);
    best.label_table = std::min(best.label_table, profile.label_table);
    best.automaton = std::min(best.automaton, profile.automaton);
    best.concept_index = std::min(best.concept_index, profile.concept_index);
    kept.reset();
    kept = std::move(built).value();
    if (i == 0) rss_after = resident_kib();
  }
  const auto& stats = kept->index().stats();
  std::printf("construction (best of %d): %.1f ms\n", repetitions, best_total * 1e3);
  std::printf("  parse (read, JSON parse, typed read, ontology): %.1f ms\n", best.parse * 1e3);
  std::printf("  phenotype subtree: %.1f ms\n", best.subtree * 1e3);
  std::printf("  label table: %.1f ms\n", best.label_table * 1e3);
  std::printf("  automaton:   %.1f ms\n", best.automaton * 1e3);
  std::printf("  concept index: %.1f ms\n", best.concept_index * 1e3);
  std::printf("label-table rows: %zu\n", kept->labels().size());
  std::printf("automaton memory: %.1f MB\n", kept->automaton().memory_bytes() / 1e6);
  std::printf("concept-map keys: %zu (reachable by a window: %zu), entries: %zu\n", stats.keys,
              stats.reachable_keys, stats.entries);
  std::printf("vocabulary stems: %zu, index memory: %.1f MB\n", stats.vocabulary,
              kept->index().memory_bytes() / 1e6);
  std::printf("resident memory: %.1f MB before, %.1f MB after the first construction (+%.1f MB)\n",
              rss_before / 1024.0, rss_after / 1024.0, (rss_after - rss_before) / 1024.0);
  return 0;
}
