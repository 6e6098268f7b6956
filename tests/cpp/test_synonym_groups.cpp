#include <doctest/doctest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/embedded_data.hpp"
#include "lexicon/synonym_groups.hpp"
#include "text/stemmer.hpp"

using corvanta::SynonymGroups;
using corvanta::text::Stemmer;

namespace {

std::set<std::string> mates_of(const SynonymGroups& groups, Stemmer& stemmer,
                               std::string_view word) {
  const std::vector<std::string>* list = groups.find(stemmer.stem(word));
  REQUIRE(list != nullptr);
  return {list->begin(), list->end()};
}

std::set<std::string> stems_of(Stemmer& stemmer, std::initializer_list<std::string_view> words) {
  std::set<std::string> out;
  for (std::string_view w : words) out.emplace(stemmer.stem(w));
  return out;
}

}  // namespace

TEST_CASE("groups built from the embedded lists") {
  Stemmer stemmer;
  const SynonymGroups groups = corvanta::build_synonym_groups(stemmer);
  CHECK_FALSE(groups.empty());
  CHECK(groups.size() == 274);

  SUBCASE("lines that share a stem are joined") {
    struct Case {
      std::string_view word;
      std::initializer_list<std::string_view> mates;
    };
    const Case cases[] = {
        {"tumor",
         {"cancer", "neuroma", "neurinoma", "carcinoma", "neoplasia", "neoplasm", "tumour"}},
        {"cancer",
         {"tumor", "neuroma", "neurinoma", "carcinoma", "neoplasia", "neoplasm", "tumours"}},
        {"anemia", {"anaemia"}},
        {"anaemia", {"anemia"}},
        {"aplasia", {"missing", "absent", "absence", "agenesis"}},
        {"diminished", {"reduced", "decreased", "low", "lack"}},
        {"heart", {"cardiac"}},
        {"liver", {"hepatic"}},
        {"ca2+", {"calcium"}},
        {"calcium", {"ca2+"}},
        {"delta-shaped", {"triangular"}},
        {"triangular", {"delta-shaped"}},
    };
    for (const Case& c : cases) {
      CAPTURE(c.word);
      CHECK(mates_of(groups, stemmer, c.word) == stems_of(stemmer, c.mates));
    }
  }

  SUBCASE("every word of the first line lists all the others") {
    const std::string_view line =
        corvanta::data::kSynonymList1.substr(0, corvanta::data::kSynonymList1.find('\r'));
    std::vector<std::string> stems;
    for (size_t begin = 0; begin <= line.size();) {
      size_t comma = line.find(',', begin);
      if (comma == std::string_view::npos) comma = line.size();
      std::string_view word = line.substr(begin, comma - begin);
      while (word.front() == ' ') word.remove_prefix(1);
      stems.emplace_back(stemmer.stem(word));
      begin = comma + 1;
    }
    REQUIRE(stems.size() == 25);
    for (const std::string& stem : stems) {
      CAPTURE(stem);
      const std::vector<std::string>* list = groups.find(stem);
      REQUIRE(list != nullptr);
      for (const std::string& other : stems)
        CHECK((std::find(list->begin(), list->end(), other) != list->end()) == (other != stem));
    }
  }

  SUBCASE("words in no line have no group") {
    for (std::string_view word : {"spleen", "", "tumor,cancer", "Tumor"}) {
      CAPTURE(word);
      CHECK(groups.find(stemmer.stem(word)) == nullptr);
    }
  }
}

TEST_CASE("parsing of list texts") {
  Stemmer stemmer;
  struct Case {
    std::string_view name;
    std::string_view list;
    std::string_view word;
    std::initializer_list<std::string_view> mates;
  };
  const Case cases[] = {
      {"CR LF endings and spaces", "a1, b1\r\n  c1 ,d1 \r\n", "c1", {"d1"}},
      {"last line without ending", "x1, y1\r\nz1, w1", "w1", {"z1"}},
      {"bare LF; a second CR is White_Space", "p1,q1\nr1,s1\r\r\n", "r1", {"s1"}},
      {"blank lines and empty entries", "\r\n \t\r\n,e1,, f1 ,\r\n", "e1", {"f1"}},
      {"one stem per line gives an empty list", "tumours, tumour\r\n", "tumour", {}},
      {"a word stands once per line", "tumor, tumor, cancer\r\n", "tumor", {"cancer"}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    const std::string_view lists[] = {c.list};
    const SynonymGroups groups = corvanta::build_synonym_groups_from(lists, stemmer);
    CHECK(mates_of(groups, stemmer, c.word) == stems_of(stemmer, c.mates));
  }

  SUBCASE("a word in two lists collects both groups") {
    const std::string_view lists[] = {"a1, b1\r\n", "c1, a1\r\n"};
    const SynonymGroups groups = corvanta::build_synonym_groups_from(lists, stemmer);
    CHECK(mates_of(groups, stemmer, "a1") == stems_of(stemmer, {"b1", "c1"}));
    CHECK(mates_of(groups, stemmer, "b1") == stems_of(stemmer, {"a1"}));
    CHECK(groups.size() == 3);
  }
}
