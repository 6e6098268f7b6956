#include <doctest/doctest.h>

#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lexicon/labels.hpp"
#include "ontology/ontology.hpp"
#include "text/stemmer.hpp"

using namespace corvanta;

namespace {

struct TermSpec {
  std::string_view local_id;
  std::string_view label;
  std::initializer_list<std::string_view> synonyms;
  bool phenotype = true;
};

struct Row {
  std::string_view local_id;
  std::string_view surface;
};

struct Fixture {
  ontology::Ontology ontology;
  ontology::PhenotypeSubtree subtree;
};

Fixture make_fixture(std::initializer_list<TermSpec> specs) {
  Fixture f;
  for (const TermSpec& spec : specs) {
    ontology::Term term{"HP:" + std::string(spec.local_id), spec.label, {}};
    for (std::string_view s : spec.synonyms) term.synonyms.push_back({s});
    if (spec.phenotype) f.subtree.insert(term.id_text);
    f.ontology.terms.push_back(std::move(term));
  }
  return f;
}

std::vector<std::string> printed(const LabelTable& table) {
  std::vector<std::string> out;
  for (size_t row = 0; row < table.size(); ++row)
    out.push_back(std::string(table[row].term_id) + " " + std::string(table[row].surface));
  return out;
}

std::vector<std::string> printed(std::initializer_list<Row> rows) {
  std::vector<std::string> out;
  for (const Row& r : rows)
    out.push_back("HP:" + std::string(r.local_id) + " " + std::string(r.surface));
  return out;
}

}  // namespace

TEST_CASE("build_label_table") {
  struct Case {
    std::string_view name;
    std::initializer_list<TermSpec> terms;
    std::initializer_list<Row> rows;
  };
  const Case cases[] = {
      {"a unique label keeps itself and loses synonyms equal to any unique label",
       {{"1", "Seizure", {"Seizure", "Fits", "Epilepsy", "seizure"}}, {"2", "Epilepsy", {}}},
       {{"1", "Seizure"}, {"1", "Fits"}, {"1", "seizure"}, {"2", "Epilepsy"}}},
      {"a shared label gives way to the first synonym, or the term drops out",
       {{"1", "Dup", {"Alpha", "Beta"}},
        {"2", "Dup", {}},
        {"3", "Dup", {"Gamma"}},
        {"4", "Solo", {}}},
       {{"1", "Alpha"}, {"1", "Beta"}, {"3", "Gamma"}, {"4", "Solo"}}},
      {"synonyms equal to a shared label stay, even as the new label",
       {{"1", "Dup", {"Dup", "Other"}}, {"2", "Dup", {"Bee"}}, {"3", "Cee", {"Dup"}}},
       {{"1", "Dup"}, {"1", "Other"}, {"2", "Bee"}, {"3", "Cee"}, {"3", "Dup"}}},
      {"a promoted synonym is not compared with labels again",
       {{"1", "Dup", {"Zed"}}, {"2", "Dup", {"Zed", "Why"}}},
       {{"1", "Zed"}, {"2", "Zed"}, {"2", "Why"}}},
      {"pruning sees labels after the parenthesis rule",
       {{"1", "Foo (X)", {}}, {"2", "Foo X", {}}, {"3", "Bar (BR)", {}}, {"4", "Baz", {"Bar "}}},
       {{"3", "Bar "}, {"4", "Baz"}}},
      {"short all-capital synonyms are dropped, counting characters",
       {{"1",
         "Septal defect",
         {"ASD", "VSD", "A1", "AsD", "ASDA", "123", "\u00C9\u00C9", "\u00C9\u00C9\u00C9\u00C9",
          "\u03A3", "Xy"}}},
       {{"1", "Septal defect"},
        {"1", "AsD"},
        {"1", "ASDA"},
        {"1", "123"},
        {"1", "\u00C9\u00C9\u00C9\u00C9"},
        {"1", "Xy"}}},
      {"synonyms the strict parenthesis rule rejects are dropped, the rest kept verbatim",
       {{"1",
         "Autism",
         {"Autism spectrum disorder (ASD)", "Hypertension (high blood pressure)", "Foo ()", "Foo (",
          "Type (A) x", "(ASD) (b)"}}},
       {{"1", "Autism"},
        {"1", "Autism spectrum disorder (ASD)"},
        {"1", "Foo ("},
        {"1", "Type (A) x"}}},
      {"a repeated synonym counts once, case significant, label aside",
       {{"1", "Foo", {"Foo bar", "foo bar", "Foo bar", "Foo", "Foo"}}, {"2", "Foo", {}}},
       {{"1", "Foo bar"}, {"1", "foo bar"}, {"1", "Foo"}}},
      {"terms outside the subtree take no part",
       {{"1", "Same", {"Extra"}, false}, {"2", "Same", {"Other"}}, {"3", "Root", {"Same"}}},
       {{"2", "Same"}, {"2", "Other"}, {"3", "Root"}}},
      {"the parenthesis rule keeps a space in front of a dropped abbreviation",
       {{"6000863", "Elevated serum-ascites albumin gradient (SAAG)", {"High SAAG"}},
        {"2", "", {}}},
       {{"6000863", "Elevated serum-ascites albumin gradient "},
        {"6000863", "High SAAG"},
        {"2", ""}}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    const Fixture f = make_fixture(c.terms);
    CHECK(printed(build_label_table(f.ontology, f.subtree)) == printed(c.rows));
  }
}

TEST_CASE("strip_parentheses") {
  const std::optional<std::string> rejected;
  struct Case {
    std::string_view in;
    std::string_view lenient;
    std::optional<std::string> strict;
  };
  const Case cases[] = {
      {"Atrial septal defect (ASD) type 2", "Atrial septal defect type 2",
       "Atrial septal defect type 2"},
      {"Atrial septal defect (ASD)", "Atrial septal defect ", "Atrial septal defect "},
      {"Type (A) deficiency", "Type A deficiency", "Type A deficiency"},
      {"Hypoplasia (of the) ulna", "Hypoplasia of the ulna", rejected},
      {"Hypertension (high blood pressure)", "Hypertension high blood pressure", rejected},
      {"Foo ()", "Foo ", rejected},
      {"(123)", "123", rejected},
      {"a (b) c (D) e", "a b c D e", rejected},
      {"a) b (c) d", "a) b c d", rejected},
      {"a (X) b ( ASD )  c ", "a X b c", "a X b c"},
      {"Foo (ASD", "Foo (ASD", "Foo (ASD"},
      {"No parentheses", "No parentheses", "No parentheses"},
      {"x (\u00C9) y", "x \u00C9 y", "x \u00C9 y"},
      {"x (\u00C9\u00C9) \u00A0y\u3000", "x y", "x y"},
      {"A (B (C) D) E", "A D) E", "A D) E"},
      {"(ASD) (a)", "a", rejected},
      {"(a) (ASD)", "a ", rejected},
      {"x (1-A) y", "x y", "x y"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.in);
    CHECK(strip_parentheses(c.in, false) == std::optional<std::string>(c.lenient));
    CHECK(strip_parentheses(c.in, true) == c.strict);
  }
}

TEST_CASE("normalize_punctuation") {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"2.5", "25"},
      {"X-linked", "X linked"},
      {"Crohn's", "Crohn s"},
      {"Crohn\u2019s", "Crohns"},
      {"\"%(),.<>[]{}", ""},
      {"'+-/:;_", "       "},
      {"!?&*=#@\\^`|~$ \t\n", "!?&*=#@\\^`|~$ \t\n"},
      {"\u2013\u2019\u2018\u201D\u00E9", "\u2013\u2018\u201D\u00E9"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.in);
    CHECK(normalize_punctuation(c.in) == c.out);
  }
}

TEST_CASE("tokenize_label") {
  text::Stemmer stemmer;
  struct Case {
    std::string_view surface;
    std::vector<std::string> stems;
  };
  const Case cases[] = {
      {"Abnormality of the Heart", {"abnorm", "heart"}},
      {"No (2.5) or", {"25"}},
      {"X-linked recessive inheritance", {"x", "link", "recess", "inherit"}},
      {"Of the And IS", {}},
      {"", {}},
      {" \t() ", {}},
      {"  Seizures\u00A0\u00A0seizures  ", {"seizur", "seizur"}},
      {"Crohn\u2019s disease", {"crohn", "diseas"}},
      {"Crohn's disease", {"crohn", "s", "diseas"}},
      {"Ca2+ level", {"ca2", "level"}},
      {"Being beings", {"be"}},
      {"\u0130", {"i\u0307"}},
      {"\u0391\u03A3", {"\u03B1\u03C2"}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.surface);
    CHECK(tokenize_label(c.surface, stemmer) == c.stems);
  }
}

TEST_CASE("word lists") {
  const std::set<std::string_view> stop = {"of",   "in",   "at",   "or",    "on",     "by",
                                           "no",   "an",   "be",   "is",    "do",     "the",
                                           "and",  "but",  "are",  "has",   "had",    "did",
                                           "have", "been", "done", "being", "having", "because"};
  const std::set<std::string_view> skip = {
      "of",     "in",     "at",      "is",      "the",      "was",      "seems",   "noted",
      "appear", "seemed", "appears", "remains", "appeared", "observed", "remained"};
  const std::set<std::string_view> modifiers = {
      "localized", "generalized", "unilateral",   "multiple",   "paroxysmal", "recurrent",
      "proximal",  "morphology",  "physiology",   "level",      "proportion", "electroretinogram",
      "activity",  "count",       "ossification", "potentials", "ratio",      "glycosylation",
      "behavior"};
  CHECK(std::set<std::string_view>(kLabelStopWords.begin(), kLabelStopWords.end()) == stop);
  CHECK(std::set<std::string_view>(kTextSkipWords.begin(), kTextSkipWords.end()) == skip);
  CHECK(std::set<std::string_view>(kModifierWords.begin(), kModifierWords.end()) == modifiers);

  std::set<std::string_view> probes = {"", "Of", "the ", "t", "ofx", "seem", "beings", "noted."};
  probes.insert(stop.begin(), stop.end());
  probes.insert(skip.begin(), skip.end());
  for (std::string_view w : probes) {
    CAPTURE(w);
    CHECK(is_label_stop_word(w) == (stop.count(w) == 1));
    CHECK(is_text_skip_word(w) == (skip.count(w) == 1));
  }
}
