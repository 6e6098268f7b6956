#include <doctest/doctest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon/concept_index.hpp"
#include "lexicon/labels.hpp"
#include "recognize/clustering.hpp"
#include "text/stemmer.hpp"
#include "text/unicode.hpp"

namespace corvanta {
namespace {

// The clustering stage as its header states it, one code point at a time,
// every word stemmed afresh and every window looked up whole.
class ReferenceClustering {
 public:
  explicit ReferenceClustering(const ConceptIndex& index) : index_(index) {}

  std::vector<Candidate> candidates(std::string_view lowered) {
    out_.clear();
    tokens_.clear();
    cluster_ = 0;
    size_t word_begin = 0;
    for (size_t i = 0; i < lowered.size();) {
      const size_t at = i;
      const char32_t c = text::next_code_point(lowered, i);
      const bool word = c < 128 ? std::isalnum(static_cast<int>(c)) != 0 : text::is_word_char(c);
      if (word) continue;
      const bool soft =
          (c < 128 && std::string_view("\t\n\v\f\r \"'+-/:;_").find(static_cast<char>(c)) !=
                          std::string_view::npos) ||
          (c >= 128 && (c == 0x2019 || text::is_white_space(c)));
      const bool out_of_vocabulary =
          end_word(lowered.substr(word_begin, at - word_begin), word_begin);
      if (!soft || out_of_vocabulary) end_cluster();
      word_begin = i;
    }
    end_word(lowered.substr(word_begin), word_begin);
    end_cluster();
    return out_;
  }

 private:
  struct Token {
    StemId stem;
    uint64_t begin, end;
  };

  bool end_word(std::string_view word, size_t begin) {
    if (word.empty() || is_text_skip_word(word)) return false;
    const std::optional<StemId> stem = index_.find_stem(stemmer_.stem(word));
    if (!stem) return true;
    tokens_.push_back({*stem, begin, begin + word.size()});
    return false;
  }

  void look_up(size_t first, size_t length) {
    std::vector<StemId> ids;
    for (size_t k = first; k < first + length; ++k) ids.push_back(tokens_[k].stem);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    uint64_t hash = 0;
    for (StemId id : ids) hash += index_.stem_hash(id);
    if (const auto row = index_.lookup(hash, static_cast<uint32_t>(length), ids))
      out_.push_back({tokens_[first].begin, tokens_[first + length - 1].end, *row, cluster_});
  }

  void end_cluster() {
    if (tokens_.empty()) return;
    look_up(0, tokens_.size());
    const size_t m = std::min<size_t>(tokens_.size(), kMaxWindowTokens);
    for (size_t length = 1; length < m; ++length)
      for (size_t first = 0; first + length <= m; ++first) look_up(first, length);
    ++cluster_;
    tokens_.clear();
  }

  const ConceptIndex& index_;
  text::Stemmer stemmer_;
  std::vector<Token> tokens_;
  std::vector<Candidate> out_;
  uint32_t cluster_ = 0;
};

// Texts of label words, skip words, unknown, long and non-ASCII words and
// every kind of separator, of all lengths, so words end on both sides of
// the 16 bytes the scan reads at once and at the very end of the text.
std::string random_text(std::mt19937& rng) {
  static const std::vector<std::string> kWords = {"kidney",
                                                  "renal",
                                                  "cyst",
                                                  "cysts",
                                                  "recurrent",
                                                  "fever",
                                                  "abnormality",
                                                  "heart",
                                                  "cardiac",
                                                  "seizures",
                                                  "multiple",
                                                  "of",
                                                  "the",
                                                  "was",
                                                  "observed",
                                                  "ataxia",
                                                  "patients",
                                                  "had",
                                                  "2",
                                                  "x1",
                                                  "z9",
                                                  "Zy0",
                                                  "cardiomyopathies",
                                                  "hypercholesterolaemia",
                                                  "hypercholesterolaemias",
                                                  std::string(70, 'k'),
                                                  "caf\xc3\xa9",
                                                  "na\xc3\xafve",
                                                  "\xce\xb1",
                                                  "Fever",
                                                  "HEART"};
  static const std::vector<std::string> kSeparators = {
      " ", " ", " ", ", ", ". ", "-", "/", "(", ")", "\xe2\x80\x99", "\xc2\xa0", "\xe2\x80\x94",
      "\n"};
  std::string text;
  const size_t words = std::uniform_int_distribution<size_t>(0, 40)(rng);
  for (size_t i = 0; i < words; ++i) {
    text += kWords[rng() % kWords.size()];
    if (rng() % 8 != 0) text += kSeparators[rng() % kSeparators.size()];
  }
  return text;
}

bool same(const std::vector<Candidate>& a, const std::vector<Candidate>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Candidate& x, const Candidate& y) {
                      return x.byte_begin == y.byte_begin && x.byte_end == y.byte_end &&
                             x.row == y.row && x.cluster == y.cluster;
                    });
}

TEST_CASE("the scan agrees with the stage as stated, on random texts") {
  LabelTable labels;
  int n = 0;
  for (const char* surface : {"Kidney cyst", "Recurrent fever", "Abnormality of the heart",
                              "Cardiac abnormality", "Multiple seizures", "Ataxia", "Fever",
                              "Cardiomyopathies", "Hypercholesterolaemia", "Renal cyst fever"})
    labels.add("HP:" + std::to_string(++n), surface);
  const auto index = ConceptIndex::build(LoweredSurfaces(labels).views());
  ReferenceClustering reference(*index);
  ClusteringScratch scratch;  // one for all texts: its stem cache fills as it goes
  std::vector<Candidate> found;
  std::mt19937 rng(2025);
  size_t candidates = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = random_text(rng);
    find_candidates(*index, text, scratch, found);
    CAPTURE(text);
    REQUIRE(same(found, reference.candidates(text)));
    candidates += found.size();
  }
  CHECK(candidates > 3000);  // the texts do reach the index
}

}  // namespace
}  // namespace corvanta
