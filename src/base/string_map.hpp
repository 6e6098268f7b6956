// StringMap: an open-addressing hash map from short byte strings to uint32_t
// values, for the per-word lookups of recognition (word -> stem id, stem ->
// stem id).
//
// A slot is 32 bytes, aligned, and holds the first 16 bytes of its key
// inline (zero beyond the key's end), so a probe for a key of up to 16 bytes
// (97% of the words of the medical abstracts) compares two 64-bit words and
// touches one cache line. Longer keys keep their bytes past the 16th in one
// character arena. No node chasing, no per-key allocation. The table grows
// at three quarters full: with 32-byte slots that keeps it the size the
// former 16-byte slots (key bytes out of line, half full at most) had.
// Measured on the medical abstracts (benchmarks/bench_recognition.cpp,
// callgrind, three passes): the stem cache went from 213M to 172M
// instructions, the same hits.
//
// A caller that probes with a word of a larger text can build its MapKey
// straight from 16 loaded bytes (map_key_padded): hashing then needs no
// byte copy, which was a fifth of the probe's instructions.
//
// Invariant: a slot is empty if and only if its `len` is kEmpty; the table
// size is a power of two above 4/3 of the key count, so probing ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes16.hpp"
#include "base/debug_check.hpp"

namespace corvanta::detail {

// A key as StringMap compares it: its text, its first 16 bytes (zero beyond
// the text's end) and its hash.
struct MapKey {
  std::string_view text;
  uint64_t head[2];
  uint64_t hash;
};

// Mixes the 64-bit words of a key: its head, then 8 bytes per step of the
// rest. Quality only needs to be good enough to spread words over a table.
inline uint64_t key_hash(const MapKey& key) noexcept {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const size_t size = key.text.size();
  uint64_t h = 0x243F6A8885A308D3ull ^ (size * kMul);
  auto step = [&](uint64_t w) {
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  };
  step(key.head[0]);
  step(key.head[1]);
  if (size > 16) [[unlikely]] {
    const char* p = key.text.data() + 16;
    size_t n = size - 16;
    for (; n >= 8; p += 8, n -= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      step(w);
    }
    if (n > 0) {
      uint64_t w = 0;
      std::memcpy(&w, p, n);
      step(w);
    }
  }
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

// The key of `s`.
inline MapKey map_key(std::string_view s) noexcept {
  MapKey key{s, {0, 0}, 0};
  std::memcpy(key.head, s.data(), std::min<size_t>(s.size(), 16));
  key.hash = key_hash(key);
  return key;
}

// The key of `s`, whose first 16 bytes are `bytes`, loaded from s.data()
// (what follows the end of `s` among them is masked off).
inline MapKey map_key_padded(std::string_view s, Bytes16 bytes) noexcept {
  MapKey key{s, {0, 0}, 0};
  store_head(bytes, std::min<size_t>(s.size(), 16), key.head);
  key.hash = key_hash(key);
  return key;
}

class StringMap {
 public:
  static constexpr uint32_t kMissing = UINT32_MAX;

  StringMap() { rehash(16); }

  // Inserts `key` with `value` unless present; returns the stored value.
  uint32_t insert(std::string_view key, uint32_t value) { return insert(map_key(key), value); }

  uint32_t insert(const MapKey& key, uint32_t value) {
    if ((count_ + 1) * 4 > slots_.size() * 3) rehash(slots_.size() * 2);
    for (size_t i = key.hash & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.len == kEmpty) {
        slot = Slot{{key.head[0], key.head[1]},
                    static_cast<uint32_t>(key.text.size()),
                    static_cast<uint32_t>(key.hash),
                    value,
                    static_cast<uint32_t>(arena_.size())};
        if (key.text.size() > 16) arena_.append(key.text.substr(16));
        ++count_;
        return value;
      }
      if (holds(slot, key)) return slot.value;
    }
  }

  // The value of `key`, or kMissing.
  [[nodiscard]] uint32_t find(std::string_view key) const noexcept { return find(map_key(key)); }

  [[nodiscard]] uint32_t find(const MapKey& key) const noexcept {
    for (size_t i = key.hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (holds(slot, key)) return slot.value;
      if (slot.len == kEmpty) return kMissing;
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
  // an empty one, and the table is a power of two above 4/3 of count_.
  void debug_check_invariants() const {
    if constexpr (!kDebugChecks) return;
    CORVANTA_DCHECK(slots_.size() * 3 >= 4 * count_ && (slots_.size() & mask_) == 0 &&
                    mask_ + 1 == slots_.size() && count_ < slots_.size());
    size_t used = 0;
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].len == kEmpty) continue;
      ++used;
      if (slots_[i].len > 16)
        CORVANTA_DCHECK(slots_[i].tail + size_t{slots_[i].len} - 16 <= arena_.size());
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
  struct alignas(32) Slot {
    uint64_t head[2] = {0, 0};  // the key's first 16 bytes, zero-padded
    uint32_t len = kEmpty;
    uint32_t hash = 0;  // low half of the key's hash
    uint32_t value = 0;
    uint32_t tail = 0;  // offset in arena_ of a long key's bytes past the 16th
  };

  // Whether `slot` holds `key`. An empty slot's len matches no key.
  bool holds(const Slot& slot, const MapKey& key) const noexcept {
    if (slot.len != key.text.size() || slot.head[0] != key.head[0] || slot.head[1] != key.head[1])
      return false;
    if (slot.len <= 16) return true;
    return slot.hash == static_cast<uint32_t>(key.hash) &&
           std::memcmp(arena_.data() + slot.tail, key.text.data() + 16, slot.len - 16) == 0;
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
