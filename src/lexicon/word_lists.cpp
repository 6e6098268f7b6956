#include "lexicon/word_lists.hpp"

#include <cstdint>

namespace corvanta {

const std::array<std::string_view, 24> kLabelStopWords = {
    "of",  "in",  "at",  "or",  "on",  "by",  "no",   "an",   "be",   "is",    "do",     "the",
    "and", "but", "are", "has", "had", "did", "have", "been", "done", "being", "having", "because",
};

const std::array<std::string_view, 15> kTextSkipWords = {
    "of",     "in",     "at",      "is",      "the",      "was",      "seems",    "noted",
    "appear", "seemed", "appears", "remains", "appeared", "observed", "remained",
};

const std::array<std::string_view, 19> kModifierWords = {
    "localized", "generalized", "unilateral",   "multiple",   "paroxysmal", "recurrent",
    "proximal",  "morphology",  "physiology",   "level",      "proportion", "electroretinogram",
    "activity",  "count",       "ossification", "potentials", "ratio",      "glycosylation",
    "behavior",
};

namespace {

// Bit n is set when some word of `words` is n bytes long.
template <size_t N>
constexpr uint64_t length_mask(const std::array<std::string_view, N>& words) {
  uint64_t mask = 0;
  for (std::string_view w : words) mask |= uint64_t{1} << w.size();
  return mask;
}

// Most words have a length no listed word has; they cost one test. The
// tests run for every label token and every text word.
template <size_t N>
bool is_listed(const std::array<std::string_view, N>& words, uint64_t lengths,
               std::string_view word) noexcept {
  if (word.size() >= 64 || !(lengths >> word.size() & 1)) return false;
  for (std::string_view w : words)
    if (w == word) return true;
  return false;
}

}  // namespace

bool is_label_stop_word(std::string_view word) noexcept {
  static const uint64_t kLengths = length_mask(kLabelStopWords);
  return is_listed(kLabelStopWords, kLengths, word);
}

bool is_text_skip_word(std::string_view word) noexcept {
  static const uint64_t kLengths = length_mask(kTextSkipWords);
  return is_listed(kTextSkipWords, kLengths, word);
}

}  // namespace corvanta
