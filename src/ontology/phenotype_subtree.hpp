// The phenotypic-abnormality subtree: HP:0000118 and every term below it by
// is-a edges between HP terms, as printed term ids.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace corvanta::ontology {

inline constexpr std::string_view kPhenotypeRoot = "HP:0000118";

class PhenotypeSubtree {
 public:
  [[nodiscard]] bool contains(std::string_view id_text) const {
    return ids_.find(id_text) != ids_.end();
  }
  [[nodiscard]] size_t size() const noexcept { return ids_.size(); }
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

}  // namespace corvanta::ontology
