// The label rules on arbitrary UTF-8: strip_parentheses in both modes,
// normalize_punctuation and tokenize_label, each checked against what it
// promises for every input.
#include <simdjson.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon/labels.hpp"
#include "recognition_checks.hpp"
#include "text/stemmer.hpp"
#include "text/unicode.hpp"

namespace {

using corvanta::fuzz::is_char_boundary;

bool is_valid_utf8(std::string_view s) { return simdjson::validate_utf8(s.data(), s.size()); }

// The loop stops only when no ")" follows the first "(".
bool has_no_pair_left(std::string_view s) {
  const size_t open = s.find('(');
  return open == std::string_view::npos || s.find(')', open + 1) == std::string_view::npos;
}

void check_strip_parentheses(std::string_view text) {
  const std::optional<std::string> lenient = corvanta::strip_parentheses(text, false);
  CORVANTA_FUZZ_CHECK(lenient.has_value());
  CORVANTA_FUZZ_CHECK(lenient->size() <= text.size());
  CORVANTA_FUZZ_CHECK(has_no_pair_left(*lenient));
  CORVANTA_FUZZ_CHECK(is_valid_utf8(*lenient));
  // Strict mode takes the same steps until it rejects.
  const std::optional<std::string> strict = corvanta::strip_parentheses(text, true);
  if (strict) CORVANTA_FUZZ_CHECK(*strict == *lenient);
  if (text.find('(') == std::string_view::npos) CORVANTA_FUZZ_CHECK(strict && *strict == text);
}

void check_normalize_punctuation(std::string_view text) {
  const std::string out = corvanta::normalize_punctuation(text);
  CORVANTA_FUZZ_CHECK(out.size() <= text.size());
  CORVANTA_FUZZ_CHECK(is_valid_utf8(out));
  CORVANTA_FUZZ_CHECK(out.find_first_of("\"%(),.<>[]{}'+-/:;_") == std::string::npos);
  CORVANTA_FUZZ_CHECK(out.find("\u2019") == std::string::npos);
  CORVANTA_FUZZ_CHECK(corvanta::normalize_punctuation(out) == out);
  std::string reused = "left over from an earlier call";
  corvanta::normalize_punctuation_into(text, reused);
  CORVANTA_FUZZ_CHECK(reused == out);
}

void check_tokenize_label(std::string_view text) {
  // One stemmer for the whole run, as in construction: the words it stemmed
  // before must never change a result.
  static corvanta::text::Stemmer stemmer;
  const std::vector<std::string> stems = corvanta::tokenize_label(text, stemmer);
  corvanta::LabelScratch scratch;
  size_t i = 0;
  corvanta::for_each_label_token(text, scratch, [&](std::string_view token) {
    CORVANTA_FUZZ_CHECK(!token.empty() && !corvanta::is_label_stop_word(token));
    for (size_t at = 0; at < token.size();)
      CORVANTA_FUZZ_CHECK(
          !corvanta::text::is_white_space(corvanta::text::next_code_point(token, at)));
    CORVANTA_FUZZ_CHECK(i < stems.size() && stems[i] == stemmer.stem(token));
    ++i;
  });
  CORVANTA_FUZZ_CHECK(i == stems.size());
  // At most one token per White_Space-separated run of the normalized text.
  const std::string normalized = corvanta::normalize_punctuation(corvanta::text::lower_cased(text));
  size_t runs = 0;
  bool in_run = false;
  for (size_t at = 0; at < normalized.size();) {
    CORVANTA_FUZZ_CHECK(is_char_boundary(normalized, at));
    const bool space =
        corvanta::text::is_white_space(corvanta::text::next_code_point(normalized, at));
    runs += !space && !in_run;
    in_run = !space;
  }
  CORVANTA_FUZZ_CHECK(stems.size() <= runs);
  for (const std::string& stem : stems) CORVANTA_FUZZ_CHECK(is_valid_utf8(stem));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!is_valid_utf8(text)) return -1;
  check_strip_parentheses(text);
  check_normalize_punctuation(text);
  check_tokenize_label(text);
  return 0;
}
