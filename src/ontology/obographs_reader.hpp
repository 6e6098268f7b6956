// The typed read of an OBO Graphs JSON document.
//
// The file is read whole and parsed once into a simdjson DOM, which checks
// everything that is JSON-level: UTF-8, byte-order mark, NaN/Infinity, lone
// surrogates in \u escapes, more than 1024 open arrays and objects (root
// counted, whatever the innermost holds); integers beyond 64 bits, which
// simdjson refuses, are let through. A walk over the DOM then checks the
// records of the format in every graph: required keys, JSON types (null for
// an optional key means absent), listed keys occurring twice in one object,
// node `type` values, nested `meta`. Unknown keys are skipped unchecked.
//
// The records below are views into the DOM: they live as long as the reader
// that produced them, and until its next `read`. Lists in a record are
// already checked, so walking them again cannot fail.
#pragma once

#include <simdjson.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/result.hpp"

namespace corvanta::ontology {

// A checked JSON array, read element by element with `Extract`.
template <class Record, Record (*Extract)(simdjson::dom::element)>
class RecordList {
 public:
  class Iterator {
   public:
    explicit Iterator(simdjson::dom::array::iterator at) : at_(at) {}
    Record operator*() const { return Extract(*at_); }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    simdjson::dom::array::iterator at_;
  };

  RecordList() = default;  // an absent list: empty
  explicit RecordList(simdjson::dom::array array) : begin_(array.begin()), end_(array.end()) {}
  [[nodiscard]] Iterator begin() const { return Iterator(begin_); }
  [[nodiscard]] Iterator end() const { return Iterator(end_); }
  [[nodiscard]] bool empty() const { return begin_ == end_; }

 private:
  // Default-constructed iterators compare equal, which makes an empty range.
  simdjson::dom::array::iterator begin_;
  simdjson::dom::array::iterator end_;
};

namespace detail {
std::string_view extract_string(simdjson::dom::element element) noexcept;
}  // namespace detail

using StringList = RecordList<std::string_view, detail::extract_string>;

// A BasicPropertyValue, DefinitionPropertyValue, SynonymPropertyValue or
// XrefPropertyValue; keys a kind does not list are never set.
struct PropertyValueRecord {
  std::optional<std::string_view> pred;
  std::string_view val;
  StringList xrefs;
  std::optional<std::string_view> synonym_type;
};

namespace detail {
PropertyValueRecord extract_property_value(simdjson::dom::element element) noexcept;
}  // namespace detail

using PropertyValueList = RecordList<PropertyValueRecord, detail::extract_property_value>;

// The keys of a Meta that something reads; `definition`, `comments` and
// `subsets` are checked and dropped.
struct MetaRecord {
  PropertyValueList synonyms;
  PropertyValueList xrefs;
  PropertyValueList basic_property_values;
  std::optional<std::string_view> version;
  bool deprecated = false;
};

struct NodeRecord {
  std::string_view id;
  std::optional<std::string_view> lbl;
  std::optional<MetaRecord> meta;
};

struct EdgeRecord {
  std::string_view sub;
  std::string_view pred;
  std::string_view obj;
};

namespace detail {
EdgeRecord extract_edge(simdjson::dom::element element) noexcept;
}  // namespace detail

using EdgeList = RecordList<EdgeRecord, detail::extract_edge>;

// Receives the nodes of the last graph, in file order, as they are checked.
class NodeSink {
 public:
  // A failure stops further calls; the read reports it only if the whole
  // document passes the typed checks (those failures come first).
  [[nodiscard]] virtual Status on_node(const NodeRecord& node) = 0;

 protected:
  ~NodeSink() = default;
};

// What a read yields besides the nodes of the last graph.
struct GraphsRecord {
  size_t graph_count = 0;
  std::optional<MetaRecord> last_graph_meta;  // unset: that graph has no meta
  EdgeList first_graph_edges;
};

// Owns the text and the DOM of one document; not copyable or movable, since
// the records point into it.
class ObographsReader {
 public:
  // `largest_document` bounds the bytes read from the file, the parser's own
  // limit unless a test asks for less.
  explicit ObographsReader(size_t largest_document = simdjson::SIMDJSON_MAXSIZE_BYTES)
      : parser_(largest_document) {}
  ObographsReader(const ObographsReader&) = delete;
  ObographsReader& operator=(const ObographsReader&) = delete;

  // Reads the file at `path` and checks it, passing each node of the last
  // graph to `sink`.
  // Errors:
  //   Errc::kOs    the file cannot be opened ("<description> (os error N)"),
  //                or the path contains NUL ("path contains a NUL character")
  //   Errc::kRead  reading the open file or the typed read failed: message
  //                "Reading graph document", cause "Reading JSON; <problem>"
  //                (for a failed read(2), the system's description instead);
  //                also for a file longer than the largest document, which
  //                is read no further
  //   the first failure of `sink`, if the typed read passed.
  // Throws std::bad_alloc when memory for the text or the DOM runs out.
  // An empty `graphs` list is not an error here: graph_count is then 0.
  [[nodiscard]] Result<GraphsRecord> read(std::string_view path, NodeSink& sink);

 private:
  [[nodiscard]] Status read_file(std::string_view path);

  simdjson::padded_string buffer_;  // capacity; the text is its first size_ bytes
  size_t size_ = 0;
  simdjson::dom::parser parser_;
};

}  // namespace corvanta::ontology
