// StringMap: an open-addressing hash map from short byte strings to uint32_t
// values, for the per-word lookups of recognition (word -> stem id, stem ->
// stem id).
//
// Keys live in one character arena and slots are 16 bytes, so a probe touches
// one slot and, on a fingerprint match, one run of arena bytes: no node
// chasing, no per-key allocation. Filled at construction, read-only after,
// so any number of threads may probe one map.
//
// Invariant: a slot is empty if and only if its `len` is kEmpty; the table
// size is a power of two at least twice the key count, so probing ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "debug_check.hpp"

namespace corvanta::detail {

// 64-bit hash of a byte string: 8 bytes per step with a multiply-xorshift
// mix. Quality only needs to be good enough to spread words over a table.
inline uint64_t hash_bytes(std::string_view s) noexcept {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = 0x243F6A8885A308D3ull ^ (s.size() * kMul);
  const char* p = s.data();
  size_t n = s.size();
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

class StringMap {
 public:
  static constexpr uint32_t kMissing = UINT32_MAX;

  StringMap() { rehash(16); }

  // Inserts `key` with `value` unless present; returns the stored value.
  uint32_t insert(std::string_view key, uint32_t value) { return insert(key, hash_bytes(key), value); }

  // The same, for a key whose hash_bytes is `h`.
  uint32_t insert(std::string_view key, uint64_t h, uint32_t value) {
    if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.size() * 2);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.len == kEmpty) {
        slot = Slot{static_cast<uint32_t>(h), static_cast<uint32_t>(key.size()),
                    static_cast<uint32_t>(arena_.size()), value};
        arena_.append(key);
        ++count_;
        return value;
      }
      if (slot.hash == static_cast<uint32_t>(h) && holds(slot, key)) return slot.value;
    }
  }

  // The value of `key`, or kMissing.
  [[nodiscard]] uint32_t find(std::string_view key) const noexcept {
    return find(key, hash_bytes(key));
  }

  // The same, for a key whose hash_bytes is `h`.
  [[nodiscard]] uint32_t find(std::string_view key, uint64_t h) const noexcept {
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.len == kEmpty) return kMissing;
      if (slot.hash == static_cast<uint32_t>(h) && holds(slot, key)) return slot.value;
    }
  }

  void clear() {
    slots_.assign(16, Slot{});
    mask_ = 15;
    arena_.clear();
    count_ = 0;
  }

  [[nodiscard]] size_t size() const noexcept { return count_; }

  // Checks the invariant of the header (debug-check builds only): count_
  // slots are not empty, every key's probe sequence reaches its slot before
  // an empty one, and the table is a power of two at least twice count_.
  void debug_check_invariants() const {
    if constexpr (!kDebugChecks) return;
    CORVANTA_DCHECK(slots_.size() >= 2 * count_ && (slots_.size() & mask_) == 0 &&
                    mask_ + 1 == slots_.size());
    size_t used = 0;
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].len == kEmpty) continue;
      ++used;
      CORVANTA_DCHECK(slots_[i].offset + size_t{slots_[i].len} <= arena_.size());
      for (size_t k = slots_[i].hash & mask_; k != i; k = (k + 1) & mask_)
        CORVANTA_DCHECK(slots_[k].len != kEmpty);
    }
    CORVANTA_DCHECK(used == count_);
  }
  [[nodiscard]] size_t memory_bytes() const noexcept {
    return slots_.capacity() * sizeof(Slot) + arena_.capacity();
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    uint32_t hash = 0;
    uint32_t len = kEmpty;
    uint32_t offset = 0;
    uint32_t value = 0;
  };

  std::string_view key_of(const Slot& slot) const noexcept {
    return std::string_view(arena_.data() + slot.offset, slot.len);
  }

  // Whether `slot` holds `key`. Words are short: a byte loop the compiler
  // keeps inline beats a call to memcmp, which took 8% of recognition time.
  bool holds(const Slot& slot, std::string_view key) const noexcept {
    if (slot.len != key.size()) return false;
    const char* stored = arena_.data() + slot.offset;
    if (key.size() > 16) return std::memcmp(stored, key.data(), key.size()) == 0;
    for (size_t i = 0; i < key.size(); ++i)
      if (stored[i] != key[i]) return false;
    return true;
  }

  void rehash(size_t size) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    for (const Slot& slot : old) {
      if (slot.len == kEmpty) continue;
      size_t i = slot.hash & mask_;
      while (slots_[i].len != kEmpty) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
    debug_check_invariants();
  }

  std::vector<Slot> slots_;
  std::string arena_;
  size_t mask_ = 0;
  size_t count_ = 0;
};

}  // namespace corvanta::detail
