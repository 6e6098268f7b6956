// Loading a release: file and JSON-level failures, the typed checks of the
// records, the ontology model (terms, synonyms, id limits, version) and the
// phenotype subtree, on small handwritten documents and on real releases.
#include <doctest/doctest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ontology/obographs_reader.hpp"
#include "ontology/ontology.hpp"
#include "shared_data.hpp"

namespace corvanta::ontology {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHp = "http://purl.obolibrary.org/obo/HP_";
constexpr std::string_view kReadingGraphDocument = "Reading graph document";
constexpr std::string_view kNoVersionLine = "Could not parse ontology version\n";

// A fresh directory under the system's temporary directory, removed at exit.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvanta_ontology_XXXXXX").string();
    REQUIRE(::mkdtemp(pattern.data()) != nullptr);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  [[nodiscard]] const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string write_file(const TempDir& dir, std::string_view json) {
  const std::string path = (dir.path() / "release.json").string();
  std::ofstream(path, std::ios::binary) << json;
  return path;
}

// Collects what the code under test writes to standard error.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(::dup(2)) {
    std::fflush(stderr);
    ::dup2(::fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::rewind(file_);
    std::string out;
    for (int c; (c = std::fgetc(file_)) != EOF;) out += static_cast<char>(c);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

struct Loaded {
  Result<Release> release;
  std::string stderr_text;
};

Loaded load_json(std::string_view json) {
  TempDir dir;
  const std::string path = write_file(dir, json);
  StderrCapture capture;
  Result<Release> release = load_release(path);
  return {std::move(release), capture.text()};
}

// Small JSON builders for handwritten documents.

std::string json_string(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

std::string hp(std::string_view local_id) { return std::string(kHp) + std::string(local_id); }

std::string graph(std::string_view nodes, std::string_view edges = "",
                  std::string_view extra = "") {
  return R"({"id":"g","nodes":[)" + std::string(nodes) + R"(],"edges":[)" + std::string(edges) +
         "]" + std::string(extra) + "}";
}

constexpr std::string_view kDatedGraph = R"(,"meta":{"version":"r/2025-05-06/hp.json"})";

std::string document(std::string_view nodes, std::string_view edges = "",
                     std::string_view graph_extra = kDatedGraph) {
  return R"({"graphs":[)" + graph(nodes, edges, graph_extra) + "]}";
}

std::string hp_node(std::string_view local_id, std::string_view label, std::string_view meta = "") {
  std::string node = R"({"id":")" + hp(local_id) + R"(","lbl":)" + json_string(label);
  if (!meta.empty()) node += R"(,"meta":)" + std::string(meta);
  return node + "}";
}

std::string property_value(std::string_view pred, std::string_view val,
                           std::string_view extra = "") {
  return R"({"pred":)" + json_string(pred) + R"(,"val":)" + json_string(val) + std::string(extra) +
         "}";
}

std::string edge(std::string_view sub, std::string_view pred, std::string_view obj) {
  return R"({"sub":)" + json_string(sub) + R"(,"pred":)" + json_string(pred) + R"(,"obj":)" +
         json_string(obj) + "}";
}

std::string is_a(std::string_view child, std::string_view parent) {
  return edge(hp(child), "is_a", hp(parent));
}

Release load_ok(std::string_view json) {
  Loaded loaded = load_json(json);
  if (!loaded.release.ok()) {
    FAIL_CHECK(loaded.release.error().message << " / " << loaded.release.error().cause);
    return {};
  }
  return std::move(loaded.release).value();
}

void check_failure(std::string_view json, Errc code, std::string_view message,
                   std::string_view cause_part = "") {
  Loaded loaded = load_json(json);
  REQUIRE_FALSE(loaded.release.ok());
  const Error& error = loaded.release.error();
  CHECK(error.code == code);
  CHECK(error.message == message);
  CHECK(error.cause.find(cause_part) != std::string::npos);
  CHECK(loaded.stderr_text.empty());
}

void check_read_error(std::string_view json, std::string_view cause_part) {
  check_failure(json, Errc::kRead, kReadingGraphDocument, "Reading JSON; ");
  check_failure(json, Errc::kRead, kReadingGraphDocument, cause_part);
}

std::vector<std::string> term_ids(const Release& release) {
  std::vector<std::string> ids;
  for (const Term& term : release.ontology.terms) ids.push_back(term.id_text);
  return ids;
}

std::vector<std::string> synonym_texts(const Term& term) {
  std::vector<std::string> texts;
  for (const Synonym& synonym : term.synonyms) texts.emplace_back(synonym.text);
  return texts;
}

TEST_CASE("file failures") {
  TempDir dir;
  const std::string valid = write_file(dir, document(hp_node("1", "x")));

  Result<Release> missing = load_release((dir.path() / "absent.json").string());
  REQUIRE_FALSE(missing.ok());
  CHECK(missing.error().code == Errc::kOs);
  CHECK(missing.error().message == "No such file or directory (os error 2)");

  Result<Release> directory = load_release(dir.path().string());
  REQUIRE_FALSE(directory.ok());
  CHECK(directory.error().code == Errc::kRead);
  CHECK(directory.error().message == kReadingGraphDocument);

  // The part before the NUL names a loadable file; it must not be opened.
  Result<Release> nul = load_release(valid + std::string(1, '\0') + "x");
  REQUIRE_FALSE(nul.ok());
  CHECK(nul.error().code == Errc::kOs);
  CHECK(nul.error().message == "path contains a NUL character");

  CHECK(load_release(valid).ok());
}

class IgnoredNodes final : public NodeSink {
 public:
  Status on_node(const NodeRecord&) override { return {}; }
};

// Reads `path` with a small largest document: the graph count, or the error.
Result<size_t> read_bounded(const std::string& path, size_t largest) {
  ObographsReader reader(largest);
  IgnoredNodes sink;
  Result<GraphsRecord> read = reader.read(path, sink);
  if (!read.ok()) return std::move(read).error();
  return read.value().graph_count;
}

// `text` written into a pipe by another thread, read through /dev/fd. The
// reader takes every byte of a text at most one byte past `largest`.
Result<size_t> read_bounded_from_pipe(const std::string& text, size_t largest) {
  int ends[2];
  REQUIRE(::pipe(ends) == 0);
  std::thread writer([&] {
    for (size_t at = 0; at < text.size();) {
      const ssize_t put = ::write(ends[1], text.data() + at, text.size() - at);
      if (put <= 0) break;
      at += static_cast<size_t>(put);
    }
    ::close(ends[1]);
  });
  Result<size_t> read = read_bounded("/dev/fd/" + std::to_string(ends[0]), largest);
  ::close(ends[0]);
  writer.join();
  return read;
}

TEST_CASE("reading stops past the largest document") {
  // Below and above the size of the first read from a pipe.
  for (const size_t largest : {size_t{100}, size_t{1} << 20}) {
    CAPTURE(largest);
    std::string at_limit = R"({"graphs":[]})";
    at_limit.resize(largest, ' ');
    const std::string past_limit = at_limit + " ";
    TempDir dir;

    CHECK(read_bounded(write_file(dir, at_limit), largest).value() == 0);
    CHECK(read_bounded_from_pipe(at_limit, largest).value() == 0);

    Result<size_t> failures[] = {
        read_bounded(write_file(dir, past_limit), largest),
        read_bounded_from_pipe(past_limit, largest),
        read_bounded("/dev/zero", largest),
    };
    for (Result<size_t>& failure : failures) {
      REQUIRE_FALSE(failure.ok());
      CHECK(failure.error().code == Errc::kRead);
      CHECK(failure.error().message == kReadingGraphDocument);
      CHECK(failure.error().cause.starts_with("Reading JSON; "));
    }
  }
}

TEST_CASE("JSON-level failures anywhere in the document") {
  const std::string valid = document(hp_node("1", "x"));
  const std::string body = valid.substr(0, valid.size() - 1);  // without the closing brace
  auto with_unknown = [&](std::string_view value) {
    return body + R"(,"unknown":)" + std::string(value) + "}";
  };
  CHECK(load_json(with_unknown(R"("\ud83d\ude00 \u0000")")).release.ok());
  // Metas nested in synonyms down to the depth limit: three levels per meta,
  // below root, graphs, graph, nodes and node.
  std::string deep_meta = "{}";
  for (int level = 0; level < 339; ++level) {
    deep_meta = R"({"synonyms":[{"pred":"p","val":"v","meta":)" + deep_meta + "}]}";
  }
  CHECK(load_json(document(hp_node("1", "x", deep_meta))).release.ok());
  // Integers beyond 64 bits are JSON, read as doubles; beyond doubles they are not.
  CHECK(load_json(with_unknown("[18446744073709551616,-9223372036854775809,1e300,"
                               "\"18446744073709551616\",123456789012345678901234567890]"))
            .release.ok());

  std::string utf16 = "\xFF\xFE";
  for (const char c : valid) utf16 += {c, '\0'};
  const std::string cases[] = {
      "",
      "   ",
      "not json",
      valid + " {}",
      "\xEF\xBB\xBF" + valid,
      utf16,
      with_unknown("NaN"),
      with_unknown("[Infinity]"),
      with_unknown("-Infinity"),
      with_unknown(R"("\ud800")"),
      with_unknown(R"("\udc00")"),
      with_unknown(R"("\ud800\u0041")"),
      with_unknown("\"\xff\""),
      with_unknown("\"\xc0\xaf\""),
      with_unknown("\"\xed\xa0\x80\""),
      with_unknown("\"\xe2\x80\""),
      document(hp_node("1", "At\xe4xia")),  // a Latin-1 byte in a label
      with_unknown("\"tab\there\""),
      with_unknown("[1,]"),
      with_unknown("1e400"),
      with_unknown("[18446744073709551616," + std::string(400, '9') + "]"),
  };
  for (const std::string& json : cases) {
    CAPTURE(json.substr(0, 80));
    check_read_error(json, "");
  }
}

TEST_CASE("nesting: up to 1024 open arrays and objects, the root counted") {
  const std::string valid = document(hp_node("1", "x"));
  const std::string body = valid.substr(0, valid.size() - 1);
  // `containers` open containers, the root object among them, under a key
  // of the root: arrays around a value (or nothing), or objects around an
  // innermost object.
  auto arrays = [&](int containers, std::string_view innermost) {
    const auto around = static_cast<size_t>(containers - 1);
    return body + R"(,"unknown":)" + std::string(around, '[') + std::string(innermost) +
           std::string(around, ']') + "}";
  };
  auto objects = [&](int containers, std::string_view innermost) {
    std::string json = body + R"(,"unknown":)";
    for (int i = 0; i < containers - 2; ++i) json += R"({"a":)";
    return json + std::string(innermost) + std::string(static_cast<size_t>(containers - 2), '}') +
           "}";
  };
  for (const int containers : {1024, 1025}) {
    std::vector<std::pair<std::string_view, std::string>> shapes;
    for (const std::string_view innermost : {"", "1", "\"s\"", "null", "18446744073709551616"}) {
      shapes.emplace_back(innermost, arrays(containers, innermost));
    }
    for (const std::string_view innermost : {"{}", R"({"k":1})"}) {
      shapes.emplace_back(innermost, objects(containers, innermost));
    }
    for (const auto& [innermost, json] : shapes) {
      CAPTURE(containers);
      CAPTURE(innermost);
      if (containers <= 1024) {
        CHECK(load_json(json).release.ok());
      } else {
        check_read_error(json, "too deep");
      }
    }
  }
  // A reader that once needed room for the extra level keeps the limit.
  TempDir dir;
  ObographsReader reader;
  IgnoredNodes sink;
  CHECK(reader.read(write_file(dir, arrays(1024, "1")), sink).ok());
  Result<GraphsRecord> deeper = reader.read(write_file(dir, arrays(1025, "")), sink);
  REQUIRE_FALSE(deeper.ok());
  CHECK(deeper.error().cause.find("too deep") != std::string::npos);
}

TEST_CASE("typed checks reject wrong records in every graph and every meta") {
  const std::string ok_graph = graph("");
  auto in_graph = [&](std::string_view nodes, std::string_view edges = "") {
    return R"({"graphs":[)" + graph(nodes, edges) + "]}";
  };
  auto node_meta = [&](std::string_view meta) {
    return in_graph(R"({"id":"x","meta":)" + std::string(meta) + "}");
  };
  const std::pair<std::string, std::string_view> cases[] = {
      {"[]", "expected struct GraphDocument"},
      {"{}", "missing field `graphs`"},
      {R"({"graphs":{}})", "invalid type: map, expected a sequence"},
      {R"({"graphs":null})", "invalid type: null, expected a sequence"},
      {R"({"graphs":[null]})", "expected struct Graph"},
      {R"({"graphs":[{"id":"g","nodes":[]}]})", "missing field `edges`"},
      {R"({"graphs":[{"id":"g","edges":[]}]})", "missing field `nodes`"},
      {R"({"graphs":[{"nodes":[],"edges":[]}]})", "missing field `id`"},
      {R"({"graphs":[{"id":"g","lbl":7,"nodes":[],"edges":[]}]})",
       "integer `7`, expected a string"},
      {R"({"graphs":[],"graphs":[]})", "duplicate field `graphs`"},
      {R"({"graphs":[],"meta":{"version":1}})", "expected a string"},
      {R"({"graphs":[],"meta":[]})", "expected struct Meta"},
      // The first graph is checked although only the last one is used.
      {R"({"graphs":[)" + graph(R"({"id":1})") + "," + ok_graph + "]}", "expected a string"},
      {in_graph("null"), "invalid type: null, expected struct Node"},
      {in_graph(R"({"lbl":"x"})"), "missing field `id`"},
      {in_graph(R"({"id":null})"), "invalid type: null, expected a string"},
      {in_graph(R"({"id":"x","type":"FOO"})"), "unknown variant `FOO`"},
      {in_graph(R"({"id":"x","type":"class"})"), "unknown variant `class`"},
      {in_graph(R"({"id":"x","type":1})"), "expected a string"},
      {in_graph(R"({"id":"x","lbl":"a","lbl":"b"})"), "duplicate field `lbl`"},
      {in_graph(R"({"id":"x","lbl":null,"lbl":"b"})"), "duplicate field `lbl`"},
      {in_graph(R"({"id":"x","lbl":"a","l\u0062l":"b"})"), "duplicate field `lbl`"},
      {in_graph("", R"({"sub":"a","pred":"is_a"})"), "missing field `obj`"},
      {in_graph("", R"({"sub":"a","pred":"is_a","obj":"b","meta":{"deprecated":"no"}})"),
       "expected a boolean"},
      {node_meta(R"({"deprecated":"yes"})"), "string \"yes\", expected a boolean"},
      {node_meta(R"({"deprecated":18446744073709551616})"), "expected a boolean"},
      {node_meta(R"({"comments":[1]})"), "expected a string"},
      {node_meta(R"({"subsets":"s"})"), "expected a sequence"},
      {node_meta(R"({"definition":{"xrefs":[]}})"), "missing field `val`"},
      {node_meta(R"({"synonyms":[{"val":"v"}]})"), "missing field `pred`"},
      {node_meta(R"({"synonyms":[null]})"), "expected struct SynonymPropertyValue"},
      {node_meta(R"({"synonyms":[{"pred":"p","val":"v","xrefs":[null]}]})"), "expected a string"},
      {node_meta(R"({"synonyms":[{"pred":"p","val":"v","synonymType":"a","synonymType":"b"}]})"),
       "duplicate field `synonymType`"},
      {node_meta(R"({"basicPropertyValues":[{"pred":"p"}]})"), "missing field `val`"},
      {node_meta(R"({"basicPropertyValues":[{"val":"v"}]})"), "missing field `pred`"},
      {node_meta(R"({"xrefs":[{"val":"v","lbl":"a","lbl":"b"}]})"), "duplicate field `lbl`"},
      {node_meta(R"({"xrefs":[{"pred":1,"val":"v"}]})"), "expected a string"},
      {node_meta(R"({"version":"v","version":"v"})"), "duplicate field `version`"},
      // A meta nested in a property value is checked like any other.
      {node_meta(R"({"synonyms":[{"pred":"p","val":"v","meta":{"xrefs":[{"val":2}]}}]})"),
       "expected a string"},
  };
  for (const auto& [json, cause] : cases) {
    CAPTURE(json);
    check_read_error(json, cause);
  }
}

TEST_CASE("typed checks accept absent and null optional keys, unknown keys and their duplicates") {
  const std::string cases[] = {
      document(R"({"id":"x","lbl":null,"type":null,"meta":null})"),
      document(R"({"id":"x","type":"CLASS"},{"id":"y","type":"INDIVIDUAL"},)"
               R"({"id":"z","type":"PROPERTY"})"),
      document(R"({"id":"x","extra":1,"extra":[null],"deep":{"lbl":1,"lbl":2}})"),
      document(R"({"id":"x","meta":{"definition":null,"comments":null,"subsets":null,)"
               R"("synonyms":null,"xrefs":null,"basicPropertyValues":null,"version":null,)"
               R"("deprecated":null}})"),
      document(R"({"id":"x","meta":{"definition":{"val":"d"},"xrefs":[{"val":"v","pred":null}]}})"),
      // Keys a record does not list are unknown there, duplicates included.
      document(R"({"id":"x","meta":{"basicPropertyValues":[)"
               R"({"pred":"p","val":"v","synonymType":1,"synonymType":2}],)"
               R"("synonyms":[{"pred":"p","val":"v","lbl":1,"lbl":2}]}})"),
      R"({"graphs":[)" + graph("", "", R"(,"lbl":null,"meta":null)") + R"(],"meta":{}})",
  };
  for (const std::string& json : cases) {
    CAPTURE(json);
    CHECK(load_json(json).release.ok());
  }
}

TEST_CASE("an empty list of graphs is an invariant failure") {
  check_failure(R"({"graphs":[]})", Errc::kInvariant,
                "Obographs document should include at least one graph");
}

TEST_CASE("nodes become terms in file order; unusable and obsolete nodes are dropped") {
  const Release release = load_ok(document(joined({
      hp_node("0000002", "second"),
      R"({"id":)" + json_string(hp("0000003")) + "}",        // no lbl
      R"({"id":"http://example.org/x_1","lbl":"outside"})",  // no namespace
      R"({"id":"http://purl.obolibrary.org/obo/hp.owl","lbl":"catch-all"})",
      hp_node("0000004", "obsolete", R"({"deprecated":true})"),
      hp_node("0000005", "current", R"({"deprecated":false})"),
      R"({"id":)" + json_string(hp("0000002")) + R"(,"lbl":"again","type":"PROPERTY","x":1})",
      R"({"id":"http://purl.obolibrary.org/obo/UBERON_0000001","lbl":"uberon"})",
      R"({"id":"http://www.orpha.net/ORDO/Orphanet_558","lbl":"orpha"})",
  })));
  CHECK(term_ids(release) == std::vector<std::string>{"HP:0000002", "HP:0000005", "HP:0000002",
                                                      "UBERON:0000001", "Orphanet:558"});
  REQUIRE(release.ontology.terms.size() == 5);
  const Term& first = release.ontology.terms[0];
  CHECK(first.label == "second");
  CHECK(release.ontology.terms[2].label == "again");
}

TEST_CASE("synonyms are kept when scope, type and every cross-reference are usable") {
  const std::string base(kHp.substr(0, kHp.size() - 3));  // the OBO PURL base
  auto type = [](std::string_view iri) { return R"(,"synonymType":)" + json_string(iri); };
  const std::string orcid = "https://orcid.org/0000-0002-1825-0097";
  const std::string synonyms = joined({
      property_value("hasExactSynonym", "exact"),
      property_value("hasRelatedSynonym", "related", type(base + "hp#layperson")),
      property_value("hasBroadSynonym", "broad",
                     R"(,"xrefs":["PMID:1",)" + json_string(orcid) + "]"),
      property_value("hasNarrowSynonym", "narrow", type(base + "go#syngo_official_label")),
      property_value("hasExactSynonym", "exact"),  // a duplicate is kept here
      property_value("hasCloseSynonym", "bad scope"),
      property_value("hasexactsynonym", "bad scope case"),
      property_value("hasExactSynonym", "bad type", type(base + "hp#unknown")),
      property_value("hasExactSynonym", "bad base", type("http://example.org/hp#layperson")),
      property_value("hasExactSynonym", "bad xref", R"(,"xrefs":["PMID:1","word"])"),
      property_value("hasExactSynonym", "last", R"(,"xrefs":["a_b"],"synonymType":null)"),
  });
  const Release release =
      load_ok(document(hp_node("0000001", "term", R"({"synonyms":[)" + synonyms + "]}")));
  REQUIRE(release.ontology.terms.size() == 1);
  CHECK(synonym_texts(release.ontology.terms[0]) ==
        std::vector<std::string>{"exact", "related", "broad", "narrow", "exact", "last"});
}

TEST_CASE("the 255-byte limits fire in node order: id, alternative ids, synonym xrefs, xrefs") {
  const std::string long_id = "HP:" + std::string(256, '0');  // compact-eligible
  const std::string long_prefix = std::string(256, 'P') + ":1";
  const std::string alt = "http://www.geneontology.org/formats/oboInOwl#hasAlternativeId";
  auto meta = [](std::string_view key, const std::vector<std::string>& values,
                 std::string_view more = "") {
    return "{" + json_string(key) + ":[" + joined(values) + "]" + std::string(more) + "}";
  };
  auto synonym = [](std::string_view pred, const std::vector<std::string>& xrefs) {
    return property_value(pred, "s", R"(,"xrefs":[)" + joined(xrefs) + "]");
  };
  auto xref = [](std::string_view val) { return R"({"val":)" + json_string(val) + "}"; };
  const std::string exact = "hasExactSynonym";
  const std::string word = json_string("word");
  struct Case {
    std::string node;
    std::string_view failure;  // empty: loads
  };
  const Case cases[] = {
      {hp_node(std::string(256, '0'), "x"), kIdTooLong},
      {hp_node(std::string(255, '0'), "x"), ""},
      {R"({"id":)" + json_string(hp(std::string(256, '0'))) + "}", ""},  // no lbl: no term id
      {hp_node(std::string(256, '0'), "x", R"({"deprecated":true})"), kIdTooLong},
      {hp_node("1", "x", meta("basicPropertyValues", {property_value(alt, long_id)})), kIdTooLong},
      {hp_node("1", "x", meta("basicPropertyValues", {property_value("other", long_id)})), ""},
      {hp_node("1", "x", meta("synonyms", {synonym(exact, {json_string(long_prefix)})})),
       kPrefixTooLong},
      // Rejected by its scope, or by an earlier xref that is not a CURIE, a
      // synonym creates no ids from its (remaining) xrefs.
      {hp_node("1", "x", meta("synonyms", {synonym("bad", {json_string(long_prefix)})})), ""},
      {hp_node("1", "x", meta("synonyms", {synonym(exact, {word, json_string(long_prefix)})})), ""},
      {hp_node("1", "x", meta("synonyms", {synonym(exact, {json_string(long_prefix), word})})),
       kPrefixTooLong},
      {hp_node("1", "x", meta("xrefs", {xref(long_id)})), kIdTooLong},
      {hp_node("1", "x", meta("xrefs", {xref(long_prefix)}, R"(,"deprecated":true)")),
       kPrefixTooLong},
      // Two limits broken: the order of kinds decides, not the order of keys.
      {hp_node("1", "x",
               meta("synonyms", {synonym(exact, {json_string(long_prefix)})},
                    R"(,"basicPropertyValues":[)" + property_value(alt, long_id) + "]")),
       kIdTooLong},
      {hp_node("1", "x",
               meta("xrefs", {xref(long_id)},
                    R"(,"synonyms":[)" + synonym(exact, {json_string(long_prefix)}) + "]")),
       kPrefixTooLong},
  };
  for (const Case& c : cases) {
    CAPTURE(c.node.substr(0, 120));
    // The version is missing too, but the limit comes first: no stderr line.
    const std::string json = document(c.node, "", R"(,"meta":{"version":"no version"})");
    if (c.failure.empty()) {
      CHECK(load_json(json).release.ok());
    } else {
      check_failure(json, Errc::kInvariant, c.failure);
    }
  }
  // A typed failure later in the document wins over an earlier limit.
  check_read_error(document(hp_node(std::string(256, '0'), "x") + R"(,{"id":1})"),
                   "expected a string");
}

TEST_CASE("the release version") {
  auto meta = [](const std::vector<std::string>& values, std::string_view version) {
    std::string out = R"(,"meta":{"basicPropertyValues":[)" + joined(values) + "]";
    if (!version.empty()) out += R"(,"version":)" + json_string(version);
    return out + "}";
  };
  auto dated = [](std::string_view version) {
    return R"(,"meta":{"version":)" + json_string(version) + "}";
  };
  const std::string info =
      property_value("http://www.w3.org/2002/07/owl#versionInfo", "2025-05-06");
  struct Case {
    std::string graph_extra;
    std::optional<std::string> version;
    bool line;
  };
  const Case cases[] = {
      {meta({info}, "a/2000-01-01/hp.json"), "2025-05-06", false},
      {meta({property_value("http://example.org/x#versionInfo", "v 1"), info}, ""), "v 1", false},
      {meta({property_value("versionInfo", "v")}, "r/2024-04-26/hp.json"), "2024-04-26", false},
      {dated("http://purl.obolibrary.org/obo/hp/releases/2025-05-06/hp.json"), "2025-05-06", false},
      {dated("2025-05-06/"), "2025-05-06", false},
      {dated("a//hp.json"), "", false},
      {dated("/hp.json"), "", false},
      {dated("a/v2025-05-06/hp.json"), std::nullopt, true},
      {dated("2025-05-06"), std::nullopt, true},
      {meta({}, ""), std::nullopt, true},
      {R"(,"meta":null)", std::nullopt, false},
      {"", std::nullopt, false},
  };
  for (const Case& c : cases) {
    CAPTURE(c.graph_extra);
    Loaded loaded = load_json(document(hp_node("1", "x"), "", c.graph_extra));
    REQUIRE(loaded.release.ok());
    const Ontology& ontology = loaded.release.value().ontology;
    CHECK(ontology.version == c.version);
    CHECK(loaded.stderr_text == (c.line ? kNoVersionLine : ""));
    Result<std::string> version = ontology_version(ontology);
    CHECK(version.ok() == c.version.has_value());
    if (!version.ok()) {
      CHECK(version.error().code == Errc::kInvariant);
      CHECK(version.error().message == "Ontology should have a version");
    }
  }
}

TEST_CASE("terms and version come from the last graph, the subtree from the first") {
  const std::string json = R"({"graphs":[)" +
                           graph(hp_node("0000118", "first root"), is_a("0000001", "0000118"),
                                 R"(,"meta":{"version":"a/1111-11-11/hp.json"})") +
                           "," +
                           graph(hp_node("0000002", "last"), is_a("0000002", "0000118"),
                                 R"(,"meta":{"version":"a/2222-22-22/hp.json"})") +
                           "]}";
  const Release release = load_ok(json);
  CHECK(term_ids(release) == std::vector<std::string>{"HP:0000002"});
  CHECK(release.ontology.version == "2222-22-22");
  CHECK(release.subtree.size() == 2);
  CHECK(release.subtree.contains("HP:0000001"));
  CHECK_FALSE(release.subtree.contains("HP:0000002"));
}

TEST_CASE("the phenotype subtree follows is_a edges between HP terms down from HP:0000118") {
  const std::string uberon = "http://purl.obolibrary.org/obo/UBERON_1";
  const std::string edges = joined({
      is_a("0000001", "0000118"),
      is_a("0000002", "0000001"),
      is_a("0000002", "0000118"),  // a second parent: still once
      is_a("0000001", "0000002"),  // a cycle
      is_a("ABC", "0000002"),      // the rest of the IRI is kept as it is
      is_a("0000118", "0000100"),  // an ancestor is not below the root
      is_a("0000003", "0000100"),  // nor is a sibling
      edge(hp("0000009"), "http://purl.obolibrary.org/obo/BFO_0000050", hp("0000118")),
      edge(uberon, "is_a", hp("0000001")),
      edge(hp("0000004"), "is_a", uberon),
      edge("http://purl.obolibrary.org/obo/hp_0000005", "is_a", hp("0000001")),
      edge(hp("0000006"), "is_a ", hp("0000001")),
  });
  const Release release = load_ok(document(hp_node("0000001", "x"), edges));
  const std::vector<std::string> expected = {"HP:0000118", "HP:0000001", "HP:0000002", "HP:ABC"};
  CHECK(release.subtree.size() == expected.size());
  for (const std::string& id : expected) CHECK(release.subtree.contains(id));

  const Release no_edges = load_ok(document(hp_node("0000001", "x")));
  CHECK(no_edges.subtree.size() == 1);
  CHECK(no_edges.subtree.contains(kPhenotypeRoot));
}

TEST_CASE("the real release") {
  const std::string path = CORVANTA_EMBEDDED_RELEASE;
  REQUIRE(fs::exists(path));
  StderrCapture capture;
  Result<Release> loaded = load_release(path);
  CHECK(capture.text().empty());
  REQUIRE(loaded.ok());
  const Release& release = loaded.value();
  CHECK(release.ontology.version == "2025-05-06");
  // Counted with Python's json module: 19,178 current HP classes plus 21
  // labelled properties under namespaces of data/namespaces.txt; 18,507 HP
  // terms reachable from HP:0000118 over is_a edges; 23,792 synonyms of
  // current HP terms pass the scope, type and cross-reference rules.
  CHECK(release.ontology.terms.size() == 19199);
  CHECK(release.subtree.size() == 18507);
  size_t hp_terms = 0;
  size_t hp_synonyms = 0;
  for (const Term& term : release.ontology.terms) {
    if (!term.id_text.starts_with("HP:")) continue;
    ++hp_terms;
    hp_synonyms += term.synonyms.size();
  }
  CHECK(hp_terms == 19178);
  CHECK(hp_synonyms == 23792);
  CHECK(release.subtree.contains("HP:0000118"));
  CHECK(release.subtree.contains("HP:0001250"));        // Seizure
  CHECK_FALSE(release.subtree.contains("HP:0000005"));  // Mode of inheritance
}

TEST_CASE("every older release loads" * doctest::skip(!shared_data_available())) {
  struct Case {
    std::string_view file;
    std::string_view version;
    size_t terms;
    size_t subtree;
  };
  // Counts as for the real release, with the same Python script.
  const Case cases[] = {
      {"hp.2023-10-09.json.gz", "2023-10-09", 17688, 17271},
      {"hp.v2024-04-26.json.gz", "2024-04-26", 18558, 17958},
      {"hp.v2024-08-13.json.gz", "2024-08-13", 19010, 18355},
      {"hp.v2025-03-03.json.gz", "2025-03-03", 19099, 18425},
      {"hp.v2025-05-06.json.gz", "2025-05-06", 19199, 18507},
  };
  TempDir dir;
  for (const Case& c : cases) {
    CAPTURE(c.file);
    const std::string source =
        std::string(CORVANTA_SHARED_DIR) + "/hpo/orig/" + std::string(c.file);
    const std::string target = (dir.path() / "release.json").string();
    REQUIRE(std::system(("zcat '" + source + "' > '" + target + "'").c_str()) == 0);
    Result<Release> release = load_release(target);
    REQUIRE(release.ok());
    CHECK(release.value().ontology.version == c.version);
    CHECK(release.value().ontology.terms.size() == c.terms);
    CHECK(release.value().subtree.size() == c.subtree);
  }
}

}  // namespace
}  // namespace corvanta::ontology
