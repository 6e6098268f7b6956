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
// Cost. Sentences are split once per call. Hits arrive ordered by start, so
// the sentence cursor only moves forward, and a sentence's scope is computed
// the first time a hit lands in it and reused by the hits after it; sentences
// without hits are never searched. The result is the same as judging every
// hit on its own.
#include "negation.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace corvanta {
namespace {

using namespace std::string_view_literals;

constexpr std::array kNegationTriggers = {
    "no evidence of"sv, "no evidence"sv, "no signs of"sv, "no sign of"sv,
    "without evidence of"sv, "negative for"sv, "denies"sv, "denied"sv,
    "ruled out"sv, "not seen"sv, "absence of"sv, "without"sv,
};

constexpr std::array kNegationTerminators = {
    "but"sv, "however"sv, "nevertheless"sv, "although"sv, "except"sv,
    "is suspected"sv, "was suspected"sv, "is noted"sv, "was noted"sv,
    "is observed"sv, "was observed"sv, "is present"sv, "is seen"sv,
    "was seen"sv,
};

constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();

constexpr bool is_sentence_delimiter(char c) noexcept {
  return c == '\n' || c == '!' || c == '.' || c == ';';
}

// The negated stretch of one sentence: [begin, end). A sentence without a
// trigger has an empty stretch.
struct Scope {
  uint64_t begin = kNoEnd;
  uint64_t end = kNoEnd;

  bool covers(uint64_t pos) const noexcept { return pos >= begin && pos < end; }
};

void split_sentences(std::string_view text, std::vector<Sentence>& out) {
  out.clear();
  uint64_t start = 0;
  for (uint64_t i = 0; i < text.size(); ++i) {
    if (!is_sentence_delimiter(text[i])) continue;
    if (i > start) out.push_back({start, i});
    start = i + 1;
  }
  if (start < text.size()) out.push_back({start, text.size()});
}

Scope scope_of(std::string_view text, Sentence s) noexcept {
  const std::string_view body = text.substr(s.begin, s.end - s.begin);
  Scope scope;
  for (std::string_view trigger : kNegationTriggers) {
    const size_t p = body.find(trigger);
    if (p == std::string_view::npos) continue;
    const uint64_t candidate = s.begin + p + trigger.size();
    if (candidate < scope.begin) scope.begin = candidate;
  }
  if (scope.begin == kNoEnd) return scope;
  for (std::string_view terminator : kNegationTerminators) {
    const size_t q = body.find(terminator);
    if (q == std::string_view::npos) continue;
    const uint64_t position = s.begin + q;
    if (position >= scope.begin && position < scope.end) scope.end = position;
  }
  return scope;
}

}  // namespace

void mark_negated(std::string_view lowered_text, std::span<HitRecord> hits,
                  std::vector<Sentence>& sentences) {
  if (hits.empty()) return;
  split_sentences(lowered_text, sentences);

  size_t cursor = 0;
  size_t scoped = sentences.size();  // index whose scope `scope` holds
  Scope scope;
  uint64_t previous_start = 0;
  for (HitRecord& hit : hits) {
    const uint64_t pos = hit.byte_begin;
    // Ordered input never takes this branch; it keeps an unordered list
    // correct, only slower.
    if (pos < previous_start) cursor = 0;
    previous_start = pos;
    while (cursor < sentences.size() && sentences[cursor].end <= pos) ++cursor;
    if (cursor == sentences.size() || sentences[cursor].begin > pos) continue;
    if (scoped != cursor) {
      scope = scope_of(lowered_text, sentences[cursor]);
      scoped = cursor;
    }
    if (scope.covers(pos)) hit.excluded = true;
  }
}

}  // namespace corvanta
