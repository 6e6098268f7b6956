// Term identifiers: a CURIE prefix plus a local id, printed "PREFIX:LOCAL".
//
// A TermId has one of two forms, chosen once at creation:
//   compact  iff the prefix is a KnownPrefix and the local id is one or more
//            ASCII digits whose value fits in 32 bits: the prefix code, the
//            value and the number of digits as written (so leading zeros
//            survive printing);
//   general  otherwise: one owned heap text, prefix followed by local id, with
//            the prefix length as a one-byte split point.
// Either form is two machine words. The compact form exists because almost
// every id of a release (HP, OMIM, ORPHA numbers) takes it, and then creating
// an id allocates nothing.
//
// Two ids are equal iff their forms and all fields are equal; in practice
// that is equality of the printed text, so HP:118 and HP:0000118 differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace corvanta::ontology {

// The prefixes with a compact form, compared case-sensitively. The codes are
// fixed: they are part of the compact form.
enum class KnownPrefix : uint8_t {
  kHp = 0,
  kOmim = 1,
  kMondo = 2,
  kGo = 3,
  kMaxo = 4,
  kOrpha = 5,
  kGeno = 6,
  kSo = 7,
  kChebi = 8,
  kNcit = 9,
  kPmid = 10,
  kUo = 11,
  kMp = 12,
};

[[nodiscard]] std::optional<KnownPrefix> known_prefix(std::string_view prefix) noexcept;
[[nodiscard]] std::string_view known_prefix_text(KnownPrefix prefix) noexcept;

// The limits of term ids; both are Errc::kInvariant failures.
inline constexpr size_t kMaxIdLength = 255;
inline constexpr std::string_view kIdTooLong = "ID should not be longer than 255 chars!";
inline constexpr std::string_view kPrefixTooLong =
    "Curie prefix should not be longer than 255 chars!";

// A prefix and local id that have not become a TermId yet. The views borrow
// from the text they were split from.
struct CurieParts {
  std::string_view prefix;
  std::string_view local_id;
  friend bool operator==(const CurieParts&, const CurieParts&) = default;
};

class TermId {
 public:
  // Builds the id of (prefix, local_id). Lengths count UTF-8 bytes.
  // Errors (Errc::kInvariant): kIdTooLong when a compact-eligible local id
  // is longer than 255; kPrefixTooLong when a general-form prefix is.
  [[nodiscard]] static Result<TermId> from(std::string_view prefix, std::string_view local_id);
  // What `from` would fail with, without building the id: for ids that are
  // created only so that their limits apply (alternative ids, xrefs).
  [[nodiscard]] static Status check(std::string_view prefix, std::string_view local_id);

  TermId(const TermId& other);
  TermId(TermId&& other) noexcept;
  TermId& operator=(const TermId& other);
  TermId& operator=(TermId&& other) noexcept;
  ~TermId();

  [[nodiscard]] bool is_compact() const noexcept { return text_ == nullptr; }
  // The prefix; lives as long as this id.
  [[nodiscard]] std::string_view prefix() const noexcept;
  // Appends the printed form, "PREFIX:LOCAL", to `out`.
  void append_to(std::string& out) const;
  [[nodiscard]] std::string to_string() const;
  [[nodiscard]] size_t hash() const noexcept;

  friend bool operator==(const TermId& a, const TermId& b) noexcept;

 private:
  TermId() = default;
  [[nodiscard]] size_t general_size() const noexcept { return bits_ & kSizeMask; }
  [[nodiscard]] size_t prefix_size() const noexcept { return bits_ >> 56; }

  static constexpr uint64_t kSizeMask = (uint64_t{1} << 56) - 1;

  // Null in the compact form; otherwise the owned text, prefix then local id.
  char* text_ = nullptr;
  // Compact form: value (bits 0-31), prefix code (32-39), digit count
  // (40-47). General form: text size (bits 0-55), prefix size (56-63).
  uint64_t bits_ = 0;
};

// CURIE parse: split at the first ":", or failing that at the first "_";
// a text with neither is not a CURIE. Either part may be empty.
[[nodiscard]] std::optional<CurieParts> split_curie(std::string_view text) noexcept;

// ORCID person identifiers are written as IRIs under this base.
inline constexpr std::string_view kOrcidIriBase = "https://orcid.org/";

// Cross-reference parse: the CURIE parse, except that a text under the ORCID
// IRI base gives prefix "ORCID" and the rest of the text as local id.
[[nodiscard]] std::optional<CurieParts> split_xref(std::string_view text) noexcept;

}  // namespace corvanta::ontology

template <>
struct std::hash<corvanta::ontology::TermId> {
  size_t operator()(const corvanta::ontology::TermId& id) const noexcept { return id.hash(); }
};
