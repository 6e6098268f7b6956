// The construction pipeline.
#include "lexicon/construction.hpp"

#include <string>

#include "lexicon/concept_index.hpp"
#include "ontology/ontology.hpp"

namespace corvanta {

namespace {

Error ontology_load_error(std::string_view path, Error cause) {
  if (cause.code == Errc::kInvariant) return cause;
  std::string message = "failed to load HPO ontology from ";
  message.append(path);
  message += ": ";
  message += cause.message;
  return std::move(cause).wrapped(Errc::kOntologyLoad, std::move(message));
}

}  // namespace

Result<LabeledRelease> label_release(const ontology::Release& release) {
  CORVANTA_TRY(std::string version, ontology::ontology_version(release.ontology));
  return LabeledRelease{std::move(version), build_label_table(release.ontology, release.subtree)};
}

Result<std::unique_ptr<const AhoCorasick>> build_automaton(const LoweredSurfaces& lowered) {
  auto automaton = AhoCorasick::build(lowered.views());
  if (automaton.ok()) return automaton;
  Error cause = std::move(automaton).error();
  std::string message = "failed to build the concept matcher: " + cause.message;
  return std::move(cause).wrapped(Errc::kMatcherBuild, std::move(message));
}

Result<std::unique_ptr<const MatcherState>> build_from_path(std::string_view path) {
  LabeledRelease labeled;
  {
    auto release = ontology::load_release(path);
    if (!release.ok()) return ontology_load_error(path, std::move(release).error());
    CORVANTA_TRY(labeled, label_release(release.value()));
  }  // the parsed document, the ontology and the subtree are released here
  const LoweredSurfaces lowered(labeled.labels);
  CORVANTA_TRY(auto automaton, build_automaton(lowered));
  auto index = ConceptIndex::build(lowered.views());
  return std::make_unique<const MatcherState>(std::move(labeled.labels), std::move(labeled.version),
                                              std::move(automaton), std::move(index));
}

}  // namespace corvanta
