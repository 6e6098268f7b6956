// The clustering stage's memory of the words it has classified: for each
// lower-cased text word, the id its stem has in one concept index's
// vocabulary, or that it has none.
//
// Stemming is a pure function of the word, so remembering it never changes a
// result; a probe costs a fraction of the algorithm (about 140 ns a word),
// and texts repeat their words. A word is hashed once, for the probe and, when
// new, for its insertion. Each entry keeps its stem text too: under another
// index (the cache remembers the serial of the index that answered) a known
// word costs one probe of that index's stems instead of a second stemming.
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
#include <string>
#include <string_view>
#include <vector>

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
  struct Entry {
    uint64_t serial;  // of the index that gave `id`
    uint32_t stem_begin;
    uint32_t stem_size;
    std::optional<StemId> id;
  };

  [[nodiscard]] std::string_view stem_of(const Entry& entry) const noexcept {
    return std::string_view(stems_.data() + entry.stem_begin, entry.stem_size);
  }

  text::Stemmer stemmer_;
  detail::StringMap words_;  // word -> index into entries_
  std::vector<Entry> entries_;
  std::string stems_;  // the entries' stem texts, one after the other
};

}  // namespace corvanta
