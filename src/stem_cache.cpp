#include "stem_cache.hpp"

namespace corvanta {

std::optional<StemId> StemCache::stem_id(std::string_view word, const ConceptIndex& index) {
  if (word.size() > kMaxWordBytes) return index.find_stem(stemmer_.stem(word));
  if (serial_ != index.serial()) {
    words_.clear();
    serial_ = index.serial();
  }
  const uint64_t hash = detail::hash_bytes(word);
  uint32_t id = words_.find(word, hash);
  if (id == detail::StringMap::kMissing) {
    if (words_.size() >= kMaxWords) words_.clear();
    const std::optional<StemId> found = index.find_stem(stemmer_.stem(word));
    id = found ? found->v : kNoStem;
    words_.insert(word, hash, id);
  }
  if (id == kNoStem) return std::nullopt;
  return StemId{id};
}

}  // namespace corvanta
