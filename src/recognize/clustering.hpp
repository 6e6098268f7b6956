// The clustering stage: label words in any order.
//
// The lower-cased text is split into words (maximal runs of word
// characters). Known words (whose stem is in the index vocabulary) gather into
// clusters; skip words ("of", "was", ...) are passed over, a hard separator
// (full stop, comma, brackets, most punctuation) closes a cluster, and a soft
// separator (White_Space, quotes, "+", "-", "/", ":", ";", "_", U+2019) closes
// it only right after an out-of-vocabulary word. Every contiguous window of a
// cluster is then looked up in the concept index: the whole cluster first,
// then windows of one token left to right, then of two, and so on, with
// windows taken only from the first kMaxWindowTokens tokens.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/ids.hpp"
#include "lexicon/concept_index.hpp"
#include "recognize/stem_cache.hpp"

namespace corvanta {

inline constexpr uint32_t kMaxWindowTokens = 20;

struct Candidate {
  uint64_t byte_begin = 0;  // start of the window's first word
  uint64_t byte_end = 0;    // end of the window's last word
  RowId row;                // label-table row the concept entry names
  uint32_t cluster = 0;     // candidates of different clusters never overlap
};

// The clustering stage's part of the per-call state (RecognitionScratch).
struct ClusteringScratch {
  // A known word, with what the window lookups read of its stem.
  struct Token {
    uint64_t byte_begin;
    uint64_t byte_end;
    uint64_t hash;  // ConceptIndex::StemFacts of `stem`
    StemId stem;
    uint32_t max_count_with;
    uint32_t single_row;
  };
  struct Found {
    uint32_t length;
    uint32_t first;
    RowId row;
  };
  StemCache stems;
  std::vector<Token> tokens;
  std::vector<StemId> ids;
  std::vector<Found> found;
};

// Replaces `out` with the candidates of `lowered` in emission order: clusters
// in text order; within a cluster the whole-cluster candidate, then by window
// length, then by position. No two candidates share (start, end, term id):
// windows of one cluster differ in span and clusters are disjoint.
void find_candidates(const ConceptIndex& index, std::string_view lowered,
                     ClusteringScratch& scratch, std::vector<Candidate>& out);

}  // namespace corvanta
