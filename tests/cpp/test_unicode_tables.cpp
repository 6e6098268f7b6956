// The generated Unicode tables against ICU of the same Unicode version, code
// point by code point: lower-casing alone and in the contexts of the final
// sigma, and the four properties. Built with ICU where CMake finds it;
// elsewhere, or when ICU carries another Unicode version, one line on stderr
// says why the comparison is skipped.
#include <doctest/doctest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "text/unicode.hpp"
#include "text/unicode_tables.hpp"

#ifdef CORVANTA_HAVE_ICU
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/uversion.h>

using namespace corvanta::text;

namespace {

// ICU writes Unicode 15.0.0 as "15.0".
std::string_view without_zero_update(std::string_view version) {
  return version.ends_with(".0") && version.find('.') != version.rfind('.')
             ? version.substr(0, version.size() - 2)
             : version;
}

bool icu_has_table_version() {
  static const bool same = [] {
    if (without_zero_update(tables::kUnicodeVersion) == without_zero_update(U_UNICODE_VERSION))
      return true;
    std::fprintf(stderr,
                 "skipping the comparison with ICU: ICU carries Unicode %s, the tables %.*s\n",
                 U_UNICODE_VERSION, static_cast<int>(tables::kUnicodeVersion.size()),
                 tables::kUnicodeVersion.data());
    return false;
  }();
  return same;
}

std::string icu_lower(const UCaseMap* map, std::string_view in) {
  std::string out(in.size() * 3 + 8, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t len = ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()),
                                           in.data(), static_cast<int32_t>(in.size()), &status);
  REQUIRE(U_SUCCESS(status));
  out.resize(static_cast<size_t>(len));
  return out;
}

std::string utf8(char32_t c) {
  UChar32 u = static_cast<UChar32>(c);
  char buf[4];
  int32_t n = 0;
  U8_APPEND_UNSAFE(buf, n, u);
  return std::string(buf, static_cast<size_t>(n));
}

bool icu_word_char(UChar32 c) {
  const int8_t type = u_charType(c);
  return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || type == U_DECIMAL_DIGIT_NUMBER ||
         type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

struct CaseMap {
  UCaseMap* map;
  CaseMap() {
    UErrorCode status = U_ZERO_ERROR;
    map = ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
    REQUIRE(U_SUCCESS(status));
  }
  ~CaseMap() { ucasemap_close(map); }
};

}  // namespace

TEST_CASE("the properties agree with ICU on every code point" *
          doctest::skip(!icu_has_table_version())) {
  size_t differ = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const auto u = static_cast<UChar32>(c);
    const bool same =
        is_word_char(c) == icu_word_char(u) &&
        is_white_space(c) == static_cast<bool>(u_hasBinaryProperty(u, UCHAR_WHITE_SPACE)) &&
        is_uppercase(c) == static_cast<bool>(u_hasBinaryProperty(u, UCHAR_UPPERCASE)) &&
        is_lowercase(c) == static_cast<bool>(u_hasBinaryProperty(u, UCHAR_LOWERCASE));
    if (!same && differ++ < 20)
      FAIL_CHECK("properties of U+" << std::hex << static_cast<uint32_t>(c));
  }
  std::fprintf(stderr, "properties: 1114112 code points compared with ICU %s, %zu differ\n",
               U_ICU_VERSION, differ);
  CHECK(differ == 0);
}

// Each scalar value alone, and beside a capital sigma: before it (is it cased,
// or skipped as case-ignorable?) and after it.
TEST_CASE("lower-casing agrees with ICU on every scalar value" *
          doctest::skip(!icu_has_table_version())) {
  const CaseMap icu;
  const std::string sigma = "\u03A3";
  size_t compared = 0, differ = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (is_surrogate(c)) continue;
    ++compared;
    const std::string x = utf8(c);
    for (const std::string& s :
         {x, x + sigma, "A" + x + sigma, "A" + sigma + x, "A" + sigma + x + "a"}) {
      if (lower_cased(s) != icu_lower(icu.map, s) && differ++ < 20)
        FAIL_CHECK("lower-casing of " << s);
    }
  }
  std::fprintf(stderr, "lower-casing: %zu scalar values compared with ICU %s, %zu texts differ\n",
               compared, U_ICU_VERSION, differ);
  CHECK(differ == 0);
}

// Long texts of every scalar value in turn: the output buffer's sizing, and
// texts whose ASCII prefix ends inside an eight-byte block.
TEST_CASE("lower-casing of long texts agrees with ICU" * doctest::skip(!icu_has_table_version())) {
  const CaseMap icu;
  std::string text = "ABCDEFGHIJK";
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (is_surrogate(c)) continue;
    text += utf8(c);
    if (text.size() < 4000 && c != 0x10FFFF) continue;
    CHECK(lower_cased(text) == icu_lower(icu.map, text));
    text.assign(c % 8, 'Q');
  }
}

// Byte strings over the bytes that start, continue or break UTF-8 sequences,
// capital sigma's among them: ill-formed input is copied and ends the
// final-sigma context as ICU's does.
TEST_CASE("lower-casing of ill-formed UTF-8 agrees with ICU" *
          doctest::skip(!icu_has_table_version())) {
  const CaseMap icu;
  const unsigned char alphabet[] = {'A',  'a',  '\'', 0xCE, 0xA3, 0xC3, 0x89,
                                    0xE2, 0x80, 0xF0, 0x9F, 0xFF, 0xC4, 0xB0};
  uint32_t state = 12345;
  for (int n = 0; n < 200000; ++n) {
    std::string s;
    const size_t len = 1 + n % 9;
    for (size_t k = 0; k < len; ++k) {
      state = state * 1664525u + 1013904223u;
      s.push_back(static_cast<char>(alphabet[(state >> 16) % sizeof alphabet]));
    }
    if (lower_cased(s) != icu_lower(icu.map, s)) FAIL_CHECK("lower-casing of " << s);
  }
}

#else

TEST_CASE("the Unicode tables are compared with ICU where it is installed") {
  std::fprintf(
      stderr,
      "skipping the comparison of the Unicode tables with ICU: built without ICU (libicu-dev)\n");
}

#endif
