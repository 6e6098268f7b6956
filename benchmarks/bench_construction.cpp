// Construction of the matcher from a release, step by step: the steps that
// build_from_path runs, each timed on its own, and build_from_path as a whole.
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

#include "lexicon/construction.hpp"
#include "ontology/ontology.hpp"

namespace {

using Clock = std::chrono::steady_clock;

long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

[[noreturn]] void fail(const corvanta::Error& error) {
  std::fprintf(stderr, "%s\n", error.message.c_str());
  std::exit(1);
}

// The best time of each step over the repetitions.
struct Steps {
  double read = 1e9;  // file read, JSON parse, typed read, ontology model
  double subtree = 1e9;
  double label_table = 1e9;
  double lowered = 1e9;
  double automaton = 1e9;
  double concept_index = 1e9;
};

template <class F>
auto timed(double& best, F&& step) {
  const auto start = Clock::now();
  auto result = step();
  best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  return result;
}

void time_steps(const std::string& path, Steps& steps) {
  using namespace corvanta;
  auto release = timed(steps.read, [&] { return ontology::read_release(path); });
  if (!release.ok()) fail(release.error());
  release.value().subtree = timed(steps.subtree, [&] {
    return ontology::phenotype_subtree(release.value().first_graph_edges);
  });
  auto labeled = timed(steps.label_table, [&] { return label_release(release.value()); });
  if (!labeled.ok()) fail(labeled.error());
  const auto lowered = timed(steps.lowered, [&] {
    return std::make_unique<const LoweredSurfaces>(labeled.value().labels);
  });
  auto automaton = timed(steps.automaton, [&] { return build_automaton(*lowered); });
  if (!automaton.ok()) fail(automaton.error());
  timed(steps.concept_index, [&] { return ConceptIndex::build(lowered->views()); });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "../shared/hpo/hp.json";
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  const long rss_before = resident_kib();

  double best_total = 1e9;
  long rss_after = 0;
  std::unique_ptr<const corvanta::MatcherState> kept;
  for (int i = 0; i < repetitions; ++i) {
    kept.reset();
    auto built = timed(best_total, [&] { return corvanta::build_from_path(path); });
    if (!built.ok()) fail(built.error());
    kept = std::move(built).value();
    if (i == 0) rss_after = resident_kib();
  }
  Steps steps;
  for (int i = 0; i < repetitions; ++i) time_steps(path, steps);

  const auto& stats = kept->index().stats();
  std::printf("construction (best of %d): %.1f ms\n", repetitions, best_total * 1e3);
  std::printf("  read (file, JSON parse, typed read, ontology): %.1f ms\n", steps.read * 1e3);
  std::printf("  phenotype subtree: %.1f ms\n", steps.subtree * 1e3);
  std::printf("  label table: %.1f ms\n", steps.label_table * 1e3);
  std::printf("  lower-cased surfaces: %.1f ms\n", steps.lowered * 1e3);
  std::printf("  automaton:   %.1f ms\n", steps.automaton * 1e3);
  std::printf("  concept index: %.1f ms\n", steps.concept_index * 1e3);
  std::printf("label-table rows: %zu, %.1f MB\n", kept->labels().size(),
              kept->labels().memory_bytes() / 1e6);
  std::printf("automaton memory: %.1f MB\n", kept->automaton().memory_bytes() / 1e6);
  std::printf("concept-map keys: %zu (reachable by a window: %zu), entries: %zu\n", stats.keys,
              stats.reachable_keys, stats.entries);
  std::printf("vocabulary stems: %zu, index memory: %.1f MB\n", stats.vocabulary,
              kept->index().memory_bytes() / 1e6);
  std::printf("resident memory: %.1f MB before, %.1f MB after the first construction (+%.1f MB)\n",
              rss_before / 1024.0, rss_after / 1024.0, (rss_after - rss_before) / 1024.0);
  return 0;
}
