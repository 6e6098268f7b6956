// A small fixed set of short phrases, found together in one pass.
//
// scan() walks the text sixteen bytes at a time and keeps the positions
// whose two bytes equal the first two bytes of some phrase: two vector
// comparisons per distinct two-byte beginning, through the compiler's
// portable vector extension (SSE2 on x86-64, NEON on ARM). Only those
// positions are compared with the phrases, each in two masked 8-byte words.
// In the 2,888 abstracts of bench_recognition 1.7% of positions begin like a
// negation trigger and 2.6% like a terminator, while 'n' alone is 6% of the
// bytes: one std::string_view::find per phrase stops at every occurrence of
// the phrase's first byte and calls memcmp there.
//
// Header-only, so that the scan loop inlines its caller's visitor and the
// constant phrase tables.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/bytes16.hpp"

namespace corvanta::detail {

// The number of distinct two-byte beginnings among `phrases`.
template <size_t N>
consteval size_t distinct_heads(const std::array<std::string_view, N>& phrases) {
  size_t count = 0;
  for (size_t i = 0; i < N; ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j)
      seen = seen || phrases[j].substr(0, 2) == phrases[i].substr(0, 2);
    if (!seen) ++count;
  }
  return count;
}

// Up to 32 phrases of 2 to 16 non-zero bytes each, with H distinct two-byte
// beginnings (distinct_heads): a template argument, so that the prefilter's
// comparisons unroll into constant vectors.
template <size_t N, size_t H>
class PhraseSet {
  static_assert(N >= 1 && N <= 32);

 public:
  consteval explicit PhraseSet(const std::array<std::string_view, N>& phrases) {
    for (size_t i = 0; i < N; ++i) {
      const std::string_view p = phrases[i];
      if (p.size() < 2 || p.size() > 16) throw "a phrase has 2 to 16 bytes";
      length_[i] = p.size();
      for (size_t b = 0; b < p.size(); ++b) {
        if (p[b] == '\0') throw "a phrase holds no zero byte";
        const uint64_t byte = static_cast<uint8_t>(p[b]);
        word_[b / 8][i] |= byte << (8 * (b % 8));
        mask_[b / 8][i] |= uint64_t{0xFF} << (8 * (b % 8));
      }
      head_[i] = static_cast<uint16_t>(word_[0][i] & 0xFFFF);
      add_head(static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]));
    }
    if (heads_ != H) throw "H is the number of distinct two-byte beginnings";
  }

  uint64_t length(unsigned i) const noexcept { return length_[i]; }

  // Bit i is set when phrase i starts at byte `pos` of `text` and ends
  // within it: past the text's end bytes16_at reads zeros, which no phrase
  // holds.
  [[gnu::always_inline]] uint32_t matches_at(std::string_view text, uint64_t pos) const noexcept {
    const auto [lo, hi] = words_of(bytes16_at(text, pos));
    const uint64_t head = lo & 0xFFFF;
    uint32_t found = 0;
    for (size_t i = 0; i < N; ++i) {
      if (head != head_[i]) continue;
      const uint64_t diff = ((lo ^ word_[0][i]) & mask_[0][i]) | ((hi ^ word_[1][i]) & mask_[1][i]);
      if (diff == 0) found |= uint32_t{1} << i;
    }
    return found;
  }

  // Calls visit(pos, matches_at(text, pos)) for each pos in [from, to), in
  // increasing order, at which some phrase starts, until visit returns
  // false. A phrase may run past `to`; none runs past the text.
  template <class Visit>
  [[gnu::always_inline]] void scan(std::string_view text, uint64_t from, uint64_t to,
                                   Visit&& visit) const {
    for (uint64_t block = from; block < to; block += 16) {
      auto [lo, hi] = words_of(heads_in(text, block));
      if (to - block < 16) {
        const uint64_t n = to - block;
        lo &= n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
        hi &= n <= 8 ? 0 : (uint64_t{1} << (8 * (n - 8))) - 1;
      }
      if (!visit_block(text, block, lo, visit)) return;
      if (!visit_block(text, block + 8, hi, visit)) return;
    }
  }

 private:
  constexpr void add_head(uint8_t first, uint8_t second) {
    const uint16_t head = static_cast<uint16_t>(first | second << 8);
    for (size_t k = 0; k < heads_; ++k) {
      if (distinct_head_[k] == head) return;
    }
    if (heads_ == H) throw "H is the number of distinct two-byte beginnings";
    distinct_head_[heads_] = head;
    first_[heads_] = Bytes16{} + first;
    second_[heads_] = Bytes16{} + second;
    ++heads_;
  }

  // 0xFF at each of the sixteen positions from `block` whose two bytes
  // begin some phrase, 0 elsewhere.
  [[gnu::always_inline]] Bytes16 heads_in(std::string_view text, uint64_t block) const noexcept {
    const Bytes16 first = bytes16_at(text, block);
    const Bytes16 second = bytes16_at(text, block + 1);
    Bytes16 hits{};
    for (size_t k = 0; k < H; ++k) {
      hits |= reinterpret_cast<Bytes16>((first == first_[k]) & (second == second_[k]));
    }
    return hits;
  }

  // Visits the candidates that `hits` marks (0xFF bytes) among the eight
  // positions from `base`; false once the visitor asked to stop.
  template <class Visit>
  [[gnu::always_inline]] bool visit_block(std::string_view text, uint64_t base, uint64_t hits,
                                          Visit& visit) const {
    hits &= 0x8080808080808080;
    while (hits != 0) {
      const uint64_t pos = base + (std::countr_zero(hits) >> 3);
      hits &= hits - 1;
      const uint32_t found = matches_at(text, pos);
      if (found != 0 && !visit(pos, found)) return false;
    }
    return true;
  }

  std::array<uint64_t, N> length_{};
  std::array<std::array<uint64_t, N>, 2> word_{};  // phrase bytes, as words_of lays them out
  std::array<std::array<uint64_t, N>, 2> mask_{};  // 0xFF over each phrase byte
  std::array<uint16_t, N> head_{};                 // the first two bytes
  std::array<uint16_t, H> distinct_head_{};
  std::array<Bytes16, H> first_{};   // their first bytes,
  std::array<Bytes16, H> second_{};  //   and second bytes, broadcast
  size_t heads_ = 0;
};

}  // namespace corvanta::detail
