// The recognition driver and its exact stage.
#include "recognize/recognition.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "base/debug_check.hpp"
#include "recognize/clustering.hpp"
#include "recognize/hit_selection.hpp"
#include "recognize/negation.hpp"
#include "text/unicode.hpp"

namespace corvanta {

namespace {

bool is_word_char_before(std::string_view text, size_t at) {
  if (at == 0) return false;
  const auto byte = static_cast<unsigned char>(text[at - 1]);
  if (byte < 128) return text::is_word_char(byte);
  return text::is_word_char(text::previous_code_point(text, at));
}

bool is_word_char_at(std::string_view text, size_t at) {
  if (at >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 128) return text::is_word_char(byte);
  return text::is_word_char(text::next_code_point(text, at));
}

// Whole labels on word boundaries. A match rejected for its boundaries still
// consumes its stretch: the search resumes at its end.
void find_exact_hits(const AhoCorasick& automaton, std::string_view lowered, AcScratch& scratch,
                     HitList& out) {
  automaton.find_all(lowered, scratch);
  for (const AcMatch& match : scratch.matches) {
    if (is_word_char_before(lowered, match.byte_begin) || is_word_char_at(lowered, match.byte_end))
      continue;
    out.push_back(
        HitRecord{row_of_pattern(match.pattern), match.byte_begin, match.byte_end, false});
  }
}

// Whether the candidate overlaps one of the exact hits, which are sorted and
// pairwise disjoint.
bool overlaps_exact(const Candidate& c, const HitList& exact, size_t exact_count) {
  auto first = exact.begin();
  auto last = exact.begin() + static_cast<ptrdiff_t>(exact_count);
  // The first exact hit that ends after the candidate starts.
  auto it = std::partition_point(first, last,
                                 [&](const HitRecord& e) { return e.byte_end <= c.byte_begin; });
  return it != last && it->byte_begin < c.byte_end;
}

// What the exact stage promises (checked in debug-check builds): its hits
// are ordered and pairwise disjoint, which overlaps_exact relies on.
void debug_check_exact_hits(const HitList& exact) {
  if constexpr (!detail::kDebugChecks) return;
  for (size_t i = 1; i < exact.size(); ++i)
    CORVANTA_DCHECK(exact[i - 1].byte_end <= exact[i].byte_begin);
}

// What recognition promises of its hits (checked in debug-check builds):
// every span is non-empty and inside the lowered text, and the list is
// ordered by start.
void debug_check_hits(const HitList& hits, size_t text_size) {
  if constexpr (!detail::kDebugChecks) return;
  for (size_t i = 0; i < hits.size(); ++i) {
    CORVANTA_DCHECK(hits[i].byte_begin < hits[i].byte_end && hits[i].byte_end <= text_size);
    if (i > 0) CORVANTA_DCHECK(hits[i - 1].byte_begin <= hits[i].byte_begin);
  }
}

}  // namespace

std::span<const HitRecord> recognize(const MatcherState& state, std::string_view text,
                                     RecognitionOptions options, RecognitionScratch& scratch) {
  HitList& out = scratch.hits;
  out.clear();
  text::lower_case(text, scratch.lowered);
  const std::string_view lowered = scratch.lowered;

  find_exact_hits(state.automaton(), lowered, scratch.exact, out);
  debug_check_exact_hits(out);
  const size_t exact_count = out.size();

  find_candidates(state.index(), lowered, scratch.clustering, scratch.candidates);
  if (options.longest_only) keep_longest(scratch.candidates, scratch.kept);
  for (const Candidate& c : scratch.candidates)
    if (!overlaps_exact(c, out, exact_count))
      out.push_back(HitRecord{c.row, c.byte_begin, c.byte_end, false});

  order_by_start(out, exact_count, scratch.merge);
  debug_check_hits(out, lowered.size());
  mark_negated(lowered, out);
  return out;
}

}  // namespace corvanta
