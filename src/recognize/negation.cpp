// Negation scope.
//
// A sentence is a maximal non-empty run of bytes free of the four delimiters
// (LF, '!', '.', ';'). Inside a sentence the negated stretch starts where the
// earliest-ending trigger ends and stops at the earliest terminator that does
// not lie before that point. The rule has deliberate quirks that callers and
// their expected outputs rely on, so they are kept exactly:
//   - phrases are found by plain substring search, with no word boundaries
//     ("attributed" contains "but");
//   - only the FIRST occurrence of each phrase is looked at: a terminator
//     whose first occurrence lies before the scope start is ignored even when
//     it occurs again later;
//   - only a hit's start is tested; where it ends does not matter.
//
// One coordinate system. Hit spans are offsets into the lower-cased text, so
// sentences are split and phrases searched in that same text. Deriving the
// sentence bounds from the caller's text instead would mix two coordinate
// systems as soon as lower-casing changes a character's byte length (U+0130
// becomes three bytes), shifting every scope after it. For texts whose
// lower-casing keeps byte lengths both views agree.
//
// The phrases are lower-case ASCII and lower-casing is idempotent on ASCII
// bytes, so searching a slice of the already lower-cased text finds exactly
// what lower-casing the sentence once more would find: no second case
// mapping is needed.
//
// Cost. Hits arrive ordered by start, so the sentence cursor only moves
// forward: sentences are cut lazily, sixteen bytes at a time, and only up to
// the last hit. A sentence's scope is computed the first time a hit lands in
// it and reused by the hits after it; sentences without hits are never
// searched. The result is the same as judging every hit on its own.
// Triggers and terminators are each found in one pass over the sentence
// (phrase_set.hpp), not one search per phrase. The trigger pass stops once
// no later start can end before the best end found; the terminator pass runs
// only when there is a trigger, and stops at the first terminator occurring
// for the first time at or after the scope start.
//
// Measured with benchmarks/bench_recognition on the 2,888 abstracts, one
// round (three passes over them), in callgrind instruction counts. One
// std::string_view::find per phrase and sentence, every sentence cut up
// front: 288 M instructions in negation (150 M of its own, 139 M in the
// memchr and memcmp it called), 13% of recognition. One two-byte prefiltered
// pass per phrase set: 156 M, of which the up-front cut at one byte per step
// now made most. Lazy, vectorised cut: 85 M. The prefilter's comparisons as
// constant vectors (the number of distinct two-byte beginnings a template
// argument; read from the phrase table in the loop, the compiler rebroadcast
// them on every block): 44 M, 4% of recognition, of which 15 M cut sentences.
#include "recognize/negation.hpp"

#include "base/phrase_set.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <string_view>

namespace corvanta {
namespace {

using namespace std::string_view_literals;

constexpr std::array kNegationTriggers = {
    "no evidence of"sv,      "no evidence"sv,  "no signs of"sv, "no sign of"sv,
    "without evidence of"sv, "negative for"sv, "denies"sv,      "denied"sv,
    "ruled out"sv,           "not seen"sv,     "absence of"sv,  "without"sv,
};

constexpr std::array kNegationTerminators = {
    "but"sv,          "however"sv,       "nevertheless"sv, "although"sv,  "except"sv,
    "is suspected"sv, "was suspected"sv, "is noted"sv,     "was noted"sv, "is observed"sv,
    "was observed"sv, "is present"sv,    "is seen"sv,      "was seen"sv,
};

// A trigger that extends another one ("without evidence of" extends
// "without") ends after it wherever it starts, so it never sets the scope
// start: only the others are searched.
constexpr bool extends_another_trigger(std::string_view t) {
  return std::ranges::any_of(kNegationTriggers, [t](std::string_view shorter) {
    return shorter.size() < t.size() && t.starts_with(shorter);
  });
}

constexpr auto kSearchedTriggers = [] {
  constexpr size_t kCount = std::ranges::count_if(
      kNegationTriggers, [](std::string_view t) { return !extends_another_trigger(t); });
  std::array<std::string_view, kCount> searched{};
  std::ranges::copy_if(kNegationTriggers, searched.begin(),
                       [](std::string_view t) { return !extends_another_trigger(t); });
  return searched;
}();

constexpr detail::PhraseSet<kSearchedTriggers.size(), detail::distinct_heads(kSearchedTriggers)>
    kTriggers{kSearchedTriggers};
constexpr detail::PhraseSet<kNegationTerminators.size(),
                            detail::distinct_heads(kNegationTerminators)>
    kTerminators{kNegationTerminators};
constexpr uint32_t kAllTerminators = (uint32_t{1} << kNegationTerminators.size()) - 1;
constexpr uint64_t kShortestTrigger =
    std::ranges::min(kSearchedTriggers, {}, &std::string_view::size).size();

constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();

constexpr std::array kSentenceDelimiters = {'\n', '!', '.', ';'};

constexpr bool holds_delimiter(std::string_view phrase) {
  return phrase.find_first_of({kSentenceDelimiters.data(), kSentenceDelimiters.size()}) !=
         std::string_view::npos;
}

// No phrase holds a delimiter, so a phrase that starts inside a sentence
// ends inside it: phrases are searched in the whole text, not in a slice.
static_assert(std::ranges::none_of(kNegationTriggers, holds_delimiter));
static_assert(std::ranges::none_of(kNegationTerminators, holds_delimiter));

// Each delimiter in all sixteen bytes. Broadcasting in the loop instead costs
// the scan two thirds more (25 M instead of 15 M instructions on the
// abstracts benchmark): the compiler repeats the broadcast on every block.
constexpr auto kDelimiterVectors = [] {
  std::array<detail::Bytes16, kSentenceDelimiters.size()> vectors{};
  for (size_t i = 0; i < vectors.size(); ++i) {
    vectors[i] = detail::Bytes16{} + static_cast<uint8_t>(kSentenceDelimiters[i]);
  }
  return vectors;
}();

// A run of bytes free of delimiters, [begin, end) in the lower-cased text;
// possibly empty.
struct Sentence {
  uint64_t begin;
  uint64_t end;
};

// The negated stretch of one sentence: [begin, end). A sentence without a
// trigger has an empty stretch.
struct Scope {
  uint64_t begin = kNoEnd;
  uint64_t end = kNoEnd;

  bool covers(uint64_t pos) const noexcept { return pos >= begin && pos < end; }
};

// The first delimiter at or after `from`, or the size of the text.
uint64_t next_delimiter(std::string_view text, uint64_t from) noexcept {
  for (uint64_t block = from; block < text.size(); block += 16) {
    const detail::Bytes16 v = detail::bytes16_at(text, block);
    detail::Bytes16 delimiters{};
    for (const detail::Bytes16& d : kDelimiterVectors) {
      delimiters |= reinterpret_cast<detail::Bytes16>(v == d);
    }
    const auto [lo, hi] = detail::words_of(delimiters);
    if (lo != 0) return block + (std::countr_zero(lo) >> 3);
    if (hi != 0) return block + 8 + (std::countr_zero(hi) >> 3);
  }
  return text.size();
}

// The sentence that starts at `begin`.
Sentence sentence_from(std::string_view text, uint64_t begin) noexcept {
  return {begin, next_delimiter(text, begin)};
}

// The end of the earliest-ending trigger in sentence `s`, or kNoEnd. Scanning
// left to right, it stops once no later start can end earlier.
uint64_t scope_begin(std::string_view text, Sentence s) noexcept {
  uint64_t begin = kNoEnd;
  kTriggers.scan(text, s.begin, s.end, [&](uint64_t pos, uint32_t found) {
    for (; found != 0; found &= found - 1) {
      begin = std::min(begin, pos + kTriggers.length(std::countr_zero(found)));
    }
    return pos + 1 + kShortestTrigger < begin;
  });
  return begin;
}

// The first position at or after `begin` where a terminator occurs for the
// first time in sentence `s`, or kNoEnd.
uint64_t scope_end(std::string_view text, Sentence s, uint64_t begin) noexcept {
  uint32_t first_before = 0;  // terminators whose first occurrence lies before `begin`
  uint64_t end = kNoEnd;
  kTerminators.scan(text, s.begin, s.end, [&](uint64_t pos, uint32_t found) {
    if (pos < begin) {
      first_before |= found;
      return first_before != kAllTerminators;
    }
    if ((found & ~first_before) == 0) return true;
    end = pos;
    return false;
  });
  return end;
}

Scope scope_of(std::string_view text, Sentence s) noexcept {
  Scope scope;
  scope.begin = scope_begin(text, s);
  if (scope.begin != kNoEnd) scope.end = scope_end(text, s, scope.begin);
  return scope;
}

}  // namespace

void mark_negated(std::string_view text, std::span<HitRecord> hits) {
  if (hits.empty()) return;
  Sentence sentence = sentence_from(text, 0);
  uint64_t scoped = kNoEnd;  // start of the sentence whose scope `scope` holds
  Scope scope;
  uint64_t previous_start = 0;
  for (HitRecord& hit : hits) {
    const uint64_t pos = hit.byte_begin;
    // Ordered input never takes this branch; it keeps an unordered list
    // correct, only slower.
    if (pos < previous_start) sentence = sentence_from(text, 0);
    previous_start = pos;
    while (sentence.end <= pos && sentence.end < text.size()) {
      sentence = sentence_from(text, sentence.end + 1);
    }
    if (pos < sentence.begin || pos >= sentence.end) continue;
    if (scoped != sentence.begin) {
      scope = scope_of(text, sentence);
      scoped = sentence.begin;
    }
    if (scope.covers(pos)) hit.excluded = true;
  }
}

}  // namespace corvanta
