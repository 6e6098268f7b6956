// Sixteen bytes of text handled at once, through the compiler's portable
// vector extension (SSE2 on x86-64, NEON on ARM): loading them with zeros
// past the text's end, splitting them into two words, the bit mask of the
// ASCII letters and digits among them (the clustering scan's word test), and
// the zero-padded head of a short key (the string map's inline key).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvanta::detail {

// Sixteen bytes, one vector register, and the same taken as signed bytes:
// a signed compare is one instruction, an unsigned one several.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Signed16 = int8_t __attribute__((vector_size(16)));

// The bytes of `text` from `pos` on, fewer than sixteen, then zeros.
[[gnu::cold, gnu::noinline]] inline Bytes16 tail_bytes16_at(std::string_view text,
                                                            uint64_t pos) noexcept {
  Bytes16 v{};
  if (pos < text.size()) std::memcpy(&v, text.data() + pos, text.size() - pos);
  return v;
}

// The sixteen bytes of `text` from `pos` on, zero past its end.
[[gnu::always_inline]] inline Bytes16 bytes16_at(std::string_view text, uint64_t pos) noexcept {
  if (pos + 16 > text.size()) [[unlikely]]
    return tail_bytes16_at(text, pos);
  Bytes16 v;
  std::memcpy(&v, text.data() + pos, 16);
  return v;
}

// The two halves of `v` with byte i of v in bits 8i..8i+7 (i < 8 in
// words[0]), whatever the machine's byte order.
[[gnu::always_inline]] inline std::array<uint64_t, 2> words_of(Bytes16 v) noexcept {
  std::array<uint64_t, 2> words;
  std::memcpy(words.data(), &v, 16);
  if constexpr (std::endian::native == std::endian::big) {
    words[0] = __builtin_bswap64(words[0]);
    words[1] = __builtin_bswap64(words[1]);
  }
  return words;
}

// Bit k set when byte k of `lanes` (each 0x00 or 0xFF) is 0xFF.
[[gnu::always_inline]] inline unsigned lane_mask(Bytes16 lanes) noexcept {
#if defined(__SSE2__)
  return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(lanes)));
#else
  unsigned mask = 0;
  for (unsigned k = 0; k < 16; ++k) mask |= static_cast<unsigned>(lanes[k] >> 7) << k;
  return mask;
#endif
}

// Bit k set when byte k of `bytes` is an ASCII letter or digit. Each range
// is shifted to the bottom of the signed bytes, so that one signed compare
// decides it.
[[gnu::always_inline]] inline unsigned ascii_alnum_mask(Bytes16 bytes) noexcept {
  const auto below = [](Bytes16 shifted, int size) {
    return reinterpret_cast<Bytes16>(reinterpret_cast<Signed16>(shifted) <
                                     static_cast<int8_t>(-128 + size));
  };
  // "| 0x20" folds A-Z onto a-z.
  const Bytes16 letter = below((bytes | 0x20) + static_cast<uint8_t>(128 - 'a'), 26);
  const Bytes16 digit = below(bytes + static_cast<uint8_t>(128 - '0'), 10);
  return lane_mask(letter | digit);
}

// The first `kept` (at most 16) bytes of `bytes`, zero after them.
[[gnu::always_inline]] inline void store_head(Bytes16 bytes, size_t kept,
                                              uint64_t head[2]) noexcept {
  constexpr Signed16 kIndex = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Bytes16 keep = reinterpret_cast<Bytes16>(kIndex < static_cast<int8_t>(kept));
  const Bytes16 kept_bytes = bytes & keep;
  std::memcpy(head, &kept_bytes, 16);
}

}  // namespace corvanta::detail
