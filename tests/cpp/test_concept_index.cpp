#include <doctest/doctest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "lexicon/concept_index.hpp"
#include "lexicon/construction.hpp"
#include "lexicon/labels.hpp"
#include "recognize/stem_cache.hpp"
#include "shared_data.hpp"

namespace corvanta {
namespace {

// The row a window of text words finds, or -1.
int find(const ConceptIndex& index, const std::vector<std::string>& words) {
  StemCache stems;
  std::vector<StemId> distinct;
  uint64_t hash = 0;
  for (const std::string& word : words) {
    const TextWord w = stems.classify(word, index);
    if (w.kind != TextWord::Kind::kKnown) return -1;
    const std::optional<StemId> id = w.stem;
    if (std::find(distinct.begin(), distinct.end(), *id) != distinct.end()) continue;
    distinct.push_back(*id);
    hash += index.stem_hash(*id);
  }
  const std::optional<RowId> row =
      index.lookup(hash, static_cast<uint32_t>(words.size()), distinct);
  return row ? static_cast<int>(row->v) : -1;
}

bool is_known(const ConceptIndex& index, std::string_view word) {
  StemCache stems;
  return stems.classify(word, index).kind == TextWord::Kind::kKnown;
}

LabelTable table(std::initializer_list<const char*> surfaces) {
  LabelTable labels;
  int n = 0;
  for (const char* surface : surfaces) labels.add("HP:" + std::to_string(++n), surface);
  return labels;
}

std::unique_ptr<const ConceptIndex> index_of(const LabelTable& labels) {
  return ConceptIndex::build(LoweredSurfaces(labels).views());
}

TEST_CASE("windows find label variants whatever the word order") {
  const auto labels = table({
      "Cardiac abnormality",           // 0: its variant {heart, abnorm} comes first...
      "Abnormality of the heart",      // 1: ...but this base entry wins the lookup
      "Recurrent fever",               // 2: modifier variant {fever}
      "Recurrent cancer",              // 3: no {cancer} variant: cancer has 3+ group mates
      "Multiple paroxysmal seizures",  // 4: two modifier variants, never both dropped
      "Foo foo bar",                   // 5: repeated stem counts twice
      "of the",                        // 6: only stop words: nothing indexed
      "Tumor tumor growth",            // 7: a group mate replaces every occurrence
  });
  const auto index = index_of(labels);

  struct Case {
    std::vector<std::string> words;
    int row;
  };
  const Case cases[] = {
      {{"abnormality", "cardiac"}, 0},
      {{"heart", "abnormality"}, 1},
      {{"abnormalities", "heart"}, 1},
      {{"fever", "recurrent"}, 2},
      {{"fever"}, 2},
      {{"cancer"}, -1},
      {{"paroxysmal", "seizures"}, 4},
      {{"seizures", "multiple"}, 4},
      {{"seizures"}, -1},
      {{"bar", "foo", "foo"}, 5},
      {{"foo", "bar"}, -1},
      {{"cancer", "growth", "cancer"}, 7},
      {{"cancer", "growth", "tumor"}, -1},
  };
  for (const Case& c : cases) {
    CAPTURE(c.words.front());
    CHECK(find(*index, c.words) == c.row);
  }
  CHECK_FALSE(is_known(*index, "the"));
}

// Stem ids are numbered per index, so a cache that served one index must not
// hand its ids to another.
TEST_CASE("one stem cache serves indexes in turn") {
  const auto first = index_of(table({"Kidney cyst", "Ataxia"}));
  const auto second = index_of(table({"Ataxia"}));
  StemCache stems;
  for (int round = 0; round < 2; ++round) {
    CHECK(stems.classify("cyst", *first).kind == TextWord::Kind::kKnown);
    CHECK(stems.classify("cyst", *second).kind == TextWord::Kind::kUnknown);
    const TextWord in_first = stems.classify("ataxia", *first);
    const TextWord in_second = stems.classify("ataxia", *second);
    REQUIRE((in_first.kind == TextWord::Kind::kKnown && in_second.kind == TextWord::Kind::kKnown));
    CHECK(first->stem_text(in_first.stem) == "ataxia");
    CHECK(second->stem_text(in_second.stem) == "ataxia");
  }
}

TEST_CASE("the stem cache keeps its verdicts when it fills and starts afresh") {
  const auto index = index_of(table({"Kidney cyst"}));
  StemCache stems;
  for (size_t i = 0; i < StemCache::kMaxWords + 5000; ++i) {
    REQUIRE(stems.classify("w" + std::to_string(i), *index).kind == TextWord::Kind::kUnknown);
    if (i % 4096 != 0) continue;
    REQUIRE(stems.classify("cysts", *index).kind == TextWord::Kind::kKnown);
    REQUIRE(stems.classify("the", *index).kind == TextWord::Kind::kSkip);
  }
  CHECK(stems.classify("kidney", *index).kind == TextWord::Kind::kKnown);
  CHECK(stems.classify(std::string(StemCache::kMaxWordBytes + 1, 'k'), *index).kind ==
        TextWord::Kind::kUnknown);
}

TEST_CASE("group mates join the vocabulary without any label holding them") {
  const auto index = index_of(table({"Kidney cyst"}));
  CHECK(is_known(*index, "renal"));
  CHECK(find(*index, {"renal", "cyst"}) == 0);
  CHECK(find(*index, {"kidney", "keratocyst"}) == 0);
}

// Keys compare by the joined text of their sorted stems: the variant of row 2
// with "triangular" replaced by its mate "delta-shap" is the key
// "delta-shap-teeth" of three tokens, which is exactly what the words
// "delta shaps teeth" produce.
TEST_CASE("a key with a hyphenated group stem is found by its pieces") {
  SUBCASE("the only entry") {
    const auto index = index_of(table({"Delta", "Shaps", "Triangular triangular teeth"}));
    CHECK(find(*index, {"delta", "shaps", "teeth"}) == 2);
    CHECK(find(*index, {"teeth", "delta", "shaps"}) == 2);
    CHECK(find(*index, {"delta", "shaps"}) == -1);
  }
  SUBCASE("a base entry with the same joined text wins, wherever it stands") {
    const auto index =
        index_of(table({"Delta", "Shaps", "Triangular triangular teeth", "Delta shaps teeth"}));
    CHECK(find(*index, {"delta", "shaps", "teeth"}) == 3);
  }
  SUBCASE("pieces out of order reach nothing, but the key still counts") {
    const auto index = index_of(table({"Delta", "Shaps", "Triangular face"}));
    CHECK(find(*index, {"delta", "shaps", "face"}) == -1);
    CHECK(index->stats().keys > index->stats().reachable_keys);
  }
}

TEST_CASE("the real release builds the expected tables") {
  auto built = build_from_path(CORVANTA_EMBEDDED_RELEASE);
  REQUIRE(built.ok());
  const MatcherState& state = *built.value();
  CHECK(state.version() == "2025-05-06");
  CHECK(state.labels().size() == 40751);
  CHECK(state.automaton().pattern_count() == 40751);
  CHECK(state.index().stats().keys == 215148);
  CHECK(state.index().stats().vocabulary == 10220);
  // Every term of the phenotype subtree has a row; a label that loses its
  // parenthesised abbreviation keeps one row.
  std::set<std::string_view> terms;
  size_t saag_rows = 0;
  for (size_t row = 0; row < state.labels().size(); ++row) {
    const LabelEntry e = state.labels()[row];
    terms.insert(e.term_id);
    if (e.surface != "Elevated serum-ascites albumin gradient ") continue;
    ++saag_rows;
    CHECK(e.term_id == "HP:6000863");
  }
  CHECK(terms.size() == 18507);
  CHECK(saag_rows == 1);
}

}  // namespace
}  // namespace corvanta
