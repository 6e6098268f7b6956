// The concept index: order-free, stemmed label variants for the clustering
// stage.
//
// Every label-table row contributes its stem list S (tokenize_label) as the
// base variant, plus variants without one modifier word and variants with one
// stem replaced by a synonym-group mate. A variant's key is its set of
// distinct stems and its token count, so a window of text words matches a
// variant whatever the order of the words.
//
// Representation. Stems are interned as ids numbered in byte-wise order of
// their text, so "sorted distinct stems" is "sorted distinct ids". Each stem
// has a 64-bit hash of its text; a key's set hash is the sum of its distinct
// stems' hashes, so a window grows one word at a time without rehashing, and
// renumbering the stems after the build leaves every hash unchanged: the
// table the build fills is the table recognition probes. A key is stored once
// with the one row a lookup reports (the first base entry, else the first
// entry); the lists behind a key are never needed at match time. A
// fingerprint hit is verified against the stored count and ids.
//
// Keys compare as the joined text of their sorted stems ("-"-separated) and
// their count. Text words never contain "-", but a few synonym-group stems do
// ("delta-shap"); such a key is reachable exactly by the windows whose own
// joined text equals it, i.e. whose stems are the "-"-separated pieces of its
// text, and it is stored under those pieces.
//
// Most lookups of a text find nothing, and the table (8 MB for a release)
// misses the cache on nearly every probe. A blocked Bloom filter over the
// keys' fingerprints, 256 KiB that stay cached, answers most of those misses
// first: two bits of one word, set for every stored key, so it never turns a
// key away. On the medical abstracts (benchmarks/bench_recognition.cpp,
// perf samples) it took lookups from 23% of recognition time to 14%, and
// the benchmark from about 20 to 27 MB/s of CPU time on a loaded 2-core VM.
// The filter test is inline in the caller, and one-word windows (the most
// common) are answered by the stem's facts (single_row), built with the
// table: together lookup went from 100M to about 36M instructions over the
// medical abstracts (callgrind; 5M are the probes past the filter), and the
// index build stayed at 40 ms (benchmarks/bench_construction.cpp).
//
// Debug-check builds verify these invariants after every build
// (debug_check_index in concept_index.cpp).
//
// Immutable after build; lookups only read it. Stemming at match time goes
// through the caller's StemCache (stem_cache.hpp), never state of the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ids.hpp"
#include "base/string_map.hpp"

namespace corvanta {

class ConceptIndex {
 public:
  struct Stats {
    size_t vocabulary = 0;  // distinct stems known to the clustering stage
    size_t keys = 0;        // distinct variant keys, reachable or not
    size_t entries = 0;     // concept entries over all keys
    size_t reachable_keys = 0;
  };

  // The index of the label table whose surfaces, lower-cased, are
  // `lowered_surfaces` (one per row, in row order; LoweredSurfaces).
  [[nodiscard]] static std::unique_ptr<const ConceptIndex> build(
      std::span<const std::string_view> lowered_surfaces);

  ConceptIndex(const ConceptIndex&) = delete;
  ConceptIndex& operator=(const ConceptIndex&) = delete;

  // The id of `stem` (a stem text), or nullopt when it is not in the
  // vocabulary.
  [[nodiscard]] std::optional<StemId> find_stem(std::string_view stem) const noexcept {
    const uint32_t id = stems_.find(stem);
    if (id == detail::StringMap::kMissing) return std::nullopt;
    return StemId{id};
  }

  // Unique per index in this process: a cache of stem ids (StemCache) tells
  // by it which index its ids belong to.
  [[nodiscard]] uint64_t serial() const noexcept { return serial_; }

  // What the clustering stage reads of a stem, once per text word: one
  // array access for all of it.
  struct StemFacts {
    uint64_t hash;            // a window's set hash is the sum over its distinct stems
    uint32_t max_count_with;  // longest variant holding the stem
    uint32_t single_row;      // row the one-word window of the stem reports, or kNoRow
  };
  static constexpr uint32_t kNoRow = UINT32_MAX;

  [[nodiscard]] const StemFacts& stem_facts(StemId id) const noexcept { return stem_facts_[id.v]; }

  // Hash of one stem; a window's set hash is the sum over its distinct stems.
  [[nodiscard]] uint64_t stem_hash(StemId id) const noexcept { return stem_facts_[id.v].hash; }

  // Row reported for the window whose distinct stem ids are `distinct` (any
  // order), whose set hash is `set_hash` and whose length is `count`; or
  // nullopt.
  // The filter test is inline: it turns away most windows, and a call would
  // cost them more than the test.
  [[nodiscard]] std::optional<RowId> lookup(uint64_t set_hash, uint32_t count,
                                            std::span<const StemId> distinct) const noexcept {
    const uint32_t fp = fingerprint(set_hash, count);
    if (!may_hold(fp)) return std::nullopt;
    return probe(fp, count, distinct);
  }

  // Longest variant, in tokens: no longer window can match.
  [[nodiscard]] uint32_t max_count() const noexcept { return max_count_; }

  [[nodiscard]] const Stats& stats() const noexcept { return stats_; }
  [[nodiscard]] std::string_view stem_text(StemId id) const noexcept;
  [[nodiscard]] size_t memory_bytes() const noexcept;

 private:
  ConceptIndex() = default;
  friend class ConceptIndexBuilder;

  // A slot is empty if and only if its row is kEmptySlot.
  static constexpr uint32_t kEmptySlot = UINT32_MAX;

  // ids_[ids_offset] holds the distinct-stem count, the ids follow, ascending.
  struct Slot {
    uint32_t fingerprint = 0;
    uint32_t ids_offset = 0;
    uint32_t row = kEmptySlot;
    uint32_t count = 0;
  };

  // The filter word and its two bits for a key's fingerprint.
  static constexpr size_t kFilterWordsLog2 = 15;  // 256 KiB
  static size_t filter_word(uint32_t fp) noexcept {
    return static_cast<size_t>((uint64_t{fp} * 0x9E3779B97F4A7C15ull) >> (64 - kFilterWordsLog2));
  }
  static uint64_t filter_bits(uint32_t fp) noexcept {
    return (uint64_t{1} << (fp & 63)) | (uint64_t{1} << ((fp >> 6) & 63));
  }
  // lookup past the filter: the table probe and the verification.
  [[nodiscard]] std::optional<RowId> probe(uint32_t fp, uint32_t count,
                                           std::span<const StemId> distinct) const noexcept;

  [[nodiscard]] bool may_hold(uint32_t fp) const noexcept {
    const uint64_t bits = filter_bits(fp);
    return (filter_[filter_word(fp)] & bits) == bits;
  }

  static uint32_t fingerprint(uint64_t set_hash, uint32_t count) noexcept {
    uint64_t x = set_hash ^ (static_cast<uint64_t>(count) * 0xC2B2AE3D27D4EB4Full);
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return static_cast<uint32_t>(x ^ (x >> 32));
  }

  detail::StringMap stems_;             // stem text -> stem id
  std::vector<StemFacts> stem_facts_;   // by stem id
  std::vector<uint32_t> stem_offsets_;  // id -> [offsets[id], offsets[id+1]) in stem_arena_
  std::string stem_arena_;
  std::vector<Slot> slots_;
  std::vector<uint64_t> filter_;  // the filter words, set for every stored key
  std::vector<uint32_t> ids_;
  size_t mask_ = 0;
  uint64_t serial_ = 0;  // unique per index in this process
  uint32_t max_count_ = 0;
  Stats stats_;
};

}  // namespace corvanta
