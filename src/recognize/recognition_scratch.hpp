// The per-call state of recognition: every buffer one call writes, owned by
// the caller and handed to each call (recognition.hpp's recognize, the JSON
// rendering). The matcher state itself is never written, so any number of
// threads may recognize with one MatcherState at once, each with its own
// scratch; one scratch serves one call at a time.
//
// Buffers keep their capacity between calls, so a call whose results fit
// what earlier calls grew allocates nothing. What one huge text grew them to
// is handed back by release_large_buffers, the one rule for all of them:
// a buffer above kKeptScratchBytes is freed. A caller that keeps a scratch
// for long (the Python binding keeps one per thread) calls it once the
// results of a call have been read.
#pragma once

#include <string>
#include <vector>

#include "base/scratch_buffers.hpp"
#include "lexicon/aho_corasick.hpp"
#include "lexicon/label_table.hpp"
#include "recognize/clustering.hpp"
#include "recognize/hit_record.hpp"

namespace corvanta {

struct RecognitionScratch {
  std::string lowered;  // the text, lower-cased: the coordinates of every span
  AcScratch exact;      // the automaton's matches, before the word-boundary test
  HitList hits;         // the result of the last recognize
  HitList merge;        // clustering hits while they are merged into `hits`
  std::vector<Candidate> candidates;
  std::vector<Candidate> kept;
  ClusteringScratch clustering;
  std::string json;                // the result of the last render_hits_json into it
  std::vector<LabelEntry> labels;  // the label rows of `hits`, for the binding

  void release_large_buffers() {
    using detail::release_if_large;
    release_if_large(lowered);
    release_if_large(exact.matches);
    release_if_large(exact.tail);
    release_if_large(hits);
    release_if_large(merge);
    release_if_large(candidates);
    release_if_large(kept);
    release_if_large(clustering.tokens);
    release_if_large(clustering.ids);
    release_if_large(clustering.found);
    clustering.stems.release_large_buffers();
    release_if_large(json);
    release_if_large(labels);
  }
};

}  // namespace corvanta
