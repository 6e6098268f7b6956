// Construction: from a release file to a MatcherState.
//
// build_from_path reads a release (ontology and phenotype subtree), takes its
// version, builds the label table, lower-cases its surface forms once, builds
// the exact-stage automaton and the concept index over them, and keeps only
// the label table, the version, the automaton and the index.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "lexicon/aho_corasick.hpp"
#include "lexicon/label_table.hpp"
#include "lexicon/labels.hpp"
#include "lexicon/matcher_state.hpp"

namespace corvanta {

namespace ontology {
struct Release;  // ontology/ontology.hpp, which brings the release reader
}  // namespace ontology

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

}  // namespace corvanta
