// Building the concept index.
//
// The build walks the label table once. Each row is tokenized and stemmed,
// its variants (base, one modifier dropped, one stem replaced by a group
// mate) are formed as lists of provisional stem ids, and each variant adds
// one entry to its key. Entries carry a global sequence number, so when keys
// merge later the earliest entry still wins.
//
// Finalization renumbers stems in byte order of their text, rewrites keys
// that hold a "-" stem into the pieces a window would have to produce (see
// the header), merges keys that thereby become equal, and lays the reachable
// keys out in one open-addressing table.
#include "concept_index.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

#include "labels.hpp"
#include "synonym_groups.hpp"
#include "text/stemmer.hpp"

namespace corvanta {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

// Word -> stem memo around a stemmer, bounded so that a thread that sees an
// endless stream of distinct words keeps a fixed footprint. Stemming is a
// pure function of the word, so the memo never changes a result.
class StemMemo {
 public:
  std::string_view stem(std::string_view word) {
    const uint32_t known = words_.find(word);
    if (known != detail::StringMap::kMissing) return view(known);
    if (words_.size() >= kCapacity) {
      words_.clear();
      spans_.clear();
      arena_.clear();
    }
    const std::string_view stem = stemmer_.stem(word);
    const auto index = static_cast<uint32_t>(spans_.size());
    spans_.emplace_back(static_cast<uint32_t>(arena_.size()), static_cast<uint32_t>(stem.size()));
    arena_.append(stem);
    words_.insert(word, index);
    return view(index);
  }

 private:
  static constexpr size_t kCapacity = 1 << 16;
  std::string_view view(uint32_t index) const {
    return std::string_view(arena_.data() + spans_[index].first, spans_[index].second);
  }
  text::Stemmer stemmer_;
  detail::StringMap words_;
  std::vector<std::pair<uint32_t, uint32_t>> spans_;
  std::string arena_;
};

StemMemo& thread_stem_memo() {
  thread_local StemMemo memo;
  return memo;
}

}  // namespace

// Build-time state: provisional stem ids in order of first sight, keys as
// sorted provisional id sets.
class ConceptIndexBuilder {
 public:
  explicit ConceptIndexBuilder(const LabelTable& labels)
      : labels_(labels), groups_(build_synonym_groups(stemmer_)) {
    for (std::string_view word : kModifierWords) modifier_stems_.emplace_back(stemmer_.stem(word));
  }

  std::unique_ptr<const ConceptIndex> build() {
    for (uint32_t row = 0; row < labels_.size(); ++row) add_row(row);
    return finalize();
  }

 private:
  struct Key {
    uint32_t ids_offset;  // into key_ids_, sorted provisional ids
    uint32_t distinct;
    uint32_t count;
    uint32_t first_row = kNone;
    uint32_t first_seq = kNone;
    uint32_t base_row = kNone;
    uint32_t base_seq = kNone;
    uint32_t entries = 0;
  };

  uint32_t intern(std::string_view stem) {
    const uint32_t id = vocab_.insert(stem, static_cast<uint32_t>(stem_texts_.size()));
    if (id == stem_texts_.size()) stem_texts_.emplace_back(stem);
    return id;
  }

  bool is_modifier(std::string_view stem) const {
    return std::find(modifier_stems_.begin(), modifier_stems_.end(), stem) != modifier_stems_.end();
  }

  void add_row(uint32_t row) {
    const std::vector<std::string> stems = tokenize_label(labels_[row].surface, stemmer_);
    if (stems.empty()) return;
    std::vector<uint32_t> s;
    s.reserve(stems.size());
    for (const std::string& stem : stems) s.push_back(intern(stem));

    add_entry(s, row, true);
    add_modifier_variants(stems, s, row);
    add_synonym_variants(stems, s, row);
  }

  void add_modifier_variants(const std::vector<std::string>& stems,
                             const std::vector<uint32_t>& s, uint32_t row) {
    std::vector<uint32_t> candidate;
    for (size_t i = 0; i < s.size(); ++i) {
      if (!is_modifier(stems[i])) continue;
      if (std::find(s.begin(), s.begin() + static_cast<ptrdiff_t>(i), s[i]) !=
          s.begin() + static_cast<ptrdiff_t>(i))
        continue;  // this modifier was handled at its first occurrence
      candidate.assign(s.begin(), s.end());
      candidate.erase(candidate.begin() + static_cast<ptrdiff_t>(i));
      if (candidate.size() == 1) {
        const auto* mates = groups_.find(stem_texts_[candidate[0]]);
        if (mates != nullptr && mates->size() >= 3) continue;
      }
      add_entry(candidate, row, false);
    }
  }

  void add_synonym_variants(const std::vector<std::string>& stems,
                            const std::vector<uint32_t>& s, uint32_t row) {
    if (groups_.empty()) return;
    std::vector<uint32_t> variant;
    for (size_t i = 0; i < s.size(); ++i) {
      if (std::find(s.begin(), s.begin() + static_cast<ptrdiff_t>(i), s[i]) !=
          s.begin() + static_cast<ptrdiff_t>(i))
        continue;  // each distinct stem once
      const auto* mates = groups_.find(stems[i]);
      if (mates == nullptr) continue;
      for (const std::string& mate : *mates) {
        const uint32_t m = intern(mate);
        variant.assign(s.begin(), s.end());
        std::replace(variant.begin(), variant.end(), s[i], m);
        add_entry(variant, row, false);
      }
    }
  }

  void add_entry(const std::vector<uint32_t>& variant, uint32_t row, bool is_base) {
    scratch_.assign(variant.begin(), variant.end());
    std::sort(scratch_.begin(), scratch_.end());
    scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
    Key& key = find_or_add_key(scratch_, static_cast<uint32_t>(variant.size()));
    const uint32_t seq = next_seq_++;
    ++key.entries;
    if (key.first_seq == kNone) {
      key.first_seq = seq;
      key.first_row = row;
    }
    if (is_base && key.base_seq == kNone) {
      key.base_seq = seq;
      key.base_row = row;
    }
  }

  static uint64_t set_hash(std::span<const uint32_t> ids) {
    uint64_t h = 0;
    for (uint32_t id : ids) h += ConceptIndex::stem_hash(id);
    return h;
  }

  Key& find_or_add_key(std::span<const uint32_t> ids, uint32_t count) {
    if ((keys_.size() + 1) * 2 > key_slots_.size()) grow_key_slots();
    const uint64_t fp = ConceptIndex::fingerprint(set_hash(ids), count);
    const size_t mask = key_slots_.size() - 1;
    for (size_t i = fp & mask;; i = (i + 1) & mask) {
      uint32_t& slot = key_slots_[i];
      if (slot == kNone) {
        slot = static_cast<uint32_t>(keys_.size());
        keys_.push_back(Key{static_cast<uint32_t>(key_ids_.size()),
                            static_cast<uint32_t>(ids.size()), count});
        key_fps_.push_back(fp);
        key_ids_.insert(key_ids_.end(), ids.begin(), ids.end());
        return keys_.back();
      }
      Key& key = keys_[slot];
      if (key_fps_[slot] == fp && key.count == count && key.distinct == ids.size() &&
          std::equal(ids.begin(), ids.end(), key_ids_.begin() + key.ids_offset))
        return key;
    }
  }

  void grow_key_slots() {
    const size_t size = std::max<size_t>(1024, key_slots_.size() * 2);
    key_slots_.assign(size, kNone);
    for (uint32_t k = 0; k < keys_.size(); ++k) {
      size_t i = key_fps_[k] & (size - 1);
      while (key_slots_[i] != kNone) i = (i + 1) & (size - 1);
      key_slots_[i] = k;
    }
  }

  // A key after renumbering: the ids a window must carry, or the joined
  // text when no window can produce it.
  struct FinalKey {
    std::vector<uint32_t> ids;
    std::string joined;  // set only for unreachable keys
    uint32_t count;
    bool operator<(const FinalKey& o) const {
      return std::tie(count, ids, joined) < std::tie(o.count, o.ids, o.joined);
    }
  };

  std::unique_ptr<const ConceptIndex> finalize();
  static void rewrite_into_pieces(const ConceptIndex& index, FinalKey& key);

  const LabelTable& labels_;
  text::Stemmer stemmer_;
  SynonymGroups groups_;
  std::vector<std::string> modifier_stems_;
  detail::StringMap vocab_;
  std::vector<std::string> stem_texts_;
  std::vector<Key> keys_;
  std::vector<uint64_t> key_fps_;
  std::vector<uint32_t> key_ids_;
  std::vector<uint32_t> key_slots_;
  std::vector<uint32_t> scratch_;
  uint32_t next_seq_ = 0;
};

std::unique_ptr<const ConceptIndex> ConceptIndexBuilder::finalize() {
  std::unique_ptr<ConceptIndex> index(new ConceptIndex());

  // Stem ids in byte order of their text.
  const auto stem_count = static_cast<uint32_t>(stem_texts_.size());
  std::vector<uint32_t> by_text(stem_count);
  std::iota(by_text.begin(), by_text.end(), 0);
  std::sort(by_text.begin(), by_text.end(),
            [&](uint32_t a, uint32_t b) { return stem_texts_[a] < stem_texts_[b]; });
  std::vector<uint32_t> final_id(stem_count);
  index->stem_offsets_.reserve(stem_count + 1);
  for (uint32_t i = 0; i < stem_count; ++i) {
    final_id[by_text[i]] = i;
    index->stem_offsets_.push_back(static_cast<uint32_t>(index->stem_arena_.size()));
    index->stem_arena_ += stem_texts_[by_text[i]];
    index->stems_.insert(stem_texts_[by_text[i]], i);
  }
  index->stem_offsets_.push_back(static_cast<uint32_t>(index->stem_arena_.size()));

  // Canonical form of every key. Renumbering is a bijection, so keys
  // without a "-" stem stay distinct; only a key rewritten into pieces can
  // become equal to another one, and those few merge through a map.
  struct Merged {
    uint32_t first_seq = kNone, first_row = kNone, base_seq = kNone, base_row = kNone;
    uint32_t entries = 0;
    void absorb(const Key& key) {
      entries += key.entries;
      if (key.first_seq < first_seq) {
        first_seq = key.first_seq;
        first_row = key.first_row;
      }
      if (key.base_seq < base_seq) {
        base_seq = key.base_seq;
        base_row = key.base_row;
      }
    }
  };
  std::map<FinalKey, Merged> rewritten;
  std::vector<std::pair<FinalKey, Merged>> plain;
  plain.reserve(keys_.size());
  for (const Key& key : keys_) {
    FinalKey fk;
    fk.count = key.count;
    bool has_dash = false;
    for (uint32_t i = 0; i < key.distinct; ++i) {
      const uint32_t prov = key_ids_[key.ids_offset + i];
      fk.ids.push_back(final_id[prov]);
      has_dash |= stem_texts_[prov].find('-') != std::string::npos;
    }
    std::sort(fk.ids.begin(), fk.ids.end());
    if (has_dash) {
      rewrite_into_pieces(*index, fk);
      rewritten[std::move(fk)].absorb(key);
    } else {
      plain.emplace_back(std::move(fk), Merged{});
      plain.back().second.absorb(key);
    }
  }
  std::vector<std::pair<FinalKey, Merged>> merged;
  merged.reserve(plain.size() + rewritten.size());
  for (auto& [k, m] : plain) {
    auto it = rewritten.find(k);
    if (it == rewritten.end()) {
      merged.emplace_back(std::move(k), m);
    } else {
      it->second.absorb(Key{0, 0, 0, m.first_row, m.first_seq, m.base_row, m.base_seq, m.entries});
    }
  }
  for (auto& [k, m] : rewritten) merged.emplace_back(k, m);

  // Runtime table of the keys a window can reach: non-empty id sets.
  size_t reachable = 0;
  for (const auto& [k, m] : merged) reachable += !k.ids.empty();
  size_t size = 16;
  while (size < reachable * 2) size *= 2;
  index->slots_.assign(size, ConceptIndex::Slot{});
  index->mask_ = size - 1;
  for (const auto& [k, m] : merged) {
    index->stats_.entries += m.entries;
    if (k.ids.empty()) continue;
    const uint64_t fp = ConceptIndex::fingerprint(set_hash(k.ids), k.count);
    size_t i = fp & index->mask_;
    while (index->slots_[i].row != ConceptIndex::kNoEntry) i = (i + 1) & index->mask_;
    index->slots_[i] = ConceptIndex::Slot{fp, static_cast<uint32_t>(index->ids_.size()),
                                          static_cast<uint32_t>(k.ids.size()),
                                          m.base_row != kNone ? m.base_row : m.first_row, 0};
    index->ids_.insert(index->ids_.end(), k.ids.begin(), k.ids.end());
    index->max_count_ = std::max(index->max_count_, k.count);
  }
  index->stats_.vocabulary = stem_count;
  index->stats_.keys = merged.size();
  index->stats_.reachable_keys = reachable;
  return index;
}

// Rewrites a key that holds a "-" stem into the stems a window would need for
// an equal joined text: the "-"-separated pieces of that text, each a known
// stem and in strictly ascending order. When no window can produce it, the
// key keeps only its joined text (it still counts, and still merges with an
// equal joined text).
void ConceptIndexBuilder::rewrite_into_pieces(const ConceptIndex& index, FinalKey& key) {
  std::string joined;
  for (size_t i = 0; i < key.ids.size(); ++i) {
    if (i) joined += '-';
    joined += index.stem_text(key.ids[i]);
  }
  std::vector<uint32_t> pieces;
  for (size_t start = 0;;) {
    const size_t dash = joined.find('-', start);
    const size_t len = dash == std::string::npos ? std::string::npos : dash - start;
    const uint32_t id = index.stems_.find(std::string_view(joined).substr(start, len));
    if (id == detail::StringMap::kMissing || (!pieces.empty() && id <= pieces.back())) {
      key.ids.clear();
      key.joined = std::move(joined);
      return;
    }
    pieces.push_back(id);
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  key.ids = std::move(pieces);
}

std::unique_ptr<const ConceptIndex> ConceptIndex::build(const LabelTable& labels) {
  return ConceptIndexBuilder(labels).build();
}

uint32_t ConceptIndex::known_stem(std::string_view word) const {
  const uint32_t id = stems_.find(thread_stem_memo().stem(word));
  return id == detail::StringMap::kMissing ? kUnknown : id;
}

uint32_t ConceptIndex::lookup(uint64_t set_hash, uint32_t count,
                              std::span<const uint32_t> distinct) const noexcept {
  const uint64_t fp = fingerprint(set_hash, count);
  for (size_t i = fp & mask_;; i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.row == kNoEntry) return kNoEntry;
    if (slot.fingerprint != fp || slot.distinct != distinct.size()) continue;
    // Verify: every stored id occurs in the window (both sides distinct and
    // of equal size, so containment is equality).
    const uint32_t* ids = ids_.data() + slot.ids_offset;
    bool equal = true;
    for (uint32_t k = 0; k < slot.distinct && equal; ++k)
      equal = std::find(distinct.begin(), distinct.end(), ids[k]) != distinct.end();
    if (equal) return slot.row;
  }
}

std::string_view ConceptIndex::stem_text(uint32_t id) const noexcept {
  return std::string_view(stem_arena_.data() + stem_offsets_[id],
                          stem_offsets_[id + 1] - stem_offsets_[id]);
}

size_t ConceptIndex::memory_bytes() const noexcept {
  return stems_.memory_bytes() + stem_offsets_.capacity() * sizeof(uint32_t) +
         stem_arena_.capacity() + slots_.capacity() * sizeof(Slot) +
         ids_.capacity() * sizeof(uint32_t);
}

}  // namespace corvanta
