#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "recognize/negation.hpp"

namespace corvanta {
namespace {

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Hits on `words`, found left to right in `lowered`, so a repeated word
// names its next occurrence.
std::vector<HitRecord> hits_on(std::string_view lowered,
                               const std::vector<std::string_view>& words) {
  std::vector<HitRecord> hits;
  size_t from = 0;
  for (std::string_view word : words) {
    const size_t at = lowered.find(word, from);
    REQUIRE_MESSAGE(at != std::string_view::npos, word);
    hits.push_back({RowId{0}, at, at + word.size(), false});
    from = at;
  }
  return hits;
}

std::vector<bool> flags_of(const std::vector<HitRecord>& hits) {
  std::vector<bool> flags;
  for (const HitRecord& h : hits) flags.push_back(h.excluded);
  return flags;
}

struct Case {
  std::string_view text;
  std::vector<std::string_view> words;
  std::vector<bool> excluded;
};

TEST_CASE("negation scope") {
  const std::vector<Case> cases = {
      {"No evidence of seizures.", {"seizures"}, {true}},
      {"Patient denies headache but reports seizures", {"headache", "seizures"}, {true, false}},
      {"Seizures, no evidence of ataxia", {"seizures", "ataxia"}, {false, true}},
      {"No fever. Ataxia", {"fever", "ataxia"}, {false, false}},
      {"Ataxia; denies fever", {"ataxia", "fever"}, {false, true}},
      {"but no evidence of ataxia", {"ataxia"}, {true}},
      {"ataxia is seen, no evidence of tremor is seen nor chorea",
       {"ataxia", "tremor", "chorea"},
       {false, true, true}},
      {"Seizures without aura", {"seizures", "aura"}, {false, true}},
      {"No evidence of tremor, attributed to ataxia", {"tremor", "ataxia"}, {true, false}},
      {"Denies fever? Cough", {"fever", "cough"}, {true, true}},
      {"NO EVIDENCE OF TREMOR", {"tremor"}, {true}},
      // The scope starts after "no evidence", the earliest-ending trigger.
      {"no evidence of ataxia", {"evidence", "of"}, {false, true}},
      // Only the start counts.
      {"denies fever but cough", {"fever but cough", "cough"}, {true, false}},
      {"Denies fever!Cough", {"fever", "cough"}, {true, false}},
      {"denies fever\ncough", {"fever", "cough"}, {true, false}},
      {"denies fever\r cough: rash", {"fever", "cough", "rash"}, {true, true, true}},
      // A terminator right at the scope start leaves an empty scope.
      {"deniesbut fever", {"fever"}, {false}},
      {"denies fever. cough. no sign of rash. ataxia",
       {"fever", "cough", "rash", "ataxia"},
       {true, false, true, false}},
      {"..;;denies fever..!", {"fever"}, {true}},
      {"denies fever", {"fever", "fever"}, {true, true}},
      {"ruled out sepsis, however is noted fever", {"sepsis", "fever"}, {true, false}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.text);
    const std::string lowered = ascii_lower(c.text);
    std::vector<HitRecord> hits = hits_on(lowered, c.words);
    mark_negated(lowered, hits);
    CHECK(flags_of(hits) == c.excluded);

    // Judged hit by hit: the order of the list changes nothing.
    std::vector<HitRecord> reversed = hits_on(lowered, c.words);
    std::reverse(reversed.begin(), reversed.end());
    mark_negated(lowered, reversed);
    std::vector<bool> expected_reversed(c.excluded.rbegin(), c.excluded.rend());
    CHECK(flags_of(reversed) == expected_reversed);
  }
}

TEST_CASE("negation boundaries") {
  auto excluded_at = [](std::string_view lowered, uint64_t start, bool already = false) {
    HitRecord hit{RowId{0}, start, start + 1, already};
    mark_negated(lowered, {&hit, 1});
    return hit.excluded;
  };
  SUBCASE("scope start is inclusive") {
    // "denies" ends at 6.
    CHECK(excluded_at("denies fever", 6));
    CHECK_FALSE(excluded_at("denies fever", 5));
  }
  SUBCASE("scope end is exclusive") {
    // "but" starts at 13.
    CHECK(excluded_at("denies fever but cough", 12));
    CHECK_FALSE(excluded_at("denies fever but cough", 13));
  }
  SUBCASE("a hit on a delimiter or past the text is left alone") {
    CHECK_FALSE(excluded_at("denies fever. cough", 12));
    CHECK(excluded_at("denies fever. cough", 12, true));
    CHECK_FALSE(excluded_at("denies fever", 12));
    CHECK_FALSE(excluded_at("", 0));
  }
  SUBCASE("a flag already set stays set") {
    CHECK(excluded_at("fever", 0, true));
    CHECK(excluded_at("denies fever but cough", 17, true));
  }
}

// Lower-casing U+0130 yields "i" + U+0307: three bytes for two. Sentences are
// cut in the lower-cased text, where the hits live, so the "." still ends the
// first sentence right after "cough".
TEST_CASE("negation in a text that lower-casing lengthened") {
  std::string lowered;
  for (int i = 0; i < 14; ++i) lowered += "i\u0307";
  lowered += " cough. denies fever";
  std::vector<HitRecord> hits = hits_on(lowered, {"cough", "fever"});
  CHECK(hits[0].byte_begin == 43);
  mark_negated(lowered, hits);
  CHECK(flags_of(hits) == std::vector<bool>{false, true});
}

// The rule as first written: one std::string_view::find per phrase in each
// sentence, every hit judged on its own. The matcher must agree with it.
constexpr std::array<std::string_view, 12> kTriggers = {
    "no evidence of",      "no evidence",  "no signs of", "no sign of",
    "without evidence of", "negative for", "denies",      "denied",
    "ruled out",           "not seen",     "absence of",  "without",
};
constexpr std::array<std::string_view, 14> kTerminators = {
    "but",          "however",       "nevertheless", "although",  "except",
    "is suspected", "was suspected", "is noted",     "was noted", "is observed",
    "was observed", "is present",    "is seen",      "was seen",
};

bool is_delimiter(char c) { return c == '\n' || c == '!' || c == '.' || c == ';'; }

bool reference_excluded(std::string_view text, uint64_t pos) {
  if (pos >= text.size() || is_delimiter(text[pos])) return false;
  uint64_t begin = pos;
  while (begin > 0 && !is_delimiter(text[begin - 1])) --begin;
  uint64_t end = pos;
  while (end < text.size() && !is_delimiter(text[end])) ++end;
  const std::string_view body = text.substr(begin, end - begin);
  uint64_t scope_begin = UINT64_MAX;
  for (std::string_view t : kTriggers) {
    const size_t p = body.find(t);
    if (p != std::string_view::npos)
      scope_begin = std::min<uint64_t>(scope_begin, begin + p + t.size());
  }
  uint64_t scope_end = UINT64_MAX;
  for (std::string_view t : kTerminators) {
    const size_t q = body.find(t);
    if (q != std::string_view::npos && begin + q >= scope_begin)
      scope_end = std::min<uint64_t>(scope_end, begin + q);
  }
  return pos >= scope_begin && pos < scope_end;
}

// Texts built from the phrases, their near misses and overlaps, sentence
// delimiters, non-ASCII and zero bytes, and filler: scopes start, end and
// fail to end in every way the rule allows, across sixteen-byte blocks.
std::string random_text(std::mt19937& rng) {
  static const std::vector<std::string_view> extra = {
      "no evidenc",
      "withou",
      "denie",
      "ruled ou",
      "is see",
      "was",
      "is",
      "no",
      "nono evidence",
      "butt",
      "attributed",
      "is seenis seen",
      "without evidence ofno",
      "deniesdenied",
      "however,",
      "\n",
      "!",
      ".",
      ";",
      " ",
      "  ",
      "\xc3\xa9",
      "\xe2\x80\x99",
      "\xff",
      std::string_view("\0", 1),
      "fever",
      "a",
      "n",
      "w",
      "b",
      "i",
      "seen",
      "of",
      "sign",
  };
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  std::string text;
  for (size_t pieces = pick(40); pieces > 0; --pieces) {
    const size_t which = pick(3);
    if (which == 0)
      text += kTriggers[pick(kTriggers.size())];
    else if (which == 1)
      text += kTerminators[pick(kTerminators.size())];
    else
      text += extra[pick(extra.size())];
    if (pick(2) == 0) text += ' ';
  }
  return text;
}

TEST_CASE("negation agrees with one search per phrase on random texts") {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = random_text(rng);
    std::vector<HitRecord> hits;
    for (size_t n = rng() % 8; n > 0; --n) {
      const uint64_t at = rng() % (text.size() + 1);
      hits.push_back({RowId{0}, at, at + 1, rng() % 8 == 0});
    }
    if (rng() % 4 != 0) {
      std::sort(hits.begin(), hits.end(),
                [](const HitRecord& a, const HitRecord& b) { return a.byte_begin < b.byte_begin; });
    }
    std::vector<bool> expected;
    for (const HitRecord& h : hits)
      expected.push_back(h.excluded || reference_excluded(text, h.byte_begin));
    mark_negated(text, hits);
    INFO("round " << round << ": " << text);
    REQUIRE(flags_of(hits) == expected);
  }
}

}  // namespace
}  // namespace corvanta
