// The clustering stage's memory of the words it has classified: for each
// lower-cased text word, whether it is a skip word, and otherwise the id its
// stem has in one concept index's vocabulary, or that it has none.
//
// Both are pure functions of the word, so remembering them never changes a
// result; a probe costs a fraction of the algorithm (about 140 ns a word),
// and texts repeat their words. The caller hashes a word once (StringMap's
// MapKey, built from bytes the scan has loaded anyway), for the probe and,
// when new, for its insertion, and the probe yields the verdict itself: one
// table, no second lookup, and no skip-word test for a word seen before. The
// ids belong to the index whose serial the cache holds; a call with another
// index starts the cache afresh (serve, once per call). (Keeping each word's
// stem text to re-derive ids under another index cost a second array access
// per word: 16% of recognition time was the cache's.)
//
// Bounded: at kMaxWords words (the most its table holds in 2 MiB) the cache
// starts afresh, and words longer than kMaxWordBytes are stemmed every time
// (no label word comes near that, and a huge word of a text would otherwise
// stay with the cache).
//
// Part of a caller's per-call state (RecognitionScratch): one per thread,
// never shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/ids.hpp"
#include "base/string_map.hpp"
#include "lexicon/concept_index.hpp"
#include "text/stemmer.hpp"

namespace corvanta {

// What the clustering stage makes of one text word.
struct TextWord {
  enum class Kind : uint8_t { kSkip, kUnknown, kKnown };
  Kind kind;
  StemId stem;  // the vocabulary id of its stem, when kKnown
};

class StemCache {
 public:
  static constexpr size_t kMaxWords = 3 * (size_t{1} << 14);
  static constexpr size_t kMaxWordBytes = 64;

  // Makes the cache's ids those of `index`, starting afresh when they were
  // another index's. Once per call, before classify.
  void serve(const ConceptIndex& index) {
    if (serial_ == index.serial()) return;
    words_.clear();
    serial_ = index.serial();
  }

  // The verdict on the word `key`, for the index last served.
  [[nodiscard]] TextWord classify(const detail::MapKey& key, const ConceptIndex& index) {
    uint32_t value = detail::StringMap::kMissing;
    if (key.text.size() <= kMaxWordBytes) [[likely]]
      value = words_.find(key);
    if (value == detail::StringMap::kMissing) [[unlikely]]
      value = value_of_new(key, index);
    if (value == kSkipWord) return {TextWord::Kind::kSkip, {}};
    if (value == kNoStem) return {TextWord::Kind::kUnknown, {}};
    return {TextWord::Kind::kKnown, StemId{value}};
  }

  // The same for any word: serves `index`, then classifies.
  [[nodiscard]] TextWord classify(std::string_view word, const ConceptIndex& index) {
    serve(index);
    return classify(detail::map_key(word), index);
  }

  // Hands back what a huge word grew (the stemmer's buffer).
  void release_large_buffers() { stemmer_.release_large_buffers(); }

 private:
  // The values stored for a skip word and for a word whose stem is not in
  // the vocabulary; any other value is a stem id.
  static constexpr uint32_t kSkipWord = detail::StringMap::kMissing - 1;
  static constexpr uint32_t kNoStem = detail::StringMap::kMissing - 2;

  // The value of a word not in the cache, remembered unless it is long.
  uint32_t value_of_new(const detail::MapKey& key, const ConceptIndex& index);

  text::Stemmer stemmer_;
  detail::StringMap words_;  // word -> stem id, kNoStem or kSkipWord
  uint64_t serial_ = 0;      // of the index the ids belong to; no index has 0
};

}  // namespace corvanta
