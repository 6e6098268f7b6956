// Sixteen bytes of text handled at once: the word scan's test for ASCII
// letters and digits, and the zero-padded head of a short key. SSE2 where
// the target has it (every x86-64 processor), a byte loop elsewhere; the
// byte loops are always compiled, and the tests check that both agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvanta::detail {

// Bit k is set when byte k of `bytes` is an ASCII letter or digit.
inline unsigned ascii_alnum_mask_bytewise(const uint8_t* bytes) noexcept {
  unsigned mask = 0;
  for (unsigned k = 0; k < 16; ++k) {
    const uint8_t c = bytes[k];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    mask |= static_cast<unsigned>(alnum) << k;
  }
  return mask;
}

#if defined(__SSE2__)

struct Block16 {
  __m128i v;
};

inline Block16 load_block16(const char* p) noexcept {
  return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
}

// Each range test shifts its range to the bottom of the signed bytes, so one
// signed compare decides it.
inline unsigned ascii_alnum_mask(Block16 block) noexcept {
  const __m128i folded = _mm_or_si128(block.v, _mm_set1_epi8(0x20));  // A-Z onto a-z
  const __m128i letter = _mm_cmpgt_epi8(_mm_set1_epi8(-128 + 26),
                                        _mm_add_epi8(folded, _mm_set1_epi8(128 - 'a')));
  const __m128i digit = _mm_cmpgt_epi8(_mm_set1_epi8(-128 + 10),
                                       _mm_add_epi8(block.v, _mm_set1_epi8(128 - '0')));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
}

// The first `kept` (at most 16) bytes of the block, zero after them.
inline void store_head(Block16 block, size_t kept, uint64_t head[2]) noexcept {
  const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i keep = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(kept)), index);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(head), _mm_and_si128(block.v, keep));
}

#else

struct Block16 {
  uint8_t bytes[16];
};

inline Block16 load_block16(const char* p) noexcept {
  Block16 block;
  std::memcpy(block.bytes, p, 16);
  return block;
}

inline unsigned ascii_alnum_mask(Block16 block) noexcept {
  return ascii_alnum_mask_bytewise(block.bytes);
}

inline void store_head(Block16 block, size_t kept, uint64_t head[2]) noexcept {
  head[0] = 0;
  head[1] = 0;
  std::memcpy(head, block.bytes, kept);
}

#endif

}  // namespace corvanta::detail
