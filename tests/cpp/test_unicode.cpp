#include <doctest/doctest.h>

#include <string>
#include <string_view>

#include "text/unicode.hpp"

using namespace corvanta::text;

TEST_CASE("lower_case maps whole texts") {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"", ""},
      {"Hello WORLD 123", "hello world 123"},
      {"@AZ[`az{ ABCDEFGHIJKLMNOPQRSTUVWXYZ", "@az[`az{ abcdefghijklmnopqrstuvwxyz"},
      {"\u00C9COLE", "\u00E9cole"},
      // Non-ASCII after the first eight-byte block: the text is redone whole.
      {"ABCDEFGHIJ\u00C9K", "abcdefghij\u00E9k"},
      // One character becomes two, and the text grows by a byte.
      {"\u0130stanbul", "i\u0307stanbul"},
      {"\u0130\u0130\u0130\u0130\u0130\u0130", "i\u0307i\u0307i\u0307i\u0307i\u0307i\u0307"},
      // Final sigma depends on the cased letters around it, ASCII ones too.
      {"\u0391\u03A3", "\u03B1\u03C2"},
      {"\u0391\u03A3\u0391", "\u03B1\u03C3\u03B1"},
      {"A\u03A3", "a\u03C2"},
      {"\u03A3", "\u03C3"},
      {"\u2126 \u212A", "\u03C9 k"},
      {"A\xFF"
       "B",
       "a\xFF"
       "b"},
  };
  std::string out;
  for (const Case& c : cases) {
    CAPTURE(c.in);
    lower_case(c.in, out);
    CHECK(out == c.out);
    CHECK(lower_cased(c.in) == c.out);
  }
}

TEST_CASE("lower_case agrees with a per-byte lower-casing on every ASCII byte") {
  std::string in;
  for (int rep = 0; rep < 3; ++rep)
    for (int c = 0; c < 128; ++c) in.push_back(static_cast<char>(c));
  for (size_t len = 0; len <= in.size(); len += 7) {
    const std::string_view part(in.data(), len);
    std::string expected(part);
    for (char& ch : expected)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    CHECK(lower_cased(part) == expected);
  }
}

TEST_CASE("lower_case reuses the output buffer") {
  std::string out(256, 'x');
  const char* data = out.data();
  lower_case("SHORT TEXT", out);
  CHECK(out == "short text");
  lower_case("\u00C9T\u00C9", out);
  CHECK(out == "\u00E9t\u00E9");
  CHECK(out.data() == data);
}

TEST_CASE("character properties") {
  struct Case {
    char32_t c;
    bool word, space, upper, lower;
  };
  const Case cases[] = {
      {U'a', true, false, false, true},
      {U'Q', true, false, true, false},
      {U'7', true, false, false, false},
      {U'_', false, false, false, false},
      {U'-', false, false, false, false},
      {U'\t', false, true, false, false},
      {0x1C, false, false, false, false},    // a separator, but not White_Space
      {0x85, false, true, false, false},     // NEXT LINE
      {0xA0, false, true, false, false},     // NO-BREAK SPACE
      {0x3000, false, true, false, false},   // IDEOGRAPHIC SPACE
      {0x200B, false, false, false, false},  // ZERO WIDTH SPACE
      {0xAA, true, false, false, true},      // FEMININE ORDINAL INDICATOR
      {0xB2, true, false, false, false},     // SUPERSCRIPT TWO (No)
      {0xBD, true, false, false, false},     // VULGAR FRACTION ONE HALF (No)
      {0xC9, true, false, true, false},
      {0x01C5, true, false, false, false},  // titlecase Dz with caron
      {0x0663, true, false, false, false},  // ARABIC-INDIC DIGIT THREE (Nd)
      {0x2160, true, false, true, false},   // ROMAN NUMERAL ONE (Nl)
      {0x2019, false, false, false, false},
      {0x4E2D, true, false, false, false},
  };
  for (const Case& c : cases) {
    CAPTURE(static_cast<uint32_t>(c.c));
    CHECK(is_word_char(c.c) == c.word);
    CHECK(is_white_space(c.c) == c.space);
    CHECK(is_uppercase(c.c) == c.upper);
    CHECK(is_lowercase(c.c) == c.lower);
  }
}

TEST_CASE("UTF-8 decoding") {
  SUBCASE("well-formed text decodes forwards and backwards") {
    const std::string_view s = "a\u00E9\u20AC\U0001F600z";
    const char32_t expected[] = {U'a', 0xE9, 0x20AC, 0x1F600, U'z'};
    size_t i = 0;
    for (char32_t c : expected) CHECK(next_code_point(s, i) == c);
    CHECK(i == s.size());
    size_t end = s.size();
    for (int k = 4; k >= 0; --k) {
      const char32_t c = previous_code_point(s, end);
      CHECK(c == expected[k]);
      end -= c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    CHECK(end == 0);
  }
  SUBCASE("ill-formed sequences yield U+FFFD one byte at a time") {
    const std::string_view bad[] = {
        "\x80",         "\xC0\xAF",         "\xC1\xBF",         "\xE0\x80\xAF",
        "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82",
        "\xFF"};
    for (std::string_view s : bad) {
      CAPTURE(s);
      size_t i = 0;
      CHECK(next_code_point(s, i) == 0xFFFD);
      CHECK(i == 1);
      CHECK(previous_code_point(s, s.size()) == 0xFFFD);
    }
  }
}

TEST_CASE("trim_white_space") {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\r\n ", ""},
      {"  a b  ", "a b"},
      {"\u00A0x\u3000", "x"},
      {"\u200Bx\u200B", "\u200Bx\u200B"},
      {"\u00E9", "\u00E9"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.in);
    CHECK(trim_white_space(c.in) == c.out);
  }
}
