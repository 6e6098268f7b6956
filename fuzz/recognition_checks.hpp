// What recognition promises for every text, checked on one text at a time by
// the fuzz targets. A broken promise aborts with the failed condition, which
// libFuzzer reports as a crash together with the input.
//
// The exact hits are recomputed here from the automaton and the word-boundary
// rule alone, so the checks see which hits came from the exact stage without
// reaching into recognition's internals.
#pragma once

#include <simdjson.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "recognize/hits_json.hpp"
#include "recognize/recognition.hpp"
#include "text/unicode.hpp"

#define CORVANTA_FUZZ_CHECK(condition)                                                   \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace corvanta::fuzz {

inline bool is_char_boundary(std::string_view s, uint64_t at) {
  return at == s.size() || (static_cast<unsigned char>(s[at]) & 0xC0) != 0x80;
}

inline bool word_char_ends_at(std::string_view s, size_t at) {
  return at != 0 && text::is_word_char(text::previous_code_point(s, at));
}

inline bool word_char_starts_at(std::string_view s, size_t at) {
  size_t i = at;
  return at < s.size() && text::is_word_char(text::next_code_point(s, i));
}

// The exact stage, rebuilt from its definition: non-overlapping
// leftmost-longest matches, kept only on word boundaries.
inline HitList exact_hits(const MatcherState& state, std::string_view lowered) {
  HitList exact;
  AcMatch m;
  for (size_t from = 0; state.automaton().find(lowered, from, m); from = m.byte_end) {
    CORVANTA_FUZZ_CHECK(m.byte_begin >= from && m.byte_begin < m.byte_end);
    if (!word_char_ends_at(lowered, m.byte_begin) && !word_char_starts_at(lowered, m.byte_end))
      exact.push_back(HitRecord{row_of_pattern(m.pattern), m.byte_begin, m.byte_end, false});
  }
  return exact;
}

inline bool same_place(const HitRecord& a, const HitRecord& b) {
  return a.row == b.row && a.byte_begin == b.byte_begin && a.byte_end == b.byte_end;
}

inline bool same_hit(const HitRecord& a, const HitRecord& b) {
  return same_place(a, b) && a.excluded == b.excluded;
}

inline bool is_subsequence(const HitList& part, const HitList& whole) {
  size_t at = 0;
  for (const HitRecord& h : part) {
    while (at < whole.size() && !same_hit(whole[at], h)) ++at;
    if (at == whole.size()) return false;
    ++at;
  }
  return true;
}

// The JSON text parses back to exactly `hits`, member by member.
inline void check_json(const MatcherState& state, const HitList& hits) {
  std::string json;
  render_hits_json(hits, state.labels(), json);
  simdjson::dom::parser parser;
  simdjson::dom::array array;
  CORVANTA_FUZZ_CHECK(parser.parse(json).get(array) == simdjson::SUCCESS);
  CORVANTA_FUZZ_CHECK(array.size() == hits.size());
  size_t i = 0;
  for (simdjson::dom::element element : array) {
    const HitRecord& hit = hits[i++];
    const LabelEntry row = state.labels()[hit.row];
    simdjson::dom::object object;
    CORVANTA_FUZZ_CHECK(element.get(object) == simdjson::SUCCESS);
    const char* const keys[] = {"excluded", "label", "span", "termId"};
    size_t k = 0;
    for (simdjson::dom::key_value_pair field : object) {
      CORVANTA_FUZZ_CHECK(k < 4 && field.key == keys[k]);
      ++k;
    }
    CORVANTA_FUZZ_CHECK(k == 4);
    bool excluded = false;
    std::string_view label, term_id;
    simdjson::dom::array span;
    uint64_t begin = 0, end = 0;
    CORVANTA_FUZZ_CHECK(object["excluded"].get(excluded) == simdjson::SUCCESS);
    CORVANTA_FUZZ_CHECK(object["label"].get(label) == simdjson::SUCCESS);
    CORVANTA_FUZZ_CHECK(object["termId"].get(term_id) == simdjson::SUCCESS);
    CORVANTA_FUZZ_CHECK(object["span"].get(span) == simdjson::SUCCESS && span.size() == 2);
    CORVANTA_FUZZ_CHECK(span.at(0).get(begin) == simdjson::SUCCESS);
    CORVANTA_FUZZ_CHECK(span.at(1).get(end) == simdjson::SUCCESS);
    CORVANTA_FUZZ_CHECK(excluded == hit.excluded && label == row.surface &&
                        term_id == row.term_id && begin == hit.byte_begin && end == hit.byte_end);
  }
}

// Every invariant of one recognition of `text` (well-formed UTF-8).
inline void check_recognition(const MatcherState& state, std::string_view text) {
  const std::string lowered = text::lower_cased(text);
  RecognitionScratch scratch;
  const auto run = [&](bool longest_only) {
    const std::span<const HitRecord> hits = recognize(state, text, {longest_only}, scratch);
    return HitList(hits.begin(), hits.end());
  };
  const HitList all = run(false);
  const HitList longest = run(true);
  const HitList again = run(false);

  CORVANTA_FUZZ_CHECK(all.size() == again.size());
  for (size_t i = 0; i < all.size(); ++i) CORVANTA_FUZZ_CHECK(same_hit(all[i], again[i]));

  for (size_t i = 0; i < all.size(); ++i) {
    const HitRecord& h = all[i];
    CORVANTA_FUZZ_CHECK(h.row.v < state.labels().size());
    CORVANTA_FUZZ_CHECK(h.byte_begin < h.byte_end && h.byte_end <= lowered.size());
    CORVANTA_FUZZ_CHECK(is_char_boundary(lowered, h.byte_begin));
    CORVANTA_FUZZ_CHECK(is_char_boundary(lowered, h.byte_end));
    if (i > 0) CORVANTA_FUZZ_CHECK(all[i - 1].byte_begin <= h.byte_begin);
  }

  const HitList exact = exact_hits(state, lowered);
  for (size_t e = 0; e < exact.size(); ++e) {
    const HitRecord& x = exact[e];
    if (e > 0) CORVANTA_FUZZ_CHECK(exact[e - 1].byte_end <= x.byte_begin);
    CORVANTA_FUZZ_CHECK(lowered.substr(x.byte_begin, x.byte_end - x.byte_begin) ==
                        text::lower_cased(state.labels()[x.row].surface));
    size_t found = 0;
    for (const HitRecord& h : all) {
      if (same_place(h, x)) {
        ++found;
      } else {
        // Nothing else may overlap an exact hit.
        CORVANTA_FUZZ_CHECK(h.byte_end <= x.byte_begin || x.byte_end <= h.byte_begin);
      }
    }
    CORVANTA_FUZZ_CHECK(found == 1);
  }

  CORVANTA_FUZZ_CHECK(is_subsequence(longest, all));
  check_json(state, all);
}

}  // namespace corvanta::fuzz
