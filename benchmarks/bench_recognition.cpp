// Recognition throughput of the native core over a JSON-lines corpus, without
// the Python layer: the figure to profile when recognition gets slower.
//
// Build (CMake, with the benchmarks enabled) and run from the repository root:
//   cmake -S . -B build/bench -DCORVANTA_MODULE=OFF -DCORVANTA_BENCHMARKS=ON
//   cmake --build build/bench --target bench_recognition
//   build/bench/bench_recognition ../shared/hpo/hp.json \
//       ../shared/corpora/medical_abstracts_tc/docs.jsonl [rounds]
#include <simdjson.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "lexicon/construction.hpp"
#include "recognize/recognition.hpp"

namespace {

// CPU time of the calling thread: a single-threaded figure that other load
// on the machine disturbs far less than wall time.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Best wall time of `rounds` passes over `texts` split over `threads` threads
// sharing the state. The threads live through all rounds, each keeping its
// scratch (and stem cache) warm.
double threads_wall(const corvanta::MatcherState& state, const std::vector<std::string>& texts,
                    size_t threads, int rounds) {
  double best = 1e9;
  std::barrier sync(static_cast<std::ptrdiff_t>(threads));
  auto worker = [&](size_t lane) {
    corvanta::RecognitionScratch local;
    for (int r = 0; r <= rounds; ++r) {
      sync.arrive_and_wait();
      const auto start = std::chrono::steady_clock::now();
      for (size_t i = lane; i < texts.size(); i += threads)
        corvanta::recognize(state, texts[i], {}, local);
      sync.arrive_and_wait();
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (lane == 0 && r > 0) best = std::min(best, seconds);
    }
  };
  std::vector<std::thread> others;
  for (size_t lane = 1; lane < threads; ++lane) others.emplace_back(worker, lane);
  worker(0);
  for (std::thread& t : others) t.join();
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RELEASE CORPUS.jsonl [rounds]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  auto built = corvanta::build_from_path(argv[1]);
  if (!built.ok()) {
    std::fprintf(stderr, "%s\n", built.error().message.c_str());
    return 1;
  }
  const corvanta::MatcherState& state = *built.value();

  std::vector<std::string> texts;
  simdjson::dom::parser parser;
  simdjson::dom::document_stream docs;
  if (parser.load_many(argv[2]).get(docs)) return 1;
  size_t bytes = 0;
  for (auto doc : docs) {
    std::string_view text;
    if (doc["text"].get_string().get(text)) continue;
    texts.emplace_back(text);
    bytes += text.size();
  }

  corvanta::RecognitionScratch scratch;
  size_t hit_count = 0;
  double best = 1e9;
  double best_cpu = 1e9;
  for (int r = 0; r < rounds; ++r) {
    hit_count = 0;
    const auto start = std::chrono::steady_clock::now();
    const double start_cpu = thread_seconds();
    for (const std::string& text : texts) {
      hit_count += corvanta::recognize(state, text, {}, scratch).size();
    }
    best_cpu = std::min(best_cpu, thread_seconds() - start_cpu);
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf(
      "%zu texts, %.2f MB, %zu hits: %.1f MB/s CPU time (%.1f ms, %.1f us/text; "
      "best of %d), %.1f MB/s wall\n",
      texts.size(), bytes / 1e6, hit_count, bytes / best_cpu / 1e6, best_cpu * 1e3,
      best_cpu / texts.size() * 1e6, rounds, bytes / best / 1e6);

  for (const size_t threads : {2, 4}) {
    const double wall = threads_wall(state, texts, threads, rounds);
    std::printf("%zu threads: %.1f ms wall, %.2fx one thread's wall time\n", threads, wall * 1e3,
                best / wall);
  }
  return 0;
}
