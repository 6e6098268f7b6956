// Building the concept index.
//
// The build walks the label table once. Each row is tokenized and stemmed
// (a label token seen before costs one probe: most label words repeat),
// its variants (base, one modifier dropped, one stem replaced by a group
// mate) are formed as lists of provisional stem ids, and each variant adds
// one entry to its key, straight into the final open-addressing table: a
// key's hash depends on its stems' texts, not on their ids. Entries carry a
// sequence number, so when keys merge later the earliest entry still wins.
//
// Finalization renumbers stems in byte order of their text, rewrites the ids
// stored with every key and gives each slot the row a lookup reports. Keys
// holding a "-" stem were kept aside during the build; they are rewritten
// into the pieces a window would have to produce (see the header) and merged
// into the table last.
//
// Measured on the 2025-05-06 release (benchmarks/bench_construction.cpp):
// one table instead of a build-time map rehashed into a runtime table took
// the index from about 100 ms to 83 ms; prefetching each variant's slot while
// the row's other variants are formed, sizing the table once and finalizing
// in key order took it to 58 ms. Tried and dropped: backing the 8 MB table
// with 2 MiB pages (MADV_HUGEPAGE) changed neither the build (53-54 ms) nor
// recognition (108-112 ms over the medical abstracts).
#include "lexicon/concept_index.hpp"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <set>
#include <utility>

#include "base/debug_check.hpp"
#include "lexicon/labels.hpp"
#include "lexicon/synonym_groups.hpp"
#include "lexicon/word_lists.hpp"
#include "text/stemmer.hpp"

namespace corvanta {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

// Each index gets a serial number that no other index of the process shares,
// so a cache of stem ids can tell whose ids it holds.
std::atomic<uint64_t> g_next_serial{1};

}  // namespace

class ConceptIndexBuilder {
 public:
  explicit ConceptIndexBuilder(std::span<const std::string_view> labels)
      : labels_(labels), groups_(build_synonym_groups(stemmer_)) {
    for (std::string_view word : kModifierWords) modifier_stems_.emplace_back(stemmer_.stem(word));
    index_.reset(new ConceptIndex());
    index_->serial_ = g_next_serial.fetch_add(1, std::memory_order_relaxed);
    // About five keys a row on HPO releases: size the table once for that.
    size_t size = 1 << 16;
    while (size < labels.size() * 12) size *= 2;
    resize_table(size);
    // At most size / 2 keys before the table grows: reserving them saves the
    // copies of growth, 2.2M instructions a build and about 4k minor faults
    // of two constructions (bench_construction under callgrind and time -f).
    key_entries_.reserve(size / 2);
  }

  std::unique_ptr<const ConceptIndex> build() {
    for (uint32_t row = 0; row < labels_.size(); ++row) add_row(row);
    finalize();
    return std::move(index_);
  }

 private:
  // What the variants need to know of a stem, worked out once per stem.
  struct StemInfo {
    bool is_modifier = false;
    bool has_dash = false;
    const std::vector<std::string>* mates = nullptr;  // synonym-group mates
    std::vector<uint32_t> mate_ids;                   // interned on first use
    bool mates_interned = false;
  };

  // One key's entries, as far as a lookup cares, and where the key lives.
  struct KeyEntries {
    uint32_t first_seq = kNone, first_row = kNone;
    uint32_t base_seq = kNone, base_row = kNone;
    uint32_t slot = 0;   // in the table
    uint32_t count = 0;  // tokens

    void add(uint32_t seq, uint32_t row, bool is_base) {
      if (seq < first_seq) {
        first_seq = seq;
        first_row = row;
      }
      if (is_base && seq < base_seq) {
        base_seq = seq;
        base_row = row;
      }
    }
    void absorb(const KeyEntries& o) {
      add(o.first_seq, o.first_row, false);
      if (o.base_seq != kNone) add(o.base_seq, o.base_row, true);
    }
    uint32_t reported_row() const { return base_row != kNone ? base_row : first_row; }
  };

  // A variant formed but not yet added to its key.
  struct Pending {
    uint64_t hash;
    uint32_t count, seq, row, ids_begin, ids_len;
    bool is_base;
  };

  // A key holding a "-" stem, kept aside until the stems are renumbered.
  struct AsideKey {
    std::vector<uint32_t> ids;  // provisional
    uint32_t count;
    KeyEntries entries;
  };

  uint32_t intern(std::string_view stem) {
    const detail::MapKey key = detail::map_key(stem);
    const uint32_t id = vocab_.insert(key, static_cast<uint32_t>(stem_texts_.size()));
    if (id == stem_texts_.size()) {
      stem_texts_.emplace_back(stem);
      hashes_.push_back(key.hash);
      StemInfo info;
      info.is_modifier =
          std::find(modifier_stems_.begin(), modifier_stems_.end(), stem) != modifier_stems_.end();
      info.has_dash = stem.find('-') != std::string_view::npos;
      info.mates = groups_.find(stem);
      stem_info_.push_back(std::move(info));
    }
    return id;
  }

  // Provisional stem id of a label token; label words repeat, so most
  // tokens cost one probe.
  uint32_t stem_id_of(std::string_view token) {
    const detail::MapKey key = detail::map_key(token);
    const uint32_t known = token_ids_.find(key);
    if (known != detail::StringMap::kMissing) return known;
    return token_ids_.insert(key, intern(stemmer_.stem(token)));
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
    for_each_lowered_label_token(labels_[row], label_scratch_,
                                 [&](std::string_view token) { s.push_back(stem_id_of(token)); });
    if (s.empty()) return;
    add_entry(s, row, true);
    add_modifier_variants(s, row);
    add_synonym_variants(s, row);
    add_pending();
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
    ids_.assign(variant.begin(), variant.end());
    std::sort(ids_.begin(), ids_.end());
    ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
    const auto count = static_cast<uint32_t>(variant.size());
    const uint32_t seq = next_seq_++;
    ++entry_count_;
    if (ids_.empty()) {  // the empty variant of a lone modifier: no window asks for it
      has_empty_key_ = true;
      return;
    }
    bool dash = false;
    for (uint32_t id : ids_) dash |= stem_info_[id].has_dash;
    if (dash) {
      add_aside(count, seq, row, is_base);
      return;
    }
    uint64_t hash = 0;
    for (uint32_t id : ids_) hash += hashes_[id];
    // The slot is almost always a cache miss: ask for it now and probe when
    // the row's other variants are formed, so their misses overlap.
    const ConceptIndex& index = *index_;
    __builtin_prefetch(&index.slots_[ConceptIndex::fingerprint(hash, count) & index.mask_]);
    pending_.push_back(Pending{hash, count, seq, row, static_cast<uint32_t>(pending_ids_.size()),
                               static_cast<uint32_t>(ids_.size()), is_base});
    pending_ids_.insert(pending_ids_.end(), ids_.begin(), ids_.end());
  }

  // Adds the row's variants to their keys, in the order they were formed.
  void add_pending() {
    for (const Pending& p : pending_) {
      const std::span<const uint32_t> ids(pending_ids_.data() + p.ids_begin, p.ids_len);
      key_entries(find_or_insert(p.hash, p.count, ids)).add(p.seq, p.row, p.is_base);
    }
    pending_.clear();
    pending_ids_.clear();
  }

  void add_aside(uint32_t count, uint32_t seq, uint32_t row, bool is_base) {
    for (AsideKey& key : aside_) {
      if (key.count == count && key.ids == ids_) {
        key.entries.add(seq, row, is_base);
        return;
      }
    }
    aside_.push_back(AsideKey{ids_, count, {}});
    aside_.back().entries.add(seq, row, is_base);
  }

  // The slot of the key (set hash, count, ids), inserted when absent. During
  // the build a slot's `row` holds its key number into key_entries_.
  size_t find_or_insert(uint64_t set_hash, uint32_t count, std::span<const uint32_t> ids) {
    ConceptIndex& index = *index_;
    if ((key_entries_.size() + 1) * 2 > index.slots_.size()) resize_table(index.slots_.size() * 2);
    const uint32_t fp = ConceptIndex::fingerprint(set_hash, count);
    for (size_t i = fp & index.mask_;; i = (i + 1) & index.mask_) {
      ConceptIndex::Slot& slot = index.slots_[i];
      if (slot.row == ConceptIndex::kEmptySlot) {
        slot = ConceptIndex::Slot{fp, static_cast<uint32_t>(index.ids_.size()),
                                  static_cast<uint32_t>(key_entries_.size()), count};
        index.ids_.push_back(static_cast<uint32_t>(ids.size()));
        index.ids_.insert(index.ids_.end(), ids.begin(), ids.end());
        key_entries_.emplace_back();
        key_entries_.back().slot = static_cast<uint32_t>(i);
        key_entries_.back().count = count;
        index.max_count_ = std::max(index.max_count_, count);
        return i;
      }
      if (slot.fingerprint == fp && slot.count == count &&
          index.ids_[slot.ids_offset] == ids.size() &&
          std::equal(ids.begin(), ids.end(), index.ids_.begin() + slot.ids_offset + 1))
        return i;
    }
  }

  KeyEntries& key_entries(size_t slot) { return key_entries_[index_->slots_[slot].row]; }

  void resize_table(size_t size) {
    ConceptIndex& index = *index_;
    std::vector<ConceptIndex::Slot> old = std::move(index.slots_);
    index.slots_.assign(size, ConceptIndex::Slot{});
    index.mask_ = size - 1;
    for (const ConceptIndex::Slot& slot : old) {
      if (slot.row == ConceptIndex::kEmptySlot) continue;
      size_t i = slot.fingerprint & index.mask_;
      while (index.slots_[i].row != ConceptIndex::kEmptySlot) i = (i + 1) & index.mask_;
      index.slots_[i] = slot;
      key_entries_[slot.row].slot = static_cast<uint32_t>(i);
    }
  }

  void finalize();
  void debug_check_index() const;
  std::vector<uint32_t> renumber_stems();
  void merge_aside_keys(const std::vector<uint32_t>& final_id);
  std::string joined_text(const std::vector<uint32_t>& ids) const;
  bool rewrite_into_pieces(std::vector<uint32_t>& ids) const;

  std::span<const std::string_view> labels_;  // lowered surfaces, by row
  text::Stemmer stemmer_;
  SynonymGroups groups_;
  std::vector<std::string> modifier_stems_;
  std::unique_ptr<ConceptIndex> index_;
  detail::StringMap vocab_;      // stem text -> provisional id
  detail::StringMap token_ids_;  // label token -> provisional stem id
  std::vector<std::string> stem_texts_;
  std::vector<uint64_t> hashes_;
  std::vector<StemInfo> stem_info_;
  std::vector<KeyEntries> key_entries_;
  std::vector<AsideKey> aside_;
  std::vector<Pending> pending_;
  std::vector<uint32_t> pending_ids_;
  LabelScratch label_scratch_;
  std::vector<uint32_t> row_stems_;
  std::vector<uint32_t> variant_;
  std::vector<uint32_t> ids_;
  uint32_t next_seq_ = 0;
  size_t entry_count_ = 0;
  bool has_empty_key_ = false;
};

// Gives stems their final ids, in byte order of their text, and returns the
// map from provisional to final id.
std::vector<uint32_t> ConceptIndexBuilder::renumber_stems() {
  ConceptIndex& index = *index_;
  const auto stem_count = static_cast<uint32_t>(stem_texts_.size());
  std::vector<uint32_t> by_text(stem_count);
  std::iota(by_text.begin(), by_text.end(), 0);
  std::sort(by_text.begin(), by_text.end(),
            [&](uint32_t a, uint32_t b) { return stem_texts_[a] < stem_texts_[b]; });
  std::vector<uint32_t> final_id(stem_count);
  index.stem_offsets_.reserve(stem_count + 1);
  index.stem_facts_.reserve(stem_count);
  for (uint32_t i = 0; i < stem_count; ++i) {
    const std::string& text = stem_texts_[by_text[i]];
    const uint64_t hash = hashes_[by_text[i]];
    final_id[by_text[i]] = i;
    index.stem_offsets_.push_back(static_cast<uint32_t>(index.stem_arena_.size()));
    index.stem_arena_ += text;
    index.stem_facts_.push_back({hash, 0, ConceptIndex::kNoRow});
    index.stems_.insert(text, i);
  }
  index.stem_offsets_.push_back(static_cast<uint32_t>(index.stem_arena_.size()));
  index.stems_.debug_check_invariants();
  return final_id;
}

void ConceptIndexBuilder::finalize() {
  ConceptIndex& index = *index_;
  const std::vector<uint32_t> final_id = renumber_stems();
  // The id pool holds the keys one after the other: [distinct, ids...].
  for (size_t at = 0; at < index.ids_.size(); at += index.ids_[at] + 1) {
    uint32_t* ids = index.ids_.data() + at + 1;
    const uint32_t distinct = ids[-1];
    for (uint32_t k = 0; k < distinct; ++k) ids[k] = final_id[ids[k]];
    std::sort(ids, ids + distinct);
  }
  merge_aside_keys(final_id);
  // Keys in the order they were made, which is also their order in the pool:
  // both walks stay sequential, only the row stores land at random.
  size_t at = 0;
  for (const KeyEntries& key : key_entries_) {
    index.slots_[key.slot].row = key.reported_row();
    const uint32_t distinct = index.ids_[at];
    for (uint32_t k = 1; k <= distinct; ++k) {
      uint32_t& bound = index.stem_facts_[index.ids_[at + k]].max_count_with;
      bound = std::max(bound, key.count);
    }
    if (key.count == 1 && distinct == 1)
      index.stem_facts_[index.ids_[at + 1]].single_row = key.reported_row();
    at += distinct + 1;
  }
  index.stats_.vocabulary = stem_texts_.size();
  index.stats_.entries = entry_count_;
  index.stats_.keys += key_entries_.size() + (has_empty_key_ ? 1 : 0);
  index.stats_.reachable_keys = key_entries_.size();
  index.filter_.assign(size_t{1} << ConceptIndex::kFilterWordsLog2, 0);
  for (const ConceptIndex::Slot& slot : index.slots_) {
    if (slot.row == ConceptIndex::kEmptySlot) continue;
    index.filter_[ConceptIndex::filter_word(slot.fingerprint)] |=
        ConceptIndex::filter_bits(slot.fingerprint);
  }
  debug_check_index();
}

// The invariants of the header (checked in debug-check builds): stems
// numbered in byte order of their text, each with the hash of its text;
// every stored key with ascending ids and no "-" stem among them, in a slot
// its fingerprint reaches, a fingerprint its stems' hashes and its count
// give and the filter lets through; each stem's facts what the keys say.
void ConceptIndexBuilder::debug_check_index() const {
  if constexpr (!detail::kDebugChecks) return;
  const ConceptIndex& index = *index_;
  const auto stem_count = static_cast<uint32_t>(index.stem_facts_.size());
  CORVANTA_DCHECK(index.stem_offsets_.size() == size_t{stem_count} + 1);
  for (uint32_t i = 0; i < stem_count; ++i) {
    const std::string_view text = index.stem_text(StemId{i});
    if (i > 0) CORVANTA_DCHECK(index.stem_text(StemId{i - 1}) < text);
    CORVANTA_DCHECK(index.stems_.find(text) == i);
    CORVANTA_DCHECK(index.stem_facts_[i].hash == detail::map_key(text).hash);
  }
  CORVANTA_DCHECK(index.mask_ + 1 == index.slots_.size() &&
                  (index.slots_.size() & index.mask_) == 0);
  std::vector<uint32_t> max_count_with(stem_count, 0);
  uint32_t max_count = 0;
  size_t keys = 0;
  for (size_t i = 0; i < index.slots_.size(); ++i) {
    const ConceptIndex::Slot& slot = index.slots_[i];
    if (slot.row == ConceptIndex::kEmptySlot) continue;
    ++keys;
    CORVANTA_DCHECK(slot.row < labels_.size());
    const uint32_t distinct = index.ids_[slot.ids_offset];
    const uint32_t* ids = index.ids_.data() + slot.ids_offset + 1;
    CORVANTA_DCHECK(distinct > 0 && distinct <= slot.count);
    uint64_t hash = 0;
    for (uint32_t k = 0; k < distinct; ++k) {
      CORVANTA_DCHECK(ids[k] < stem_count && (k == 0 || ids[k - 1] < ids[k]));
      CORVANTA_DCHECK(index.stem_text(StemId{ids[k]}).find('-') == std::string_view::npos);
      hash += index.stem_facts_[ids[k]].hash;
      max_count_with[ids[k]] = std::max(max_count_with[ids[k]], slot.count);
    }
    CORVANTA_DCHECK(slot.fingerprint == ConceptIndex::fingerprint(hash, slot.count));
    CORVANTA_DCHECK(index.may_hold(slot.fingerprint));
    for (size_t k = slot.fingerprint & index.mask_; k != i; k = (k + 1) & index.mask_)
      CORVANTA_DCHECK(index.slots_[k].row != ConceptIndex::kEmptySlot);
    max_count = std::max(max_count, slot.count);
  }
  CORVANTA_DCHECK(keys == index.stats_.reachable_keys && max_count == index.max_count_);
  for (uint32_t i = 0; i < stem_count; ++i) {
    const ConceptIndex::StemFacts& facts = index.stem_facts_[i];
    CORVANTA_DCHECK(facts.max_count_with == max_count_with[i]);
    const StemId id{i};
    const std::optional<RowId> one_word =
        index.lookup(facts.hash, 1, std::span<const StemId>(&id, 1));
    CORVANTA_DCHECK(facts.single_row == (one_word ? one_word->v : ConceptIndex::kNoRow));
  }
}

// Keys with a "-" stem, rewritten into pieces: merged into an equal key of
// the table, inserted as a new key, or (when no window can produce them)
// only counted, once per distinct joined text and count.
void ConceptIndexBuilder::merge_aside_keys(const std::vector<uint32_t>& final_id) {
  std::set<std::pair<std::string, uint32_t>> unreachable;
  for (AsideKey& key : aside_) {
    std::vector<uint32_t> ids;
    for (uint32_t prov : key.ids) ids.push_back(final_id[prov]);
    std::sort(ids.begin(), ids.end());
    if (!rewrite_into_pieces(ids)) {
      unreachable.emplace(joined_text(ids), key.count);
      continue;
    }
    uint64_t hash = 0;
    for (uint32_t id : ids) hash += index_->stem_hash(StemId{id});
    key_entries(find_or_insert(hash, key.count, ids)).absorb(key.entries);
  }
  index_->stats_.keys = unreachable.size();
}

std::string ConceptIndexBuilder::joined_text(const std::vector<uint32_t>& ids) const {
  std::string joined;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i) joined += '-';
    joined += index_->stem_text(StemId{ids[i]});
  }
  return joined;
}

// Rewrites the (final, ascending) ids of a key that holds a "-" stem into the
// stems a window would need for an equal joined text: the "-"-separated
// pieces of that text, each a known stem, in strictly ascending order. False,
// leaving `ids` as they were, when no window can produce the key.
bool ConceptIndexBuilder::rewrite_into_pieces(std::vector<uint32_t>& ids) const {
  const std::string joined = joined_text(ids);
  std::vector<uint32_t> pieces;
  for (size_t start = 0;;) {
    const size_t dash = joined.find('-', start);
    const size_t len = dash == std::string::npos ? std::string::npos : dash - start;
    const uint32_t id = index_->stems_.find(std::string_view(joined).substr(start, len));
    if (id == detail::StringMap::kMissing || (!pieces.empty() && id <= pieces.back())) return false;
    pieces.push_back(id);
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  ids = std::move(pieces);
  return true;
}

std::unique_ptr<const ConceptIndex> ConceptIndex::build(
    std::span<const std::string_view> lowered_surfaces) {
  return ConceptIndexBuilder(lowered_surfaces).build();
}

std::optional<RowId> ConceptIndex::probe(uint32_t fp, uint32_t count,
                                         std::span<const StemId> distinct) const noexcept {
  for (size_t i = fp & mask_;; i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.row == kEmptySlot) return std::nullopt;
    if (slot.fingerprint != fp || slot.count != count) continue;
    const uint32_t* ids = ids_.data() + slot.ids_offset;
    if (ids[0] != distinct.size()) continue;
    // Both sides are distinct and of equal size, so containment is equality.
    bool equal = true;
    for (uint32_t k = 1; k <= ids[0] && equal; ++k)
      equal = std::find(distinct.begin(), distinct.end(), StemId{ids[k]}) != distinct.end();
    if (equal) return RowId{slot.row};
  }
}

std::string_view ConceptIndex::stem_text(StemId id) const noexcept {
  return std::string_view(stem_arena_.data() + stem_offsets_[id.v],
                          stem_offsets_[id.v + 1] - stem_offsets_[id.v]);
}

size_t ConceptIndex::memory_bytes() const noexcept {
  return stems_.memory_bytes() + stem_facts_.capacity() * sizeof(StemFacts) +
         stem_offsets_.capacity() * sizeof(uint32_t) + stem_arena_.capacity() +
         slots_.capacity() * sizeof(Slot) + filter_.capacity() * sizeof(uint64_t) +
         ids_.capacity() * sizeof(uint32_t);
}

}  // namespace corvanta
