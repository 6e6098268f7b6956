// The typed read walks the DOM once, record by record, in document order,
// the way a derived deserializer would: a wrong type or a second occurrence
// of a listed key fails where it occurs, a missing required key fails at the
// end of its object. Every graph is checked, and every `meta` at any depth.
//
// The nodes of the last graph are handed to the sink while the walk goes on,
// so that the model is built in the same pass; a sink failure (a term id
// limit) is held back until the walk has finished, because any typed failure
// anywhere in the document takes precedence over it.
//
// Failure texts are built only on the failure path. The DOM does not keep
// source positions, so they name the problem but not its line and column.
#include "ontology/obographs_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "base/huge_pages.hpp"

namespace corvanta::ontology {
namespace dom = simdjson::dom;

namespace detail {

std::string_view extract_string(dom::element element) noexcept {
  return element.get_string().value_unsafe();
}

PropertyValueRecord extract_property_value(dom::element element) noexcept {
  PropertyValueRecord record;
  const dom::object object = element.get_object().value_unsafe();
  for (dom::key_value_pair field : object) {
    if (field.value.is_null()) continue;
    if (field.key == "pred") {
      record.pred = field.value.get_string().value_unsafe();
    } else if (field.key == "val") {
      record.val = field.value.get_string().value_unsafe();
    } else if (field.key == "xrefs") {
      record.xrefs = StringList(field.value.get_array().value_unsafe());
    } else if (field.key == "synonymType") {
      // Checked only in synonyms; in the other kinds it may be anything.
      std::string_view type;
      if (field.value.get_string().get(type) == simdjson::SUCCESS) record.synonym_type = type;
    }
  }
  return record;
}

EdgeRecord extract_edge(dom::element element) noexcept {
  EdgeRecord record;
  const dom::object object = element.get_object().value_unsafe();
  for (dom::key_value_pair field : object) {
    if (field.key == "sub") {
      record.sub = field.value.get_string().value_unsafe();
    } else if (field.key == "pred") {
      record.pred = field.value.get_string().value_unsafe();
    } else if (field.key == "obj") {
      record.obj = field.value.get_string().value_unsafe();
    }
  }
  return record;
}

}  // namespace detail

namespace {

constexpr std::string_view kReadingGraphDocument = "Reading graph document";

std::string os_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r: returns the text, which may or may not be `buffer`.
  std::string text = strerror_r(error_number, buffer, sizeof buffer);
  text += " (os error ";
  text += std::to_string(error_number);
  text += ')';
  return text;
}

[[gnu::cold]] Error read_error(std::string problem) {
  return Error{Errc::kRead, std::string(kReadingGraphDocument), "Reading JSON; " + problem};
}

[[gnu::cold]] std::string describe(dom::element value) {
  switch (value.type()) {
    case dom::element_type::NULL_VALUE:
      return "null";
    case dom::element_type::BOOL:
      return value.get_bool().value_unsafe() ? "boolean `true`" : "boolean `false`";
    case dom::element_type::INT64:
      return "integer `" + std::to_string(value.get_int64().value_unsafe()) + "`";
    case dom::element_type::UINT64:
      return "integer `" + std::to_string(value.get_uint64().value_unsafe()) + "`";
    case dom::element_type::DOUBLE:
      return "floating point `" + std::to_string(value.get_double().value_unsafe()) + "`";
    case dom::element_type::STRING:
      return "string \"" + std::string(value.get_string().value_unsafe()) + "\"";
    case dom::element_type::ARRAY:
      return "sequence";
    case dom::element_type::OBJECT:
      return "map";
  }
  return "value";
}

[[gnu::cold]] Error type_error(dom::element value, std::string_view expected) {
  return read_error("invalid type: " + describe(value) + ", expected " + std::string(expected));
}

[[gnu::cold]] Error missing_field(std::string_view key) {
  return read_error("missing field `" + std::string(key) + "`");
}

[[gnu::cold]] Error duplicate_field(std::string_view key) {
  return read_error("duplicate field `" + std::string(key) + "`");
}

// Tracks the listed keys of one object: which occurred (a second occurrence
// is a duplicate) and whether the required ones all did. `Field` is the
// record's enum of listed keys, numbered as `keys` lists them.
template <class Field, size_t N>
class FieldSet {
 public:
  explicit constexpr FieldSet(const std::array<std::string_view, N>& keys) : keys_(keys) {}

  // The listed key `key`, or nullopt for an unknown key.
  [[nodiscard]] std::optional<Field> find(std::string_view key) const noexcept {
    for (size_t at = 0; at < N; ++at)
      if (keys_[at] == key) return static_cast<Field>(at);
    return std::nullopt;
  }
  // Marks `field` as seen; fails if it was seen before.
  [[nodiscard]] Status see(Field field) {
    const uint32_t bit = bit_of(field);
    if (seen_ & bit) return duplicate_field(key_of(field));
    seen_ |= bit;
    return {};
  }
  [[nodiscard]] Status require(Field field) const {
    if (!(seen_ & bit_of(field))) return missing_field(key_of(field));
    return {};
  }
  // Reads `value` as the record `what`: it must be an object; each listed key
  // may occur once and its value goes to on_field(field, value); unknown keys
  // are skipped.
  template <class F>
  [[nodiscard]] Status read(dom::element value, std::string_view what, F&& on_field) {
    dom::object object;
    if (value.get_object().get(object) != simdjson::SUCCESS) return type_error(value, what);
    for (dom::key_value_pair entry : object) {
      const std::optional<Field> field = find(entry.key);
      if (!field) continue;
      CORVANTA_TRY_STATUS(see(*field));
      CORVANTA_TRY_STATUS(on_field(*field, entry.value));
    }
    return {};
  }

 private:
  static uint32_t bit_of(Field field) noexcept { return uint32_t{1} << static_cast<size_t>(field); }
  std::string_view key_of(Field field) const noexcept { return keys_[static_cast<size_t>(field)]; }

  const std::array<std::string_view, N>& keys_;
  uint32_t seen_ = 0;
};

Status read_string(dom::element value, std::string_view& out) {
  if (value.get_string().get(out) != simdjson::SUCCESS) return type_error(value, "a string");
  return {};
}

Status read_optional_string(dom::element value, std::optional<std::string_view>& out) {
  if (value.is_null()) return {};
  std::string_view text;
  CORVANTA_TRY_STATUS(read_string(value, text));
  out = text;
  return {};
}

Status read_string_list(dom::element value, StringList* out) {
  if (value.is_null()) return {};
  dom::array array;
  if (value.get_array().get(array) != simdjson::SUCCESS) return type_error(value, "a sequence");
  for (dom::element element : array) {
    if (!element.is_string()) return type_error(element, "a string");
  }
  if (out != nullptr) *out = StringList(array);
  return {};
}

enum class PropertyValueKind { kBasic, kDefinition, kSynonym, kXref };

class DocumentReader {
 public:
  explicit DocumentReader(NodeSink& sink) : sink_(sink) {}

  Result<GraphsRecord> read_document(dom::element root);

 private:
  Status read_graph(dom::element value, bool first, bool last, GraphsRecord& out);
  Status read_node(dom::element value, NodeRecord& out);
  Status read_edge(dom::element value);
  Status read_meta(dom::element value, MetaRecord& out);
  Status read_property_value(dom::element value, PropertyValueKind kind);
  Status read_property_value_list(dom::element value, PropertyValueKind kind,
                                  PropertyValueList& out);
  Status read_optional_meta(dom::element value, std::optional<MetaRecord>& out) {
    if (value.is_null()) return {};
    return read_meta(value, out.emplace());
  }

  NodeSink& sink_;
  std::optional<Error> sink_error_;
};

// The listed keys of each record, in the order of its `k...Keys` array.
enum class DocumentField : uint8_t { kGraphs, kMeta };
enum class GraphField : uint8_t { kId, kLbl, kMeta, kNodes, kEdges };
enum class NodeField : uint8_t { kId, kLbl, kType, kMeta };
enum class EdgeField : uint8_t { kSub, kPred, kObj, kMeta };
enum class MetaField : uint8_t {
  kDefinition,
  kComments,
  kSubsets,
  kSynonyms,
  kXrefs,
  kBasicPropertyValues,
  kVersion,
  kDeprecated
};
// The union of the four property-value records' keys; a kind that does not
// list a key treats it as unknown.
enum class PropertyValueField : uint8_t { kPred, kVal, kXrefs, kMeta, kSynonymType, kLbl };

constexpr std::array<std::string_view, 2> kDocumentKeys = {"graphs", "meta"};
constexpr std::array<std::string_view, 5> kGraphKeys = {"id", "lbl", "meta", "nodes", "edges"};
constexpr std::array<std::string_view, 4> kNodeKeys = {"id", "lbl", "type", "meta"};
constexpr std::array<std::string_view, 4> kEdgeKeys = {"sub", "pred", "obj", "meta"};
constexpr std::array<std::string_view, 8> kMetaKeys = {
    "definition",          "comments", "subsets",   "synonyms", "xrefs",
    "basicPropertyValues", "version",  "deprecated"};
constexpr std::array<std::string_view, 6> kPropertyValueKeys = {"pred", "val",         "xrefs",
                                                                "meta", "synonymType", "lbl"};

Result<GraphsRecord> DocumentReader::read_document(dom::element root) {
  GraphsRecord record;
  FieldSet<DocumentField, kDocumentKeys.size()> fields(kDocumentKeys);
  const auto on_field = [&](DocumentField key, dom::element field) -> Status {
    if (key == DocumentField::kGraphs) {
      dom::array graphs;
      if (field.get_array().get(graphs) != simdjson::SUCCESS) {
        return type_error(field, "a sequence");
      }
      record.graph_count = graphs.size();
      size_t index = 0;
      for (dom::element graph : graphs) {
        CORVANTA_TRY_STATUS(read_graph(graph, index == 0, index + 1 == record.graph_count, record));
        ++index;
      }
    } else {
      std::optional<MetaRecord> unused;
      CORVANTA_TRY_STATUS(read_optional_meta(field, unused));
    }
    return {};
  };
  CORVANTA_TRY_STATUS(fields.read(root, "struct GraphDocument", on_field));
  CORVANTA_TRY_STATUS(fields.require(DocumentField::kGraphs));
  if (sink_error_) return std::move(*sink_error_);
  return record;
}

Status DocumentReader::read_graph(dom::element value, bool first, bool last, GraphsRecord& out) {
  FieldSet<GraphField, kGraphKeys.size()> fields(kGraphKeys);
  const auto on_field = [&](GraphField key, dom::element field) -> Status {
    switch (key) {
      case GraphField::kId: {
        std::string_view id;
        CORVANTA_TRY_STATUS(read_string(field, id));
        break;
      }
      case GraphField::kLbl: {
        std::optional<std::string_view> lbl;
        CORVANTA_TRY_STATUS(read_optional_string(field, lbl));
        break;
      }
      case GraphField::kMeta: {
        std::optional<MetaRecord> meta;
        CORVANTA_TRY_STATUS(read_optional_meta(field, meta));
        if (last) out.last_graph_meta = meta;
        break;
      }
      case GraphField::kNodes: {
        dom::array nodes;
        if (field.get_array().get(nodes) != simdjson::SUCCESS) {
          return type_error(field, "a sequence");
        }
        for (dom::element element : nodes) {
          NodeRecord node;
          CORVANTA_TRY_STATUS(read_node(element, node));
          if (!last || sink_error_) continue;
          Status status = sink_.on_node(node);
          if (!status.ok()) sink_error_ = std::move(status).error();
        }
        break;
      }
      case GraphField::kEdges: {
        dom::array edges;
        if (field.get_array().get(edges) != simdjson::SUCCESS) {
          return type_error(field, "a sequence");
        }
        for (dom::element element : edges) CORVANTA_TRY_STATUS(read_edge(element));
        if (first) out.first_graph_edges = EdgeList(edges);
        break;
      }
    }
    return {};
  };
  CORVANTA_TRY_STATUS(fields.read(value, "struct Graph", on_field));
  CORVANTA_TRY_STATUS(fields.require(GraphField::kId));
  CORVANTA_TRY_STATUS(fields.require(GraphField::kNodes));
  return fields.require(GraphField::kEdges);
}

Status DocumentReader::read_node(dom::element value, NodeRecord& out) {
  FieldSet<NodeField, kNodeKeys.size()> fields(kNodeKeys);
  const auto on_field = [&](NodeField key, dom::element field) -> Status {
    switch (key) {
      case NodeField::kId:
        CORVANTA_TRY_STATUS(read_string(field, out.id));
        break;
      case NodeField::kLbl:
        CORVANTA_TRY_STATUS(read_optional_string(field, out.lbl));
        break;
      case NodeField::kType: {
        std::optional<std::string_view> type;
        CORVANTA_TRY_STATUS(read_optional_string(field, type));
        if (type && *type != "CLASS" && *type != "INDIVIDUAL" && *type != "PROPERTY") {
          return read_error("unknown variant `" + std::string(*type) +
                            "`, expected one of `CLASS`, `INDIVIDUAL`, `PROPERTY`");
        }
        break;
      }
      case NodeField::kMeta:
        CORVANTA_TRY_STATUS(read_optional_meta(field, out.meta));
        break;
    }
    return {};
  };
  CORVANTA_TRY_STATUS(fields.read(value, "struct Node", on_field));
  return fields.require(NodeField::kId);
}

Status DocumentReader::read_edge(dom::element value) {
  FieldSet<EdgeField, kEdgeKeys.size()> fields(kEdgeKeys);
  const auto on_field = [&](EdgeField key, dom::element field) -> Status {
    if (key == EdgeField::kMeta) {
      std::optional<MetaRecord> meta;
      CORVANTA_TRY_STATUS(read_optional_meta(field, meta));
    } else {
      std::string_view end;
      CORVANTA_TRY_STATUS(read_string(field, end));
    }
    return {};
  };
  CORVANTA_TRY_STATUS(fields.read(value, "struct Edge", on_field));
  CORVANTA_TRY_STATUS(fields.require(EdgeField::kSub));
  CORVANTA_TRY_STATUS(fields.require(EdgeField::kPred));
  return fields.require(EdgeField::kObj);
}

Status DocumentReader::read_meta(dom::element value, MetaRecord& out) {
  FieldSet<MetaField, kMetaKeys.size()> fields(kMetaKeys);
  const auto on_field = [&](MetaField key, dom::element field) -> Status {
    switch (key) {
      case MetaField::kDefinition:
        if (!field.is_null()) {
          CORVANTA_TRY_STATUS(read_property_value(field, PropertyValueKind::kDefinition));
        }
        break;
      case MetaField::kComments:
      case MetaField::kSubsets:
        CORVANTA_TRY_STATUS(read_string_list(field, nullptr));
        break;
      case MetaField::kSynonyms:
        CORVANTA_TRY_STATUS(
            read_property_value_list(field, PropertyValueKind::kSynonym, out.synonyms));
        break;
      case MetaField::kXrefs:
        CORVANTA_TRY_STATUS(read_property_value_list(field, PropertyValueKind::kXref, out.xrefs));
        break;
      case MetaField::kBasicPropertyValues:
        CORVANTA_TRY_STATUS(
            read_property_value_list(field, PropertyValueKind::kBasic, out.basic_property_values));
        break;
      case MetaField::kVersion:
        CORVANTA_TRY_STATUS(read_optional_string(field, out.version));
        break;
      case MetaField::kDeprecated:
        if (!field.is_null() && field.get_bool().get(out.deprecated) != simdjson::SUCCESS) {
          return type_error(field, "a boolean");
        }
        break;
    }
    return {};
  };
  CORVANTA_TRY_STATUS(fields.read(value, "struct Meta", on_field));
  return {};
}

Status DocumentReader::read_property_value_list(dom::element value, PropertyValueKind kind,
                                                PropertyValueList& out) {
  if (value.is_null()) return {};
  dom::array array;
  if (value.get_array().get(array) != simdjson::SUCCESS) return type_error(value, "a sequence");
  for (dom::element element : array) CORVANTA_TRY_STATUS(read_property_value(element, kind));
  out = PropertyValueList(array);
  return {};
}

Status DocumentReader::read_property_value(dom::element value, PropertyValueKind kind) {
  static constexpr std::array<std::string_view, 4> kNames = {
      "struct BasicPropertyValue", "struct DefinitionPropertyValue", "struct SynonymPropertyValue",
      "struct XrefPropertyValue"};
  dom::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) {
    return type_error(value, kNames[static_cast<size_t>(kind)]);
  }
  const bool pred_required =
      kind == PropertyValueKind::kBasic || kind == PropertyValueKind::kSynonym;
  FieldSet<PropertyValueField, kPropertyValueKeys.size()> fields(kPropertyValueKeys);
  for (dom::key_value_pair field : object) {
    const std::optional<PropertyValueField> key = fields.find(field.key);
    if (!key) continue;
    if ((*key == PropertyValueField::kSynonymType && kind != PropertyValueKind::kSynonym) ||
        (*key == PropertyValueField::kLbl && kind != PropertyValueKind::kXref)) {
      continue;
    }
    CORVANTA_TRY_STATUS(fields.see(*key));
    std::string_view text;
    std::optional<std::string_view> optional_text;
    switch (*key) {
      case PropertyValueField::kPred:
        CORVANTA_TRY_STATUS(pred_required ? read_string(field.value, text)
                                          : read_optional_string(field.value, optional_text));
        break;
      case PropertyValueField::kVal:
        CORVANTA_TRY_STATUS(read_string(field.value, text));
        break;
      case PropertyValueField::kXrefs:
        CORVANTA_TRY_STATUS(read_string_list(field.value, nullptr));
        break;
      case PropertyValueField::kMeta: {
        std::optional<MetaRecord> meta;
        CORVANTA_TRY_STATUS(read_optional_meta(field.value, meta));
        break;
      }
      case PropertyValueField::kSynonymType:
      case PropertyValueField::kLbl:
        CORVANTA_TRY_STATUS(read_optional_string(field.value, optional_text));
        break;
    }
  }
  if (pred_required) CORVANTA_TRY_STATUS(fields.require(PropertyValueField::kPred));
  return fields.require(PropertyValueField::kVal);
}

bool is_number_char(char c) noexcept {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Whether `token`, a JSON integer, lies beyond 64 bits (signed for a
// negative one) but within the range of a double.
bool is_wide_integer(const std::string& token) noexcept {
  if (token.find_first_of(".eE+") != std::string::npos) return false;
  const char* end = token.data() + token.size();
  uint64_t unsigned_value = 0;
  int64_t signed_value = 0;
  const std::from_chars_result parsed = token[0] == '-'
                                            ? std::from_chars(token.data(), end, signed_value)
                                            : std::from_chars(token.data(), end, unsigned_value);
  return parsed.ec == std::errc::result_out_of_range &&
         std::isfinite(std::strtod(token.c_str(), nullptr));
}

// simdjson rejects integers beyond 64 bits, which JSON allows and which a
// reader of this format takes as doubles (failing only beyond the double
// range). No record of the format holds a number, so such an integer is
// either skipped or of a wrong type anyway: blanking each one to a "0" of
// the same width keeps the document's verdict and lets simdjson parse it.
// Returns whether anything was blanked. Runs only after a number error.
[[gnu::cold]] bool blank_wide_integers(char* text, size_t size) {
  bool blanked = false;
  size_t at = 0;
  while (at < size) {
    if (text[at] == '"') {
      for (++at; at < size && text[at] != '"'; ++at) {
        if (text[at] == '\\') ++at;
      }
      ++at;
    } else if (text[at] == '-' || (text[at] >= '0' && text[at] <= '9')) {
      const size_t begin = at;
      while (at < size && is_number_char(text[at])) ++at;
      const std::string token(text + begin, at - begin);
      if (is_wide_integer(token)) {
        text[begin] = '0';
        std::memset(text + begin + 1, ' ', token.size() - 1);
        blanked = true;
      }
    } else {
      ++at;
    }
  }
  return blanked;
}

// Open arrays and objects a document may nest, the root counted.
constexpr size_t kMaxNesting = 1024;

// Whether a container at `level` (the root's is 1), or one inside it, lies
// beyond kMaxNesting.
[[gnu::cold]] bool nests_too_deep(dom::element value, size_t level) {
  dom::array array;
  dom::object object;
  if (value.get_array().get(array) == simdjson::SUCCESS) {
    if (level > kMaxNesting) return true;
    for (dom::element element : array) {
      if (nests_too_deep(element, level + 1)) return true;
    }
  } else if (value.get_object().get(object) == simdjson::SUCCESS) {
    if (level > kMaxNesting) return true;
    for (dom::key_value_pair field : object) {
      if (nests_too_deep(field.value, level + 1)) return true;
    }
  }
  return false;
}

// Gives the parser its buffers for a document of `size` bytes before the
// parse, as the parse itself would, so that they can take 2 MiB pages: the
// tape, the string buffer and the structural indexes of the release touch
// about 50 MB. A failed allocation is left for the parse to report.
// Measured on the 2025-05-06 release (benchmarks/bench_construction.cpp,
// best of 5, 2-vCPU VM, transparent huge pages on "madvise"): the read step
// 41.8 -> 33.5 ms with the file buffer alone advised, -> 22.4 ms with the
// parser's buffers too; minor faults per two constructions 49.4k -> 25.3k.
void allocate_with_huge_pages(dom::parser& parser, size_t size) {
  const size_t capacity = std::max(size, simdjson::dom::MINIMAL_DOCUMENT_CAPACITY);
  if (capacity > parser.max_capacity()) return;
  if (parser.doc.capacity() < capacity && parser.doc.allocate(capacity) == simdjson::SUCCESS) {
    corvanta::detail::advise_huge_pages(parser.doc.tape.get(), capacity * sizeof(uint64_t));
    corvanta::detail::advise_huge_pages(parser.doc.string_buf.get(), 5 * capacity / 3);
  }
  if (parser.capacity() < capacity &&
      parser.allocate(capacity, parser.max_depth()) == simdjson::SUCCESS) {
    corvanta::detail::advise_huge_pages(parser.implementation->structural_indexes.get(),
                                        capacity * sizeof(uint32_t));
  }
}

// Parses `size` bytes of `text` into `root`. simdjson's depth limit counts a
// value inside the innermost container as one more level, so at its default
// of 1024 it refuses 1024 containers whose innermost holds a value. A
// document it refuses for depth is therefore parsed again with room for one
// more level and then refused only if a container really lies beyond the
// limit; documents of ordinary depth pay nothing for this. The parser keeps
// the extra level for later reads, which are checked the same way.
simdjson::error_code parse_document(dom::parser& parser, char* text, size_t size,
                                    dom::element& root) {
  allocate_with_huge_pages(parser, size);
  for (;;) {
    simdjson::error_code code = parser.parse(text, size, false).get(root);
    if (code == simdjson::NUMBER_ERROR && blank_wide_integers(text, size)) continue;
    const bool deeper = parser.max_depth() > kMaxNesting;
    if (code == simdjson::DEPTH_ERROR && !deeper) {
      code = parser.allocate(size, kMaxNesting + 1);
      if (code == simdjson::SUCCESS) continue;
    }
    if (code == simdjson::SUCCESS && deeper && nests_too_deep(root, 1)) {
      code = simdjson::DEPTH_ERROR;
    }
    return code;
  }
}

// A descriptor closed when the read ends, by return or by a failed allocation.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { ::close(fd_); }

 private:
  int fd_;
};

// A buffer of `capacity` bytes plus simdjson's padding. padded_string reports
// a failed allocation by holding no data.
simdjson::padded_string padded_buffer(size_t capacity) {
  simdjson::padded_string buffer(capacity);
  if (buffer.data() == nullptr) throw std::bad_alloc();
  return buffer;
}

[[gnu::cold]] Error too_large() { return read_error(simdjson::error_message(simdjson::CAPACITY)); }

}  // namespace

Status ObographsReader::read_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return Error{Errc::kOs, "path contains a NUL character", {}};
  }
  const std::string path_text(path);
  const int fd = ::open(path_text.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error{Errc::kOs, os_error_text(errno), {}};
  const OpenFile file(fd);
  // Reading stops one byte past the largest document the parser accepts: a
  // device or pipe that never ends (/dev/zero) fails there, not when memory
  // runs out.
  const size_t largest = parser_.max_capacity();
  struct stat status{};
  const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  if (regular && static_cast<uint64_t>(status.st_size) > largest) return too_large();
  // Never more than largest + 1, so that reaching it means "too large".
  size_t capacity =
      regular ? static_cast<size_t>(status.st_size) + 1 : std::min(size_t{1} << 16, largest + 1);
  buffer_ = padded_buffer(capacity);
  corvanta::detail::advise_huge_pages(buffer_.data(), capacity);
  size_ = 0;
  while (true) {
    if (size_ == capacity) {
      // The file grew since fstat, or is not a regular file.
      if (size_ > largest) return too_large();
      capacity = capacity > largest / 2 ? largest + 1 : capacity * 2;
      simdjson::padded_string larger = padded_buffer(capacity);
      std::memcpy(larger.data(), buffer_.data(), size_);
      buffer_.swap(larger);
    }
    const ssize_t got = ::read(fd, buffer_.data() + size_, capacity - size_);
    if (got > 0) {
      size_ += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      return Error{Errc::kRead, std::string(kReadingGraphDocument), os_error_text(errno)};
    }
  }
  std::memset(buffer_.data() + size_, 0, simdjson::SIMDJSON_PADDING);
  return {};
}

Result<GraphsRecord> ObographsReader::read(std::string_view path, NodeSink& sink) {
  CORVANTA_TRY_STATUS(read_file(path));
  dom::element root;
  const simdjson::error_code code = parse_document(parser_, buffer_.data(), size_, root);
  if (code == simdjson::MEMALLOC) throw std::bad_alloc();
  if (code != simdjson::SUCCESS) return read_error(simdjson::error_message(code));
  return DocumentReader(sink).read_document(root);
}

}  // namespace corvanta::ontology
