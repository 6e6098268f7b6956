// Synonym groups from the embedded lists.
//
// A line of a list is one group. A stem that stands in several lines (in one
// list or both) collects the union of their other stems, so the result does
// not depend on the order of lines or lists. Groups hold a few dozen stems at
// most, so de-duplication scans the short vectors instead of hashing.
#include "lexicon/synonym_groups.hpp"

#include <algorithm>

#include "base/embedded_data.hpp"
#include "text/unicode.hpp"

namespace corvanta {
namespace {

void add_unique(std::vector<std::string>& list, std::string_view stem) {
  if (std::find(list.begin(), list.end(), stem) == list.end()) list.emplace_back(stem);
}

// The distinct non-empty stems of the entries of one line.
std::vector<std::string> line_stems(std::string_view line, text::Stemmer& stemmer) {
  std::vector<std::string> stems;
  for (;;) {
    const size_t comma = line.find(',');
    const std::string_view entry = text::trim_white_space(line.substr(0, comma));
    const std::string_view stem = stemmer.stem(entry);
    if (!stem.empty()) add_unique(stems, stem);
    if (comma == std::string_view::npos) return stems;
    line.remove_prefix(comma + 1);
  }
}

// Lines end at LF, and one CR before the LF goes with it; the final line
// ending opens no further line.
template <class F>
void for_each_line(std::string_view list, F&& f) {
  while (!list.empty()) {
    const size_t lf = list.find('\n');
    std::string_view line = list.substr(0, lf);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(line);
    if (lf == std::string_view::npos) return;
    list.remove_prefix(lf + 1);
  }
}

}  // namespace

const std::vector<std::string>* SynonymGroups::find(std::string_view stem) const {
  const auto it = mates_.find(stem);
  return it == mates_.end() ? nullptr : &it->second;
}

SynonymGroups build_synonym_groups_from(std::span<const std::string_view> lists,
                                        text::Stemmer& stemmer) {
  SynonymGroups groups;
  for (const std::string_view list : lists) {
    for_each_line(list, [&](std::string_view line) {
      line = text::trim_white_space(line);
      if (line.empty()) return;
      const std::vector<std::string> stems = line_stems(line, stemmer);
      for (const std::string& stem : stems) {
        std::vector<std::string>& mates = groups.mates_[stem];
        for (const std::string& other : stems)
          if (other != stem) add_unique(mates, other);
      }
    });
  }
  return groups;
}

SynonymGroups build_synonym_groups(text::Stemmer& stemmer) {
  const std::string_view lists[] = {data::kSynonymList1, data::kSynonymList2};
  return build_synonym_groups_from(lists, stemmer);
}

}  // namespace corvanta
