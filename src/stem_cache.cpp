#include "stem_cache.hpp"

namespace corvanta {

std::optional<StemId> StemCache::stem_id(std::string_view word, const ConceptIndex& index) {
  if (word.size() > kMaxWordBytes) return index.find_stem(stemmer_.stem(word));
  const uint64_t hash = detail::hash_bytes(word);
  uint32_t at = words_.find(word, hash);
  if (at == detail::StringMap::kMissing) {
    if (words_.size() >= kMaxWords) {
      words_.clear();
      entries_.clear();
      stems_.clear();
    }
    const std::string_view stem = stemmer_.stem(word);
    at = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{index.serial(), static_cast<uint32_t>(stems_.size()),
                             static_cast<uint32_t>(stem.size()), index.find_stem(stem)});
    stems_.append(stem);
    words_.insert(word, hash, at);
    return entries_[at].id;
  }
  Entry& entry = entries_[at];
  if (entry.serial != index.serial()) {
    entry.id = index.find_stem(stem_of(entry));
    entry.serial = index.serial();
  }
  return entry.id;
}

}  // namespace corvanta
