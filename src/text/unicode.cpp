// Unicode helpers.
//
// Recognition lower-cases every text and tests nearly every character of it,
// and clinical text is overwhelmingly ASCII, so each function answers ASCII
// input from its own tables and only looks other characters up in the tables
// generated from the Unicode Character Database (text/unicode_tables.hpp):
//
// - lower_case scans the text eight bytes at a time; a text without a byte
//   >= 0x80 is lower-cased in the same pass with SWAR arithmetic. Any other
//   text is lower-cased from the first block that holds such a byte, one code
//   point at a time: the final-sigma rule looks at the cased letters around a
//   sigma, ASCII ones included, in the input.
// - The property predicates read a 128-entry flag table for ASCII.
#include "text/unicode.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "text/unicode_tables.hpp"

namespace corvanta::text {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr char32_t kReplacement = 0xFFFD;

enum AsciiFlag : uint8_t {
  kWord = 1,
  kSpace = 2,
  kUpper = 4,
  kLower = 8,
};

constexpr std::array<uint8_t, 128> make_ascii_flags() {
  std::array<uint8_t, 128> flags{};
  for (int c = 0; c < 128; ++c) {
    uint8_t f = 0;
    if (c >= 'A' && c <= 'Z') f |= kWord | kUpper;
    if (c >= 'a' && c <= 'z') f |= kWord | kLower;
    if (c >= '0' && c <= '9') f |= kWord;
    if ((c >= 0x09 && c <= 0x0D) || c == ' ') f |= kSpace;
    flags[c] = f;
  }
  return flags;
}

constexpr std::array<uint8_t, 128> kAsciiFlags = make_ascii_flags();

uint64_t load8(const char* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Lower-cases eight ASCII bytes at once: a byte gets 0x20 added when it lies
// in 'A'..'Z'. With every byte below 0x80 the additions cannot carry into the
// next byte.
uint64_t lower8(uint64_t v) noexcept {
  const uint64_t ge_a = v + kOnes * (0x80 - 'A');
  const uint64_t gt_z = v + kOnes * (0x80 - 'Z' - 1);
  const uint64_t upper = ge_a & ~gt_z & kHighBits;
  return v | (upper >> 2);
}

char lower1(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Lower-cases the ASCII prefix of `in` into `out` (already sized), eight bytes
// at a time; returns its length, `in.size()` for an all-ASCII text, else the
// start of the first eight-byte block that holds a non-ASCII byte.
size_t lower_ascii(std::string_view in, char* out) noexcept {
  const char* p = in.data();
  const size_t n = in.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t v = load8(p + i);
    if (v & kHighBits) return i;
    const uint64_t l = lower8(v);
    std::memcpy(out + i, &l, 8);
  }
  for (size_t k = i; k < n; ++k) {
    if (static_cast<unsigned char>(p[k]) >= 0x80) return i;
    out[k] = lower1(p[k]);
  }
  return n;
}

const tables::Record& record_of(char32_t c) noexcept {
  static constexpr tables::Record kUnassigned{0, 0};
  if (c > 0x10FFFF) return kUnassigned;
  const size_t block = tables::kBlock[c >> tables::kBlockShift];
  return tables::kRecords[tables::kRecordIndex[(block << tables::kBlockShift) |
                                               (c & tables::kBlockMask)]];
}

bool has(char32_t c, uint8_t flag) noexcept { return record_of(c).flags & flag; }

// Whether the first character in one direction from a sigma that is not
// case-ignorable is cased; an ill-formed sequence ends the search like the
// text's end.
bool cased_before(std::string_view s, size_t end) noexcept {
  while (end > 0) {
    const char32_t c = previous_code_point(s, end);
    const uint8_t flags = record_of(c).flags;
    if (!(flags & tables::kCaseIgnorable)) return flags & tables::kCased;
    end -= c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  return false;
}

bool cased_after(std::string_view s, size_t begin) noexcept {
  while (begin < s.size()) {
    const uint8_t flags = record_of(next_code_point(s, begin)).flags;
    if (!(flags & tables::kCaseIgnorable)) return flags & tables::kCased;
  }
  return false;
}

// Capital sigma lower-cases to the final form at the end of a word: after a
// cased letter and not before one, case-ignorable characters (apostrophes,
// combining marks) skipped on both sides.
char32_t lower_sigma(std::string_view s, size_t begin, size_t end) noexcept {
  return cased_before(s, begin) && !cased_after(s, end) ? 0x3C2 : 0x3C3;
}

char* put_utf8(char32_t c, char* out) noexcept {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Lower-cases `in` from byte `from` on into `out`, whose first `from` bytes
// are done. No character's lower-casing takes more than 3/2 of its bytes (the
// generator checks), so `out` is sized once and trimmed at the end.
void lower_from(std::string_view in, size_t from, std::string& out) {
  out.resize(in.size() + in.size() / 2);
  char* o = out.data() + from;
  size_t i = from;
  while (i < in.size()) {
    const auto b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      *o++ = lower1(static_cast<char>(b));
      ++i;
      continue;
    }
    const size_t begin = i;
    const char32_t c = next_code_point(in, i);
    if (i == begin + 1) {  // ill-formed: the byte is kept
      *o++ = static_cast<char>(b);
      continue;
    }
    const tables::Record& r = record_of(c);
    if (r.flags & tables::kExpands) {
      const std::string_view e = tables::kExpansions[r.lower];
      o = std::copy(e.begin(), e.end(), o);
    } else if (c == 0x3A3) {
      o = put_utf8(lower_sigma(in, begin, i), o);
    } else {
      o = put_utf8(static_cast<char32_t>(static_cast<int32_t>(c) + r.lower), o);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

}  // namespace

void lower_case(std::string_view in, std::string& out) {
  out.resize(in.size());
  const size_t ascii = lower_ascii(in, out.data());
  if (ascii < in.size()) lower_from(in, ascii, out);
}

std::string lower_cased(std::string_view in) {
  std::string out;
  lower_case(in, out);
  return out;
}

char32_t next_code_point(std::string_view s, size_t& i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  const unsigned char b0 = p[i];
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  size_t len;
  char32_t c;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (n - i < len) {
    ++i;
    return kReplacement;
  }
  for (size_t k = 1; k < len; ++k) {
    if (!is_continuation(p[i + k])) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (p[i + k] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return c;
}

char32_t previous_code_point(std::string_view s, size_t end) noexcept {
  if (end == 0) return kReplacement;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  if (p[end - 1] < 0x80) return p[end - 1];
  size_t start = end - 1;
  while (start > 0 && end - start < 4 && is_continuation(p[start])) --start;
  size_t i = start;
  const char32_t c = next_code_point(s.substr(0, end), i);
  return i == end ? c : kReplacement;
}

bool is_word_char(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kWord;
  return has(c, tables::kWord);
}

bool is_white_space(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kSpace;
  return has(c, tables::kSpace);
}

bool is_uppercase(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kUpper;
  return has(c, tables::kUpper);
}

bool is_lowercase(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kLower;
  return has(c, tables::kLower);
}

std::string_view trim_white_space(std::string_view s) noexcept {
  size_t begin = 0;
  while (begin < s.size()) {
    size_t next = begin;
    if (!is_white_space(next_code_point(s, next))) break;
    begin = next;
  }
  size_t end = s.size();
  while (end > begin) {
    const char32_t c = previous_code_point(s, end);
    if (!is_white_space(c)) break;
    end -= c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  return s.substr(begin, end - begin);
}

}  // namespace corvanta::text
