// Recognition: the hits of one text under a MatcherState.
//
// recognize runs both stages over the lower-cased text, lets exact hits take
// precedence over overlapping clustering candidates, orders the hits by start
// and marks the negated ones.
#pragma once

#include <span>
#include <string_view>

#include "lexicon/matcher_state.hpp"
#include "recognize/hit_record.hpp"
#include "recognize/recognition_scratch.hpp"

namespace corvanta {

struct RecognitionOptions {
  // Drop clustering candidates nested inside a longer candidate.
  bool longest_only = false;
};

// The hits of `text`, ordered by start. Never fails. All working memory is
// `scratch`'s; the hits are its `hits`, and the view lives until the next use
// of `scratch`.
std::span<const HitRecord> recognize(const MatcherState& state, std::string_view text,
                                     RecognitionOptions options, RecognitionScratch& scratch);

}  // namespace corvanta
