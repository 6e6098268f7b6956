// What construction builds and recognition reads: the label table, the
// release version, the exact-stage automaton and the concept index.
//
// A MatcherState is immutable once built: recognition only reads it, from any
// number of threads at once.
#pragma once

#include <memory>
#include <string>

#include "lexicon/aho_corasick.hpp"
#include "lexicon/concept_index.hpp"
#include "lexicon/label_table.hpp"

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

}  // namespace corvanta
