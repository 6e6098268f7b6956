// Building the ontology model from the records of the last graph.
//
// Nodes arrive from the reader in file order while it checks the document.
// Every term id a node implies is created in a fixed order (node id,
// alternative ids, synonym cross-references, term cross-references), even
// for an obsolete node and even for ids nothing keeps, because creating one
// is where the 255-byte limits fire. The ids nothing keeps are only checked
// (TermId::check), which allocates nothing; texts are copied out of the
// document only for terms that are kept.
#include "ontology/ontology.hpp"

#include <array>
#include <cstdio>
#include <utility>

#include "ontology/namespaces.hpp"

namespace corvanta::ontology {
namespace {

constexpr std::array<std::string_view, 4> kSynonymScopes = {"hasExactSynonym", "hasRelatedSynonym",
                                                            "hasBroadSynonym", "hasNarrowSynonym"};

// The synonym types, as what follows the OBO PURL base in `synonymType`.
constexpr std::array<std::string_view, 8> kSynonymTypeSuffixes = {
    "hp#layperson",   "hp#abbreviation",        "hp#uk_spelling",        "hp#obsolete_synonym",
    "hp#plural_form", "hp#allelic_requirement", "go#systematic_synonym", "go#syngo_official_label"};

bool is_synonym_scope(std::string_view pred) noexcept {
  for (std::string_view scope : kSynonymScopes) {
    if (pred == scope) return true;
  }
  return false;
}

bool is_synonym_type(std::string_view iri) noexcept {
  if (!iri.starts_with(kOboPurlBase)) return false;
  iri.remove_prefix(kOboPurlBase.size());
  for (std::string_view suffix : kSynonymTypeSuffixes) {
    if (iri == suffix) return true;
  }
  return false;
}

// Whether the synonym is kept: its scope and type are known and each of its
// cross-references parses. Fails if a cross-reference breaks an id limit.
Result<bool> accept_synonym(const PropertyValueRecord& synonym) {
  if (!synonym.pred || !is_synonym_scope(*synonym.pred)) return false;
  if (synonym.synonym_type && !is_synonym_type(*synonym.synonym_type)) return false;
  for (std::string_view xref : synonym.xrefs) {
    std::optional<CurieParts> parts = split_xref(xref);
    if (!parts) return false;
    CORVANTA_TRY_STATUS(TermId::check(parts->prefix, parts->local_id));
  }
  return true;
}

class TermBuilder final : public NodeSink {
 public:
  explicit TermBuilder(std::vector<Term>& terms)
      : terms_(terms), compressor_(builtin_namespaces()) {}

  Status on_node(const NodeRecord& node) override {
    std::optional<CurieParts> parts = compressor_.compress(node.id);
    if (!parts || !node.lbl) return {};
    CORVANTA_TRY(TermId id, TermId::from(parts->prefix, parts->local_id));
    synonyms_.clear();
    if (node.meta) {
      CORVANTA_TRY_STATUS(read_meta(*node.meta));
      if (node.meta->deprecated) return {};
    }
    Term& term = terms_.emplace_back(Term{std::string(), *node.lbl, {}});
    id.append_to(term.id_text);
    term.synonyms.assign(synonyms_.begin(), synonyms_.end());
    return {};
  }

 private:
  // Collects the texts of the kept synonyms into synonyms_, and checks the
  // ids of alternative ids and cross-references, which are not kept.
  Status read_meta(const MetaRecord& meta) {
    for (PropertyValueRecord value : meta.basic_property_values) {
      if (!value.pred || !value.pred->ends_with("#hasAlternativeId")) continue;
      if (std::optional<CurieParts> parts = split_curie(value.val)) {
        CORVANTA_TRY_STATUS(TermId::check(parts->prefix, parts->local_id));
      }
    }
    for (PropertyValueRecord synonym : meta.synonyms) {
      CORVANTA_TRY(bool accepted, accept_synonym(synonym));
      if (accepted) synonyms_.push_back(Synonym{synonym.val});
    }
    for (PropertyValueRecord xref : meta.xrefs) {
      if (std::optional<CurieParts> parts = split_curie(xref.val)) {
        CORVANTA_TRY_STATUS(TermId::check(parts->prefix, parts->local_id));
      }
    }
    return {};
  }

  std::vector<Term>& terms_;
  IriCompressor compressor_;
  std::vector<Synonym> synonyms_;  // reused from node to node
};

// The version of the graph with `meta`: the first "#versionInfo" property
// value, else the second-to-last piece of `meta.version` if it is only
// digits and "-". Writes the one diagnostic line when neither gives one.
std::optional<std::string> graph_version(const MetaRecord& meta) {
  for (PropertyValueRecord value : meta.basic_property_values) {
    if (value.pred && value.pred->ends_with("#versionInfo")) return std::string(value.val);
  }
  if (meta.version) {
    const std::string_view iri = *meta.version;
    const size_t last = iri.rfind('/');
    if (last != std::string_view::npos) {
      const size_t previous = last == 0 ? std::string_view::npos : iri.rfind('/', last - 1);
      const size_t begin = previous == std::string_view::npos ? 0 : previous + 1;
      const std::string_view piece = iri.substr(begin, last - begin);
      if (piece.find_first_not_of("0123456789-") == std::string_view::npos) {
        return std::string(piece);
      }
    }
  }
  std::fputs("Could not parse ontology version\n", stderr);
  return std::nullopt;
}

}  // namespace

Result<std::string> ontology_version(const Ontology& ontology) {
  if (!ontology.version) return Error{Errc::kInvariant, "Ontology should have a version", {}};
  return *ontology.version;
}

Result<Release> read_release(std::string_view path) {
  Release release;
  release.document = std::make_unique<ObographsReader>();
  TermBuilder builder(release.ontology.terms);
  CORVANTA_TRY(GraphsRecord graphs, release.document->read(path, builder));
  if (graphs.graph_count == 0) {
    return Error{Errc::kInvariant, "Obographs document should include at least one graph", {}};
  }
  if (graphs.last_graph_meta) release.ontology.version = graph_version(*graphs.last_graph_meta);
  release.first_graph_edges = graphs.first_graph_edges;
  return release;
}

PhenotypeSubtree phenotype_subtree(const EdgeList& edges) {
  PhenotypeSubtreeBuilder subtree;
  for (EdgeRecord edge : edges) subtree.add_edge(edge.sub, edge.pred, edge.obj);
  return subtree.build();
}

Result<Release> load_release(std::string_view path) {
  CORVANTA_TRY(Release release, read_release(path));
  release.subtree = phenotype_subtree(release.first_graph_edges);
  return release;
}

}  // namespace corvanta::ontology
