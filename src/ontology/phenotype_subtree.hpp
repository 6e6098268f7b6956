// The phenotypic-abnormality subtree: HP:0000118 and every term below it by
// is-a edges between HP terms, as printed term ids.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace corvanta::ontology {

inline constexpr std::string_view kPhenotypeRoot = "HP:0000118";

class PhenotypeSubtree {
 public:
  [[nodiscard]] bool contains(std::string_view id_text) const {
    return ids_.find(id_text) != ids_.end();
  }
  [[nodiscard]] size_t size() const noexcept { return ids_.size(); }
  void reserve(size_t count) { ids_.reserve(count); }
  // Returns whether `id_text` was newly inserted.
  bool insert(std::string id_text) { return ids_.insert(std::move(id_text)).second; }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> ids_;
};

// Collects the edges of a graph and walks the is-a ones down from
// kPhenotypeRoot.
class PhenotypeSubtreeBuilder {
 public:
  // Keeps the edge only if `pred` is exactly "is_a" and both ends are HP
  // IRIs; the texts are borrowed and must outlive `build`.
  void add_edge(std::string_view sub, std::string_view pred, std::string_view obj);
  // kPhenotypeRoot and every term below it, each as "HP:" followed by the
  // rest of its IRI after the HP namespace.
  [[nodiscard]] PhenotypeSubtree build() const;

 private:
  struct IsA {
    std::string_view parent;  // local ids: the IRIs after the HP namespace
    std::string_view child;
  };
  std::vector<IsA> edges_;
};

}  // namespace corvanta::ontology
