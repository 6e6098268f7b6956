// Times the lexicon: lower-casing and stemming over a text corpus, and the
// construction-time work on a release (label table, label tokenization,
// synonym groups). Build (CMake, with the benchmarks enabled) and run from
// the repository root:
//   cmake -S . -B build/bench -DCORVANTA_MODULE=OFF -DCORVANTA_BENCHMARKS=ON
//   cmake --build build/bench --target bench_lexicon
//   build/bench/bench_lexicon ../shared/hpo/hp.json ../shared/corpora/medquad/docs.jsonl
//
// The corpus is JSON lines with a "text" member per line. Each figure is the
// best of several runs.
#include <simdjson.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "lexicon/labels.hpp"
#include "lexicon/synonym_groups.hpp"
#include "ontology/ontology.hpp"
#include "text/stemmer.hpp"
#include "text/unicode.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double best_ms(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

std::vector<std::string> read_texts(const char* path) {
  std::vector<std::string> texts;
  std::ifstream in(path);
  simdjson::dom::parser parser;
  for (std::string line; std::getline(in, line);) {
    std::string_view text;
    if (parser.parse(line)["text"].get(text) == simdjson::SUCCESS) texts.emplace_back(text);
  }
  return texts;
}

bool is_ascii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void bench_lower_case(const std::vector<std::string>& texts, const char* name) {
  size_t bytes = 0;
  for (const std::string& t : texts) bytes += t.size();
  std::string out;
  const double ms = best_ms(10, [&] {
    for (const std::string& t : texts) corvanta::text::lower_case(t, out);
  });
  std::printf("lower_case %-10s %6zu texts %9zu bytes  %8.2f ms  %8.0f MB/s\n", name, texts.size(),
              bytes, ms, bytes / ms / 1e3);
}

std::vector<std::string> ascii_words(const std::vector<std::string>& texts) {
  std::vector<std::string> words;
  for (const std::string& t : texts) {
    const std::string lower = corvanta::text::lower_cased(t);
    size_t i = 0;
    while (i < lower.size()) {
      while (i < lower.size() && !std::isalnum(static_cast<unsigned char>(lower[i]))) ++i;
      const size_t begin = i;
      while (i < lower.size() && std::isalnum(static_cast<unsigned char>(lower[i]))) ++i;
      if (i > begin) words.push_back(lower.substr(begin, i - begin));
    }
  }
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RELEASE.json CORPUS.jsonl\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> texts = read_texts(argv[2]);
  std::vector<std::string> ascii;
  std::vector<std::string> other;
  for (const std::string& t : texts) (is_ascii(t) ? ascii : other).push_back(t);
  bench_lower_case(texts, "all");
  bench_lower_case(ascii, "ascii");
  bench_lower_case(other, "non-ascii");

  corvanta::text::Stemmer stemmer;
  const std::vector<std::string> words = ascii_words(texts);
  size_t sink = 0;
  const double stem_ms = best_ms(5, [&] {
    for (const std::string& w : words) sink += stemmer.stem(w).size();
  });
  std::printf("stem       %zu words  %8.2f ms  %6.1f ns/word\n", words.size(), stem_ms,
              stem_ms * 1e6 / words.size());

  auto release = corvanta::ontology::load_release(argv[1]);
  if (!release.ok()) {
    std::fprintf(stderr, "load failed: %s\n", release.error().message.c_str());
    return 1;
  }
  corvanta::LabelTable table;
  const double table_ms = best_ms(10, [&] {
    table = corvanta::build_label_table(release.value().ontology, release.value().subtree);
  });
  std::printf("build_label_table  %zu rows  %8.2f ms\n", table.size(), table_ms);

  size_t stems = 0;
  const double tokenize_ms = best_ms(5, [&] {
    stems = 0;
    for (size_t row = 0; row < table.size(); ++row)
      stems += corvanta::tokenize_label(table[row].surface, stemmer).size();
  });
  std::printf("tokenize_label     %zu rows  %zu stems  %8.2f ms\n", table.size(), stems,
              tokenize_ms);

  size_t keys = 0;
  const double groups_ms =
      best_ms(10, [&] { keys = corvanta::build_synonym_groups(stemmer).size(); });
  std::printf("build_synonym_groups  %zu keys  %8.3f ms\n", keys, groups_ms);
  return sink == 0;
}
