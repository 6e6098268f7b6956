// The namespace table: IRI namespaces and the CURIE prefixes they stand for,
// used to turn node IRIs into (prefix, local id).
//
// Table text is one "PREFIX: namespace" a line; everything from "# " to the
// end of a line is a comment, blank and comment-only lines are skipped, and
// blanks around prefix and namespace are trimmed. Lines without a colon are
// skipped too.
//
// Compression of an IRI: among the namespaces that start the IRI, take the
// shortest eligible one; a namespace is eligible iff it is not a proper
// prefix of a namespace listed earlier. So a catch-all listed below the
// namespaces it covers never wins.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "ontology/term_id.hpp"

namespace corvanta::ontology {

// The IRI base of every OBO ontology term, and the one namespace the system
// depends on: that of HP terms.
inline constexpr std::string_view kOboPurlBase = "http://purl.obolibrary.org/obo/";
inline constexpr std::string_view kHpIriBase = "http://purl.obolibrary.org/obo/HP_";

struct NamespaceEntry {
  std::string_view prefix;
  std::string_view iri_namespace;
};

class NamespaceTable {
 public:
  // The table of `text`; its views borrow from `text`, which must outlive it.
  [[nodiscard]] static NamespaceTable parse(std::string_view text);

  [[nodiscard]] const std::vector<NamespaceEntry>& entries() const noexcept { return entries_; }
  // The namespace `iri` compresses with, or null when no eligible namespace
  // starts it.
  [[nodiscard]] const NamespaceEntry* find(std::string_view iri) const noexcept;
  // The (prefix, local id) of `iri`, or none when no eligible namespace
  // starts it. The prefix view borrows from the table text, the local id
  // from `iri`.
  [[nodiscard]] std::optional<CurieParts> compress(std::string_view iri) const noexcept {
    const NamespaceEntry* entry = find(iri);
    if (entry == nullptr) return std::nullopt;
    return CurieParts{entry->prefix, iri.substr(entry->iri_namespace.size())};
  }

 private:
  NamespaceTable() = default;

  // A byte trie over the eligible namespaces. Since the shortest eligible
  // namespace wins, a lookup ends at the first node that ends one; that
  // keeps a lookup to one walk down the IRI instead of a comparison with
  // each of the ~170 namespaces (most of which share the 31-byte OBO base).
  struct TrieNode {
    uint32_t first_child = 0;   // 0: none (the root is never a child)
    uint32_t next_sibling = 0;  // 0: none
    int32_t entry = -1;         // index into entries_ of the namespace ending here
    char byte = 0;
  };
  void insert(std::string_view iri_namespace, int32_t entry);

  std::vector<NamespaceEntry> entries_;
  std::vector<TrieNode> trie_;
};

// The table compiled into the module (data/namespaces.txt), parsed on first
// use and immutable afterwards.
[[nodiscard]] const NamespaceTable& builtin_namespaces();

// IRI compression with the built-in table.
[[nodiscard]] inline std::optional<CurieParts> compress_iri(std::string_view iri) {
  return builtin_namespaces().compress(iri);
}

// Compresses a run of IRIs with a table, remembering the namespace of the
// last success: an IRI under that namespace takes it again without a trie
// walk. That is exact, not a guess: had a shorter eligible namespace started
// the new IRI, it would also start the remembered namespace and so the IRI
// that chose it, and that IRI would have chosen it instead. In a release
// almost every node IRI is under the HP namespace; remembering saves about
// 3 ms of a 45 ms load (benchmarks/bench_load_release.cpp). One per caller;
// not shared between threads.
class IriCompressor {
 public:
  explicit IriCompressor(const NamespaceTable& table) : table_(table) {}

  // As NamespaceTable::compress.
  [[nodiscard]] std::optional<CurieParts> compress(std::string_view iri) noexcept {
    if (last_ == nullptr || !iri.starts_with(last_->iri_namespace)) {
      const NamespaceEntry* entry = table_.find(iri);
      if (entry == nullptr) return std::nullopt;
      last_ = entry;
    }
    return CurieParts{last_->prefix, iri.substr(last_->iri_namespace.size())};
  }

 private:
  const NamespaceTable& table_;
  const NamespaceEntry* last_ = nullptr;
};

}  // namespace corvanta::ontology
