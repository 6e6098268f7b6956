// The clustering stage's memory of the words it has classified: for each
// lower-cased text word, the id its stem has in one concept index's
// vocabulary, or that it has none.
//
// Stemming is a pure function of the word, so remembering it never changes a
// result; a probe costs a fraction of the algorithm (about 140 ns a word),
// and texts repeat their words. A word is hashed once, for the probe and, when
// new, for its insertion, and the probe yields the id itself: one table, no
// second lookup. The ids belong to the index whose serial the cache holds; a
// call with another index starts the cache afresh. (Keeping each word's stem
// text to re-derive ids under another index cost a second array access per
// word: 16% of recognition time was the cache's.)
//
// Bounded: at kMaxWords words the cache starts afresh, and words longer than
// kMaxWordBytes are stemmed every time (no label word comes near that, and a
// huge word of a text would otherwise stay with the cache).
//
// Part of a caller's per-call state (RecognitionScratch): one per thread,
// never shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "concept_index.hpp"
#include "ids.hpp"
#include "string_map.hpp"
#include "text/stemmer.hpp"

namespace corvanta {

class StemCache {
 public:
  static constexpr size_t kMaxWords = size_t{1} << 16;
  static constexpr size_t kMaxWordBytes = 64;

  // The vocabulary id of the stem of `word` in `index`, or nullopt when its
  // stem is not in the vocabulary.
  [[nodiscard]] std::optional<StemId> stem_id(std::string_view word, const ConceptIndex& index);

  // Hands back what a huge word grew (the stemmer's buffer).
  void release_large_buffers() { stemmer_.release_large_buffers(); }

 private:
  // The value stored for a word whose stem is not in the vocabulary.
  static constexpr uint32_t kNoStem = detail::StringMap::kMissing - 1;

  text::Stemmer stemmer_;
  detail::StringMap words_;  // word -> stem id, or kNoStem
  uint64_t serial_ = 0;      // of the index the ids belong to; no index has 0
};

}  // namespace corvanta
