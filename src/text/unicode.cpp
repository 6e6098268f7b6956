// Unicode helpers.
//
// Recognition lower-cases every text and tests nearly every character of it,
// and clinical text is overwhelmingly ASCII, so each function answers ASCII
// input from its own tables and only hands other characters to ICU:
//
// - lower_case scans the text eight bytes at a time; a text without a byte
//   >= 0x80 is lower-cased in the same pass with SWAR arithmetic. Any other
//   text goes to ICU as a whole: the final-sigma rule looks at the cased
//   letters around a sigma, ASCII ones included, so a text cannot be split
//   into an ASCII part and an ICU part.
// - The property predicates read a 128-entry flag table for ASCII.
//
// The ICU case map is created once and shared read-only by every thread;
// ucasemap_utf8ToLower takes it as const.
#include "text/unicode.hpp"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>

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

// Lower-cases ASCII `in` into `out` (already sized); returns false, with
// `out` partly written, as soon as a non-ASCII byte shows up.
bool lower_ascii(std::string_view in, char* out) noexcept {
  const char* p = in.data();
  const size_t n = in.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t v = load8(p + i);
    if (v & kHighBits) return false;
    const uint64_t l = lower8(v);
    std::memcpy(out + i, &l, 8);
  }
  for (; i < n; ++i) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    out[i] = lower1(p[i]);
  }
  return true;
}

struct CaseMapDeleter {
  void operator()(UCaseMap* m) const noexcept { ucasemap_close(m); }
};

// nullptr only when ICU could not allocate the map.
const UCaseMap* root_case_map() noexcept {
  static const std::unique_ptr<UCaseMap, CaseMapDeleter> map = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* m = ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) {
      ucasemap_close(m);
      m = nullptr;
    }
    return std::unique_ptr<UCaseMap, CaseMapDeleter>(m);
  }();
  return map.get();
}

// One lower-cased character never takes more than 3/2 of its bytes, so the
// first guess almost always fits; ICU reports the exact size otherwise.
void lower_with_icu(std::string_view in, std::string& out) {
  const UCaseMap* map = root_case_map();
  if (map == nullptr) throw std::bad_alloc();
  out.resize(in.size() + in.size() / 2 + 8);
  for (;;) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()),
                                             in.data(), static_cast<int32_t>(in.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<size_t>(len));
      continue;
    }
    if (U_FAILURE(status)) throw std::bad_alloc();
    out.resize(static_cast<size_t>(len));
    return;
  }
}

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

}  // namespace

void lower_case(std::string_view in, std::string& out) {
  out.resize(in.size());
  if (lower_ascii(in, out.data())) return;
  lower_with_icu(in, out);
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
  if (u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC)) return true;
  const int8_t type = u_charType(static_cast<UChar32>(c));
  return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

bool is_white_space(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kSpace;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool is_uppercase(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kUpper;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE);
}

bool is_lowercase(char32_t c) noexcept {
  if (c < 0x80) return kAsciiFlags[c] & kLower;
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_LOWERCASE);
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
