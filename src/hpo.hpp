// The matcher: construction from a release file, and recognition.
//
// build_from_path reads a release (ontology and phenotype subtree), takes its
// version, builds the label table, lower-cases its surface forms once, builds
// the exact-stage automaton and the concept index over them, and keeps only
// the label table, the version, the automaton and the index.
//
// recognize runs both stages over the lower-cased text, lets exact hits take
// precedence over overlapping clustering candidates, orders the hits by start
// and marks the negated ones.
//
// A MatcherState is immutable once built: recognition only reads it, from any
// number of threads at once.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "aho_corasick.hpp"
#include "concept_index.hpp"
#include "hit_record.hpp"
#include "label_table.hpp"
#include "labels.hpp"
#include "ontology/ontology.hpp"
#include "recognition_scratch.hpp"
#include "result.hpp"

namespace corvanta {

class MatcherState {
 public:
  MatcherState(LabelTable labels, std::string version, std::unique_ptr<const AhoCorasick> automaton,
               std::unique_ptr<const ConceptIndex> index)
      : labels_(std::move(labels)),
        version_(std::move(version)),
        automaton_(std::move(automaton)),
        index_(std::move(index)) {}
  MatcherState(const MatcherState&) = delete;
  MatcherState& operator=(const MatcherState&) = delete;

  [[nodiscard]] const LabelTable& labels() const noexcept { return labels_; }
  [[nodiscard]] const std::string& version() const noexcept { return version_; }
  [[nodiscard]] const AhoCorasick& automaton() const noexcept { return *automaton_; }
  [[nodiscard]] const ConceptIndex& index() const noexcept { return *index_; }

 private:
  LabelTable labels_;
  std::string version_;
  std::unique_ptr<const AhoCorasick> automaton_;
  std::unique_ptr<const ConceptIndex> index_;
};

// Errors: Errc::kOntologyLoad ("failed to load HPO ontology from <path>: ..."),
// Errc::kMatcherBuild ("failed to build the concept matcher: ..."), or
// Errc::kInvariant with the invariant's own message.
[[nodiscard]] Result<std::unique_ptr<const MatcherState>> build_from_path(std::string_view path);

// The steps of build_from_path after ontology::load_release, public so that
// a benchmark can time each one.
struct LabeledRelease {
  std::string version;
  LabelTable labels;
};
// The version and the label table of a loaded release; fails with the
// invariant "Ontology should have a version".
[[nodiscard]] Result<LabeledRelease> label_release(const ontology::Release& release);
// The automaton over the lowered surfaces; fails with Errc::kMatcherBuild.
[[nodiscard]] Result<std::unique_ptr<const AhoCorasick>> build_automaton(
    const LoweredSurfaces& lowered);

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
