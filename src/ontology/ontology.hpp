// The in-memory form of one HPO release: current terms in file order, with
// their labels and synonyms, and the release version.
//
// Built once per construction from the release file and released before the
// constructor returns; recognition never reads it. Labels and synonyms are
// views into the parsed document, which the Release owns: the label table
// copies the texts it keeps, and nothing else copies them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "ontology/obographs_reader.hpp"
#include "ontology/phenotype_subtree.hpp"
#include "ontology/term_id.hpp"

namespace corvanta::ontology {

struct Synonym {
  std::string_view text;
  // Fields that nothing downstream reads (scope, type, xrefs) are decided
  // during conversion, since they decide which synonyms exist, and dropped.
};

struct Term {
  std::string id_text;  // the TermId printed, e.g. "HP:0000118"
  std::string_view label;
  std::vector<Synonym> synonyms;
};

struct Ontology {
  std::vector<Term> terms;             // current (non-obsolete) terms, file order
  std::optional<std::string> version;  // unset when none could be parsed
};

// The version text, or the invariant failure "Ontology should have a version".
[[nodiscard]] Result<std::string> ontology_version(const Ontology& ontology);

// What one read of a release file yields.
struct Release {
  std::unique_ptr<ObographsReader> document;  // owns the texts the views point into
  Ontology ontology;                          // from the last graph
  EdgeList first_graph_edges;                 // views into `document`
  PhenotypeSubtree subtree;                   // from the is-a edges of the first graph
};

// Reads and checks the release file at `path` once, builds the ontology from
// its last graph and the phenotype subtree from its first graph's edges.
// Errors:
//   Errc::kOs        the file cannot be opened; message is the system's
//                    description + " (os error N)", or "path contains a NUL
//                    character"
//   Errc::kRead      the open file cannot be read (a directory, say) or the
//                    document is not valid: message "Reading graph
//                    document", cause "Reading JSON; <parser's message>" (or
//                    the system's description of the failed read)
//   Errc::kInvariant "Obographs document should include at least one graph",
//                    "ID should not be longer than 255 chars!",
//                    "Curie prefix should not be longer than 255 chars!"
// Writes "Could not parse ontology version" to stderr when the last graph has
// a meta from which no version can be taken.
[[nodiscard]] Result<Release> load_release(std::string_view path);

// The two steps of load_release, apart for a benchmark that times them:
// everything but the subtree, then the subtree from the edges.
[[nodiscard]] Result<Release> read_release(std::string_view path);
[[nodiscard]] PhenotypeSubtree phenotype_subtree(const EdgeList& edges);

}  // namespace corvanta::ontology
