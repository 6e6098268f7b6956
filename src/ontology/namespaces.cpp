#include "ontology/namespaces.hpp"

#include "base/embedded_data.hpp"

namespace corvanta::ontology {
namespace {

std::string_view trim_blanks(std::string_view text) noexcept {
  constexpr std::string_view kBlanks = " \t\r";
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

// Eligibility is a property of the table alone, so it is decided once here
// and ineligible namespaces never enter the trie.
bool is_eligible(const std::vector<NamespaceEntry>& entries, size_t index) noexcept {
  const std::string_view candidate = entries[index].iri_namespace;
  for (size_t earlier = 0; earlier < index; ++earlier) {
    const std::string_view other = entries[earlier].iri_namespace;
    if (other.size() > candidate.size() && other.starts_with(candidate)) return false;
  }
  return true;
}

}  // namespace

NamespaceTable NamespaceTable::parse(std::string_view text) {
  NamespaceTable table;
  while (!text.empty()) {
    const size_t line_end = text.find('\n');
    std::string_view line = text.substr(0, line_end);
    text = line_end == std::string_view::npos ? std::string_view{} : text.substr(line_end + 1);
    line = line.substr(0, line.find("# "));
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    table.entries_.push_back(
        {trim_blanks(line.substr(0, colon)), trim_blanks(line.substr(colon + 1))});
  }
  table.trie_.emplace_back();
  for (size_t index = 0; index < table.entries_.size(); ++index) {
    if (is_eligible(table.entries_, index)) {
      table.insert(table.entries_[index].iri_namespace, static_cast<int32_t>(index));
    }
  }
  return table;
}

void NamespaceTable::insert(std::string_view iri_namespace, int32_t entry) {
  uint32_t node = 0;
  for (char byte : iri_namespace) {
    uint32_t child = trie_[node].first_child;
    while (child != 0 && trie_[child].byte != byte) child = trie_[child].next_sibling;
    if (child == 0) {
      child = static_cast<uint32_t>(trie_.size());
      TrieNode added;
      added.next_sibling = trie_[node].first_child;
      added.byte = byte;
      trie_.push_back(added);
      trie_[node].first_child = child;
    }
    node = child;
  }
  // An identical namespace listed twice: the first one keeps it.
  if (trie_[node].entry < 0) trie_[node].entry = entry;
}

const NamespaceEntry* NamespaceTable::find(std::string_view iri) const noexcept {
  uint32_t node = 0;
  for (size_t depth = 0;; ++depth) {
    if (trie_[node].entry >= 0) return &entries_[static_cast<size_t>(trie_[node].entry)];
    if (depth == iri.size()) return nullptr;
    uint32_t child = trie_[node].first_child;
    while (child != 0 && trie_[child].byte != iri[depth]) child = trie_[child].next_sibling;
    if (child == 0) return nullptr;
    node = child;
  }
}

const NamespaceTable& builtin_namespaces() {
  static const NamespaceTable table = NamespaceTable::parse(data::kNamespaces);
  return table;
}

}  // namespace corvanta::ontology
