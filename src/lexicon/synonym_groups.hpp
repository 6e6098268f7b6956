// Groups of interchangeable words (spelling variants, lay and medical words,
// ordinals) from the two embedded lists: for every stem, the stems of its
// group-mates.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/stemmer.hpp"

namespace corvanta {

class SynonymGroups {
 public:
  // Group-mate stems of `stem` (never `stem` itself), or nullptr when `stem`
  // stands in no group. The order of the list carries no meaning.
  [[nodiscard]] const std::vector<std::string>* find(std::string_view stem) const;
  [[nodiscard]] bool empty() const noexcept { return mates_.empty(); }
  [[nodiscard]] size_t size() const noexcept { return mates_.size(); }

 private:
  friend SynonymGroups build_synonym_groups_from(std::span<const std::string_view> lists,
                                                 text::Stemmer& stemmer);
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::unordered_map<std::string, std::vector<std::string>, Hash, std::equal_to<>> mates_;
};

// The groups of the two embedded lists.
[[nodiscard]] SynonymGroups build_synonym_groups(text::Stemmer& stemmer);

// The groups of `lists`, texts in the format of the embedded ones: one group
// per line, entries separated by commas.
[[nodiscard]] SynonymGroups build_synonym_groups_from(std::span<const std::string_view> lists,
                                                      text::Stemmer& stemmer);

}  // namespace corvanta
