// Term ids (forms, printing, equality, the 255-byte limits), CURIE and
// cross-reference splitting, and IRI compression with the namespace table.
#include <doctest/doctest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "ontology/namespaces.hpp"
#include "ontology/term_id.hpp"

namespace corvanta::ontology {
namespace {

TermId make(std::string_view prefix, std::string_view local_id) {
  Result<TermId> id = TermId::from(prefix, local_id);
  REQUIRE(id.ok());
  return std::move(id).value();
}

TEST_CASE("a term id takes the compact form exactly for a known prefix and a 32-bit number") {
  struct Case {
    std::string_view prefix;
    std::string local_id;
    bool compact;
    std::string printed;
  };
  const Case cases[] = {
      {"HP", "0000118", true, "HP:0000118"},
      {"HP", "118", true, "HP:118"},
      {"HP", "0", true, "HP:0"},
      {"HP", "4294967295", true, "HP:4294967295"},
      {"HP", "4294967296", false, "HP:4294967296"},
      {"HP", "00000000000000000000004294967295", true, "HP:00000000000000000000004294967295"},
      {"HP", "99999999999999999999", false, "HP:99999999999999999999"},
      {"HP", "", false, "HP:"},
      {"HP", "-1", false, "HP:-1"},
      {"HP", "12a", false, "HP:12a"},
      {"ORPHA", "558", true, "ORPHA:558"},
      {"Orphanet", "558", false, "Orphanet:558"},
      {"hp", "0000118", false, "hp:0000118"},
      {"ORCID", "0000-0002-1825-0097", false, "ORCID:0000-0002-1825-0097"},
      {"", "", false, ":"},
      {"MP", "0001", true, "MP:0001"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.printed);
    const TermId id = make(c.prefix, c.local_id);
    CHECK(id.is_compact() == c.compact);
    CHECK(id.to_string() == c.printed);
    CHECK(id.prefix() == c.prefix);
  }
  // Every known prefix, with its fixed code, prints back as itself.
  for (uint8_t code = 0; code < 13; ++code) {
    const std::string_view prefix = known_prefix_text(static_cast<KnownPrefix>(code));
    CHECK(known_prefix(prefix) == static_cast<KnownPrefix>(code));
    CHECK(make(prefix, "7").to_string() == std::string(prefix) + ":7");
  }
  CHECK(known_prefix_text(KnownPrefix::kPmid) == "PMID");
  CHECK(sizeof(TermId) == 2 * sizeof(void*));
}

TEST_CASE("term ids are equal exactly when they print the same") {
  const std::vector<TermId> ids = {
      make("HP", "0000118"),   make("HP", "118"),    make("HP", "4294967296"), make("HP", ""),
      make("Orphanet", "558"), make("ORPHA", "558"), make("HP:0", "1"),        make("HP", "0:1"),
  };
  for (size_t a = 0; a < ids.size(); ++a) {
    for (size_t b = 0; b < ids.size(); ++b) {
      // Both general ids "HP:0:1" print alike but split differently.
      const bool same_fields = a == b;
      CHECK((ids[a] == ids[b]) == same_fields);
    }
  }
  std::unordered_set<TermId> set(ids.begin(), ids.end());
  CHECK(set.size() == ids.size());
  CHECK(set.count(make("HP", "0000118")) == 1);
  CHECK(set.count(make("HP", "00118")) == 0);
}

TEST_CASE("general-form ids own their text through copies and moves") {
  std::string prefix = "Orphanet";
  std::string local_id = "558";
  TermId original = make(prefix, local_id);
  prefix.assign("XXXXXXXX");
  local_id.assign("999");
  TermId copy = original;
  TermId moved = std::move(copy);
  TermId assigned = make("HP", "1");
  assigned = moved;
  assigned = assigned;  // NOLINT: self-assignment keeps the value
  CHECK(original.to_string() == "Orphanet:558");
  CHECK(moved == original);
  CHECK(assigned == original);
  CHECK(moved.hash() == original.hash());
}

TEST_CASE("the 255-byte limits") {
  const std::string zeros_255(255, '0');
  const std::string long_prefix(256, 'P');
  std::string utf8_prefix;  // 128 characters, 256 bytes
  for (int i = 0; i < 128; ++i) utf8_prefix += "\u00e9";
  struct Case {
    std::string prefix;
    std::string local_id;
    std::string_view failure;  // empty: accepted
  };
  const Case cases[] = {
      {"HP", zeros_255, ""},
      {"HP", zeros_255 + "1", kIdTooLong},
      {"HP", std::string(300, '9'), ""},  // too large for 32 bits: general form
      {"Orphanet", zeros_255 + "1", ""},  // unknown prefix: general form, no id limit
      {"HP", std::string(1000, 'x'), ""},
      {std::string(255, 'P'), "1", ""},
      {long_prefix, "1", kPrefixTooLong},
      {utf8_prefix, "1", kPrefixTooLong},
  };
  for (const Case& c : cases) {
    CAPTURE(c.prefix.size());
    CAPTURE(c.local_id.size());
    Result<TermId> id = TermId::from(c.prefix, c.local_id);
    Status check = TermId::check(c.prefix, c.local_id);
    CHECK(id.ok() == c.failure.empty());
    CHECK(check.ok() == c.failure.empty());
    if (!c.failure.empty()) {
      CHECK(id.error().code == Errc::kInvariant);
      CHECK(id.error().message == c.failure);
      CHECK(check.error().message == c.failure);
    }
  }
  CHECK(kIdTooLong == "ID should not be longer than 255 chars!");
  CHECK(kPrefixTooLong == "Curie prefix should not be longer than 255 chars!");
  CHECK(make("HP", zeros_255).to_string() == "HP:" + zeros_255);
}

TEST_CASE("CURIE and cross-reference splitting") {
  using Parts = std::optional<CurieParts>;
  struct Case {
    std::string_view text;
    Parts curie;
    Parts xref;
  };
  const Case cases[] = {
      {"HP:0000118", CurieParts{"HP", "0000118"}, CurieParts{"HP", "0000118"}},
      {"MONDO_0007739", CurieParts{"MONDO", "0007739"}, CurieParts{"MONDO", "0007739"}},
      {"a_b:c_d", CurieParts{"a_b", "c_d"}, CurieParts{"a_b", "c_d"}},
      {"word", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {":", CurieParts{"", ""}, CurieParts{"", ""}},
      {"_x", CurieParts{"", "x"}, CurieParts{"", "x"}},
      {"https://orcid.org/0000-0002-1825-0097",
       CurieParts{"https", "//orcid.org/0000-0002-1825-0097"},
       CurieParts{"ORCID", "0000-0002-1825-0097"}},
      {"https://orcid.org/", CurieParts{"https", "//orcid.org/"}, CurieParts{"ORCID", ""}},
      {"http://orcid.org/1", CurieParts{"http", "//orcid.org/1"},
       CurieParts{"http", "//orcid.org/1"}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.text);
    CHECK(split_curie(c.text) == c.curie);
    CHECK(split_xref(c.text) == c.xref);
  }
  CHECK(kOrcidIriBase.size() == 18);
  const CurieParts orcid = *split_xref("https://orcid.org/0000-0002-1825-0097");
  CHECK_FALSE(make(orcid.prefix, orcid.local_id).is_compact());
}

TEST_CASE("namespace table text: comments, blanks and prefixes") {
  const NamespaceTable table = NamespaceTable::parse(
      "# a comment line\n"
      "\n"
      "   \t\n"
      "  owl :  http://www.w3.org/2002/07/owl#\n"
      "X: http://x.org/a#b # a trailing comment\n"
      "cut: http://c.org/a# \n"  // "# " starts a comment even here
      "no colon here\n"
      "CR: http://cr.org/\r\n"
      "url: http://u.org/p:q");
  const std::vector<NamespaceEntry>& entries = table.entries();
  REQUIRE(entries.size() == 5);
  CHECK(entries[0].prefix == "owl");
  CHECK(entries[0].iri_namespace == "http://www.w3.org/2002/07/owl#");
  CHECK(entries[1].iri_namespace == "http://x.org/a#b");
  CHECK(entries[2].iri_namespace == "http://c.org/a");
  CHECK(entries[3].iri_namespace == "http://cr.org/");
  CHECK(entries[4].prefix == "url");
  CHECK(entries[4].iri_namespace == "http://u.org/p:q");
}

TEST_CASE("IRI compression takes the shortest namespace not shadowing an earlier one") {
  const NamespaceTable table = NamespaceTable::parse(
      "A: http://x.org/obo/A_\n"
      "AB: http://x.org/obo/A_B\n"  // longer: never wins over A
      "ALL: http://x.org/obo/\n"    // starts A and AB, listed after them
      "Y: http://y.org/\n"
      "Y2: http://y.org/\n"     // the same namespace again: the first keeps it
      "Z: http://y.org/z/\n");  // eligible, but Y is shorter
  using Parts = std::optional<CurieParts>;
  const std::pair<std::string_view, Parts> cases[] = {
      {"http://x.org/obo/A_1", CurieParts{"A", "1"}},
      {"http://x.org/obo/A_B1", CurieParts{"A", "B1"}},
      {"http://x.org/obo/C_1", std::nullopt},
      {"http://x.org/obo/", std::nullopt},
      {"http://y.org/z/1", CurieParts{"Y", "z/1"}},
      {"http://y.org/", CurieParts{"Y", ""}},
      {"http://y.org", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [iri, expected] : cases) {
    CAPTURE(iri);
    CHECK(table.compress(iri) == expected);
  }
  // Listed first, a catch-all is the shortest eligible namespace and wins.
  const NamespaceTable catch_all_first =
      NamespaceTable::parse("ALL: http://x.org/obo/\nA: http://x.org/obo/A_\n");
  CHECK(catch_all_first.compress("http://x.org/obo/A_1") == CurieParts{"ALL", "A_1"});
}

TEST_CASE("the built-in namespace table") {
  const NamespaceTable& table = builtin_namespaces();
  const std::vector<NamespaceEntry>& entries = table.entries();
  CHECK(entries.size() == 174);
  REQUIRE(!entries.empty());
  CHECK(entries[0].prefix == "HP");
  CHECK(entries[0].iri_namespace == kHpIriBase);
  CHECK(kHpIriBase == std::string(kOboPurlBase) + "HP_");

  using Parts = std::optional<CurieParts>;
  const std::pair<std::string, Parts> cases[] = {
      {std::string(kOboPurlBase) + "HP_0000118", CurieParts{"HP", "0000118"}},
      {std::string(kOboPurlBase) + "UBERON_0000001", CurieParts{"UBERON", "0000001"}},
      {std::string(kOboPurlBase) + "OMIM_100100", CurieParts{"OMIM", "100100"}},
      {std::string(kOboPurlBase) + "hp.owl", std::nullopt},
      {std::string(kOboPurlBase) + "hp#layperson", std::nullopt},
      {"http://www.geneontology.org/formats/oboInOwl#hasDbXref",
       CurieParts{"oboInOwl", "hasDbXref"}},
      {"http://www.w3.org/2002/07/owl#deprecated", CurieParts{"owl", "deprecated"}},
      {"https://example.org/x", std::nullopt},
  };
  for (const auto& [iri, expected] : cases) {
    CAPTURE(iri);
    CHECK(compress_iri(iri) == expected);
  }
  // Every entry but the OBO catch-all maps the IRIs under it to itself.
  for (const NamespaceEntry& entry : entries) {
    CAPTURE(entry.prefix);
    const std::string iri = std::string(entry.iri_namespace) + "0000001";
    const Parts parts = compress_iri(iri);
    if (entry.prefix == "OBO") {
      CHECK(entry.iri_namespace == kOboPurlBase);
      CHECK_FALSE(parts.has_value());
    } else {
      REQUIRE(parts.has_value());
      CHECK(parts->prefix == entry.prefix);
      CHECK(parts->local_id == "0000001");
    }
  }
}

TEST_CASE("IriCompressor gives what the table gives, in any order") {
  const NamespaceTable& table = builtin_namespaces();
  std::vector<std::string> iris;
  for (const NamespaceEntry& entry : table.entries()) {
    iris.push_back(std::string(entry.iri_namespace) + "1");
    iris.push_back(std::string(entry.iri_namespace));
    iris.push_back(std::string(entry.iri_namespace.substr(0, entry.iri_namespace.size() - 1)));
  }
  iris.push_back("http://y.org/");
  std::mt19937 random(20250506);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(iris.begin(), iris.end(), random);
    IriCompressor compressor(table);
    for (const std::string& iri : iris) {
      CAPTURE(iri);
      CHECK(compressor.compress(iri) == table.compress(iri));
    }
  }
}

}  // namespace
}  // namespace corvanta::ontology
