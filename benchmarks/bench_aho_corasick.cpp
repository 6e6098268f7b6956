// Build time, memory and scan throughput of the exact-stage automaton.
//
// Build (CMake, with the benchmarks enabled) and run from the repository root:
//   cmake -S . -B build/bench -DCORVANTA_MODULE=OFF -DCORVANTA_BENCHMARKS=ON
//   cmake --build build/bench --target bench_aho_corasick
//   build/bench/bench_aho_corasick [hp.json] [docs.jsonl]
// The defaults are ../shared/hpo/hp.json and
// ../shared/corpora/medical_abstracts_tc/docs.jsonl.
//
// Patterns: the label and every synonym of each non-obsolete HP class (about
// 43,000, 1.3 MB), lower-cased ASCII-wise (close enough to the real
// lower-casing for timing). Corpus: the abstracts' texts, lower-cased the
// same way (2,888 texts, 3.6 MB). Each text is scanned with find, then find
// again from the end of the match, and then with find_all, as the exact
// stage does.
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "lexicon/aho_corasick.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool read_patterns(const char* path, std::vector<std::string>& patterns) {
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  if (parser.load(path).get(doc)) return false;
  simdjson::dom::array nodes;
  if (doc["graphs"].at(0)["nodes"].get(nodes)) return false;
  for (simdjson::dom::element node : nodes) {
    std::string_view id;
    std::string_view label;
    if (node["id"].get(id) || !id.starts_with("http://purl.obolibrary.org/obo/HP_")) continue;
    if (node["lbl"].get(label)) continue;
    bool deprecated = false;
    if (!node.at_pointer("/meta/deprecated").get(deprecated) && deprecated) continue;
    patterns.push_back(lower_ascii(label));
    simdjson::dom::array synonyms;
    if (node.at_pointer("/meta/synonyms").get(synonyms)) continue;
    for (simdjson::dom::element syn : synonyms) {
      std::string_view text;
      if (!syn["val"].get(text)) patterns.push_back(lower_ascii(text));
    }
  }
  return true;
}

bool read_corpus(const char* path, std::vector<std::string>& texts) {
  simdjson::ondemand::parser parser;
  simdjson::padded_string json;
  if (simdjson::padded_string::load(path).get(json)) return false;
  simdjson::ondemand::document_stream docs;
  if (parser.iterate_many(json).get(docs)) return false;
  for (auto doc : docs) {
    std::string_view text;
    if (doc["text"].get(text)) return false;
    texts.push_back(lower_ascii(text));
  }
  return true;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const char* hp_json = argc > 1 ? argv[1] : "../shared/hpo/hp.json";
  const char* corpus = argc > 2 ? argv[2] : "../shared/corpora/medical_abstracts_tc/docs.jsonl";

  std::vector<std::string> patterns;
  std::vector<std::string> texts;
  if (!read_patterns(hp_json, patterns) || !read_corpus(corpus, texts)) {
    std::fprintf(stderr, "cannot read %s or %s\n", hp_json, corpus);
    return 1;
  }
  size_t pattern_bytes = 0;
  for (const auto& p : patterns) pattern_bytes += p.size();
  size_t text_bytes = 0;
  for (const auto& t : texts) text_bytes += t.size();
  std::printf("patterns: %zu (%.2f MB); texts: %zu (%.2f MB)\n", patterns.size(),
              pattern_bytes / 1e6, texts.size(), text_bytes / 1e6);

  const std::vector<std::string_view> views(patterns.begin(), patterns.end());
  std::vector<double> build_ms;
  std::unique_ptr<const corvanta::AhoCorasick> ac;
  for (int run = 0; run < 15; ++run) {
    const auto t0 = Clock::now();
    auto built = corvanta::AhoCorasick::build(views);
    build_ms.push_back(ms_since(t0));
    if (!built.ok()) {
      std::fprintf(stderr, "build failed: %s\n", built.error().message.c_str());
      return 1;
    }
    ac = std::move(built).value();
  }
  std::printf("build: median %.2f ms, min %.2f ms\n", median(build_ms),
              *std::min_element(build_ms.begin(), build_ms.end()));
  std::printf("memory: %.2f MB\n", ac->memory_bytes() / 1e6);

  std::vector<double> scan_ms;
  size_t matches = 0;
  for (int run = 0; run < 15; ++run) {
    matches = 0;
    const auto t0 = Clock::now();
    for (const auto& text : texts) {
      corvanta::AcMatch m;
      for (size_t from = 0; ac->find(text, from, m); from = m.byte_end) ++matches;
    }
    scan_ms.push_back(ms_since(t0));
  }
  const double best = *std::min_element(scan_ms.begin(), scan_ms.end());
  std::printf("scan: %zu matches, median %.2f ms (%.0f MB/s), best %.2f ms (%.0f MB/s)\n", matches,
              median(scan_ms), text_bytes / 1e3 / median(scan_ms), best, text_bytes / 1e3 / best);
  std::vector<double> all_ms;
  corvanta::AcScratch scratch;
  for (int run = 0; run < 15; ++run) {
    matches = 0;
    const auto t0 = Clock::now();
    for (const auto& text : texts) {
      ac->find_all(text, scratch);
      matches += scratch.matches.size();
    }
    all_ms.push_back(ms_since(t0));
  }
  const double best_all = *std::min_element(all_ms.begin(), all_ms.end());
  std::printf("find_all: %zu matches, median %.2f ms (%.0f MB/s), best %.2f ms (%.0f MB/s)\n",
              matches, median(all_ms), text_bytes / 1e3 / median(all_ms), best_all,
              text_bytes / 1e3 / best_all);
  return 0;
}
