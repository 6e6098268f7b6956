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
#include <set>
#include <numeric>
#include <utility>

#include "labels.hpp"
#include "synonym_groups.hpp"
#include "text/stemmer.hpp"

namespace corvanta {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

text::Stemmer& thread_stemmer() {
  thread_local text::Stemmer stemmer;
  return stemmer;
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

  // What the variants need to know of a stem, worked out once per stem.
  struct StemInfo {
    bool is_modifier = false;
    const std::vector<std::string>* mates = nullptr;  // synonym-group mates
    std::vector<uint32_t> mate_ids;                   // interned on first use
    bool mates_interned = false;
  };

  uint32_t intern(std::string_view stem) {
    const uint32_t id = vocab_.insert(stem, static_cast<uint32_t>(stem_texts_.size()));
    if (id == stem_texts_.size()) {
      stem_texts_.emplace_back(stem);
      StemInfo info;
      info.is_modifier =
          std::find(modifier_stems_.begin(), modifier_stems_.end(), stem) != modifier_stems_.end();
      info.mates = groups_.find(stem);
      stem_info_.push_back(std::move(info));
    }
    return id;
  }

  const std::vector<uint32_t>& mate_ids(uint32_t id) {
    if (!stem_info_[id].mates_interned) {
      std::vector<uint32_t> ids;
      for (const std::string& mate : *stem_info_[id].mates) ids.push_back(intern(mate));
      stem_info_[id].mate_ids = std::move(ids);
      stem_info_[id].mates_interned = true;
    }
    return stem_info_[id].mate_ids;
  }

  static bool seen_before(const std::vector<uint32_t>& s, size_t i) {
    return std::find(s.begin(), s.begin() + static_cast<ptrdiff_t>(i), s[i]) !=
           s.begin() + static_cast<ptrdiff_t>(i);
  }

  void add_row(uint32_t row) {
    std::vector<uint32_t>& s = row_stems_;
    s.clear();
    for_each_label_stem(labels_[row].surface, stemmer_, label_scratch_,
                        [&](std::string_view stem) { s.push_back(intern(stem)); });
    if (s.empty()) return;
    add_entry(s, row, true);
    add_modifier_variants(s, row);
    add_synonym_variants(s, row);
  }

  void add_modifier_variants(const std::vector<uint32_t>& s, uint32_t row) {
    for (size_t i = 0; i < s.size(); ++i) {
      if (!stem_info_[s[i]].is_modifier || seen_before(s, i)) continue;
      variant_.assign(s.begin(), s.end());
      variant_.erase(variant_.begin() + static_cast<ptrdiff_t>(i));
      if (variant_.size() == 1) {
        const auto* mates = stem_info_[variant_[0]].mates;
        if (mates != nullptr && mates->size() >= 3) continue;
      }
      add_entry(variant_, row, false);
    }
  }

  void add_synonym_variants(const std::vector<uint32_t>& s, uint32_t row) {
    for (size_t i = 0; i < s.size(); ++i) {
      if (stem_info_[s[i]].mates == nullptr || seen_before(s, i)) continue;
      for (uint32_t m : mate_ids(s[i])) {
        variant_.assign(s.begin(), s.end());
        std::replace(variant_.begin(), variant_.end(), s[i], m);
        add_entry(variant_, row, false);
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

  std::unique_ptr<const ConceptIndex> finalize();
  static std::string joined_text(const ConceptIndex& index, const std::vector<uint32_t>& ids);
  static bool rewrite_into_pieces(const ConceptIndex& index, std::vector<uint32_t>& ids);

  const LabelTable& labels_;
  text::Stemmer stemmer_;
  SynonymGroups groups_;
  std::vector<std::string> modifier_stems_;
  detail::StringMap vocab_;
  std::vector<std::string> stem_texts_;
  std::vector<StemInfo> stem_info_;
  LabelScratch label_scratch_;
  std::vector<uint32_t> row_stems_;
  std::vector<uint32_t> variant_;
  std::vector<Key> keys_;
  std::vector<uint64_t> key_fps_;
  std::vector<uint32_t> key_ids_;
  std::vector<uint32_t> key_slots_;
  std::vector<uint32_t> scratch_;
  uint32_t next_seq_ = 0;
};

std::unique_ptr<const ConceptIndex> ConceptIndexBuilder::finalize() {
  std::unique_ptr<ConceptIndex> index(new ConceptIndex());
  ConceptIndex& out = *index;

  // Stem ids in byte order of their text.
  const auto stem_count = static_cast<uint32_t>(stem_texts_.size());
  std::vector<uint32_t> by_text(stem_count);
  std::iota(by_text.begin(), by_text.end(), 0);
  std::sort(by_text.begin(), by_text.end(),
            [&](uint32_t a, uint32_t b) { return stem_texts_[a] < stem_texts_[b]; });
  std::vector<uint32_t> final_id(stem_count);
  std::vector<bool> has_dash(stem_count);
  out.stem_offsets_.reserve(stem_count + 1);
  for (uint32_t i = 0; i < stem_count; ++i) {
    const std::string& text = stem_texts_[by_text[i]];
    final_id[by_text[i]] = i;
    has_dash[i] = text.find('-') != std::string::npos;
    out.stem_offsets_.push_back(static_cast<uint32_t>(out.stem_arena_.size()));
    out.stem_arena_ += text;
    out.stems_.insert(text, i);
  }
  out.stem_offsets_.push_back(static_cast<uint32_t>(out.stem_arena_.size()));

  size_t size = 16;
  while (size < keys_.size() * 2) size *= 2;
  out.slots_.assign(size, ConceptIndex::Slot{});
  out.mask_ = size - 1;
  std::vector<Key> merged(size);  // what each slot's key collected

  // Renumbering is a bijection, so keys without a "-" stem stay distinct and
  // go straight into the table. A key rewritten into pieces may equal one of
  // them (or another rewritten key) and then merges into it.
  std::vector<uint32_t> ids;
  std::set<std::pair<std::string, uint32_t>> unreachable;
  size_t reachable = 0;
  size_t empty = 0;
  for (const Key& key : keys_) {
    out.stats_.entries += key.entries;
    ids.clear();
    bool dash = false;
    for (uint32_t i = 0; i < key.distinct; ++i) {
      ids.push_back(final_id[key_ids_[key.ids_offset + i]]);
      dash |= has_dash[ids.back()];
    }
    std::sort(ids.begin(), ids.end());
    if (dash && !rewrite_into_pieces(out, ids)) {
      unreachable.emplace(joined_text(out, ids), key.count);
      continue;
    }
    if (ids.empty()) {  // the empty variant of a lone modifier: no window asks for it
      empty = 1;
      continue;
    }
    const uint64_t fp = ConceptIndex::fingerprint(set_hash(ids), key.count);
    size_t i = fp & out.mask_;
    for (; out.slots_[i].row != ConceptIndex::kNoEntry; i = (i + 1) & out.mask_) {
      const ConceptIndex::Slot& slot = out.slots_[i];
      if (dash && slot.fingerprint == fp && merged[i].count == key.count &&
          slot.distinct == ids.size() &&
          std::equal(ids.begin(), ids.end(), out.ids_.begin() + slot.ids_offset))
        break;
    }
    ConceptIndex::Slot& slot = out.slots_[i];
    if (slot.row == ConceptIndex::kNoEntry) {
      ++reachable;
      slot = ConceptIndex::Slot{fp, static_cast<uint32_t>(out.ids_.size()),
                                static_cast<uint32_t>(ids.size()), 0, 0};
      out.ids_.insert(out.ids_.end(), ids.begin(), ids.end());
      merged[i] = Key{0, 0, key.count};
      out.max_count_ = std::max(out.max_count_, key.count);
    }
    Key& m = merged[i];
    if (key.first_seq < m.first_seq) {
      m.first_seq = key.first_seq;
      m.first_row = key.first_row;
    }
    if (key.base_seq < m.base_seq) {
      m.base_seq = key.base_seq;
      m.base_row = key.base_row;
    }
    slot.row = m.base_row != kNone ? m.base_row : m.first_row;
  }
  out.stats_.vocabulary = stem_count;
  out.stats_.keys = reachable + unreachable.size() + empty;
  out.stats_.reachable_keys = reachable;
  return index;
}

std::string ConceptIndexBuilder::joined_text(const ConceptIndex& index,
                                             const std::vector<uint32_t>& ids) {
  std::string joined;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i) joined += '-';
    joined += index.stem_text(ids[i]);
  }
  return joined;
}

// Rewrites the ids of a key that holds a "-" stem into the stems a window
// would need for an equal joined text: the "-"-separated pieces of that text,
// each a known stem, in strictly ascending order. False, leaving `ids` as they
// were, when no window can produce the key.
bool ConceptIndexBuilder::rewrite_into_pieces(const ConceptIndex& index,
                                              std::vector<uint32_t>& ids) {
  const std::string joined = joined_text(index, ids);
  std::vector<uint32_t> pieces;
  for (size_t start = 0;;) {
    const size_t dash = joined.find('-', start);
    const size_t len = dash == std::string::npos ? std::string::npos : dash - start;
    const uint32_t id = index.stems_.find(std::string_view(joined).substr(start, len));
    if (id == detail::StringMap::kMissing || (!pieces.empty() && id <= pieces.back())) return false;
    pieces.push_back(id);
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  ids = std::move(pieces);
  return true;
}

std::unique_ptr<const ConceptIndex> ConceptIndex::build(const LabelTable& labels) {
  return ConceptIndexBuilder(labels).build();
}

uint32_t ConceptIndex::known_stem(std::string_view word) const {
  const uint32_t id = stems_.find(thread_stemmer().stem(word));
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
