// The label table and the rules that turn labels into words.
//
//   build_label_table     phenotype terms -> rows (term id, surface form)
//   LoweredSurfaces       every row's surface lower-cased, once per construction
//   strip_parentheses     the parenthesis rule for labels and synonyms
//   normalize_punctuation punctuation deleted or turned into spaces
//   tokenize_label        surface form -> ordered stems for the concept index
//
// The word lists the rules use are lexicon/word_lists.hpp's.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon/label_table.hpp"
#include "lexicon/word_lists.hpp"
#include "text/stemmer.hpp"
#include "text/unicode.hpp"

namespace corvanta {

namespace ontology {
// ontology/ontology.hpp, which brings the release reader: only construction
// includes it.
struct Ontology;
class PhenotypeSubtree;
}  // namespace ontology

[[nodiscard]] LabelTable build_label_table(const ontology::Ontology& ontology,
                                           const ontology::PhenotypeSubtree& subtree);

// The surfaces of a label table, lower-cased: the automaton's patterns and
// what the concept index tokenizes. Built once per construction, in one
// arena, and released with the construction's other intermediate data.
class LoweredSurfaces {
 public:
  explicit LoweredSurfaces(const LabelTable& labels);
  // One view per row, in row order; they live as long as this object.
  [[nodiscard]] std::span<const std::string_view> views() const noexcept { return views_; }

 private:
  std::string arena_;
  std::vector<std::string_view> views_;
};

// Lenient mode always returns a text; strict mode returns nullopt (rejected)
// when a parenthesised part is not an abbreviation.
[[nodiscard]] std::optional<std::string> strip_parentheses(std::string_view text, bool strict);

[[nodiscard]] std::string normalize_punctuation(std::string_view text);
void normalize_punctuation_into(std::string_view text, std::string& out);

// Lower-case, normalize punctuation, split on White_Space, drop label stop
// words, stem. Token order and repeated stems are kept.
[[nodiscard]] std::vector<std::string> tokenize_label(std::string_view surface,
                                                      text::Stemmer& stemmer);

// Reusable buffers for for_each_label_token.
struct LabelScratch {
  std::string lowered;
  std::string normalized;
};

// Calls f(token) for each token of an already lower-cased surface form that
// tokenize_label stems, in order, without allocating per token: its
// punctuation normalized, split on White_Space, label stop words left out.
// A token view lives until the next use of `scratch`.
template <class F>
void for_each_lowered_label_token(std::string_view lowered, LabelScratch& scratch, F&& f) {
  normalize_punctuation_into(lowered, scratch.normalized);
  const std::string_view s = scratch.normalized;
  size_t token_begin = 0;
  auto token_ends = [&](size_t end) {
    const std::string_view token = s.substr(token_begin, end - token_begin);
    if (!token.empty() && !is_label_stop_word(token)) f(token);
  };
  for (size_t i = 0; i < s.size();) {
    const size_t at = i;
    const auto byte = static_cast<unsigned char>(s[i]);
    const bool space = byte < 0x80 ? (++i, text::is_white_space(byte))
                                   : text::is_white_space(text::next_code_point(s, i));
    if (!space) continue;
    token_ends(at);
    token_begin = i;
  }
  token_ends(s.size());
}

// The same for a surface form in its own letter case: lower-cased first.
template <class F>
void for_each_label_token(std::string_view surface, LabelScratch& scratch, F&& f) {
  text::lower_case(surface, scratch.lowered);
  for_each_lowered_label_token(scratch.lowered, scratch, f);
}

}  // namespace corvanta
