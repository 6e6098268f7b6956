// The Snowball English stemmer (classic Porter2), over libstemmer's UTF-8
// English algorithm.
//
// A libstemmer instance keeps scratch space between calls, so a Stemmer is
// not re-entrant: each thread (and each construction) uses its own instance.
// Stemming itself is a pure function of the word, so two instances always
// agree.
//
// Each instance remembers the stems it has computed (up to kMemoWords words,
// then it starts afresh): texts and labels repeat their words, and a memo
// probe costs a fraction of the algorithm (about 140 ns a word). Being a pure
// function's memo, it never changes a result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "string_map.hpp"

struct sb_stemmer;

namespace corvanta::text {

class Stemmer {
 public:
  Stemmer();
  ~Stemmer();
  Stemmer(const Stemmer&) = delete;
  Stemmer& operator=(const Stemmer&) = delete;

  // Stem of one lower-cased word. The view lives until the next call on this
  // instance or its destruction.
  [[nodiscard]] std::string_view stem(std::string_view word);

  // Hands back the buffer that libstemmer grew for a huge word (it keeps one
  // as large as the longest word stemmed). Ends the life of stem views.
  void release_large_buffers();

  static constexpr size_t kMemoWords = 1 << 16;
  // Longer words are stemmed every time, never remembered: no label word
  // comes near this, and remembering a huge word of a text would keep it
  // with the instance.
  static constexpr size_t kMemoWordBytes = 64;

 private:
  std::string_view run_algorithm(std::string_view word);
  std::string_view remembered(uint32_t index) const noexcept {
    return std::string_view(memo_stems_.data() + memo_spans_[index].first,
                            memo_spans_[index].second);
  }

  sb_stemmer* impl_;
  detail::StringMap memo_words_;  // word -> index into memo_spans_
  std::vector<std::pair<uint32_t, uint32_t>> memo_spans_;  // (offset, length) in memo_stems_
  std::string memo_stems_;
  size_t longest_word_ = 0;  // since libstemmer's buffer was last handed back
};

}  // namespace corvanta::text
