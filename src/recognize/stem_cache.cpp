#include "recognize/stem_cache.hpp"

#include "lexicon/word_lists.hpp"

namespace corvanta {

uint32_t StemCache::value_of_new(const detail::MapKey& key, const ConceptIndex& index) {
  uint32_t value = kNoStem;
  if (is_text_skip_word(key.text)) {
    value = kSkipWord;
  } else if (const std::optional<StemId> found = index.find_stem(stemmer_.stem(key.text))) {
    value = found->v;
  }
  if (key.text.size() > kMaxWordBytes) return value;
  if (words_.size() >= kMaxWords) words_.clear();
  words_.insert(key, value);
  return value;
}

}  // namespace corvanta
