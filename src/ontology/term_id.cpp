#include "ontology/term_id.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <utility>

namespace corvanta::ontology {
namespace {

constexpr std::array<std::string_view, 13> kKnownPrefixTexts = {
    "HP", "OMIM", "MONDO", "GO", "MAXO", "ORPHA", "GENO", "SO", "CHEBI", "NCIT", "PMID", "UO", "MP",
};

constexpr uint64_t kMaxCompactValue = 4294967295u;

struct CompactFields {
  KnownPrefix code;
  uint32_t value;
};

// The fields of the compact form when (prefix, local_id) takes it: a known
// prefix, and a local id of one or more ASCII digits whose value fits in 32
// bits, however many leading zeros it has.
std::optional<CompactFields> compact_fields(std::string_view prefix,
                                            std::string_view local_id) noexcept {
  std::optional<KnownPrefix> code = known_prefix(prefix);
  if (!code || local_id.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : local_id) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > kMaxCompactValue) return std::nullopt;
  }
  return CompactFields{*code, static_cast<uint32_t>(value)};
}

Error invariant(std::string_view message) {
  return Error{Errc::kInvariant, std::string(message), {}};
}

char* copy_text(const char* text, size_t size) {
  char* copy = new char[size];
  std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

std::optional<KnownPrefix> known_prefix(std::string_view prefix) noexcept {
  for (size_t code = 0; code < kKnownPrefixTexts.size(); ++code) {
    if (kKnownPrefixTexts[code] == prefix) return static_cast<KnownPrefix>(code);
  }
  return std::nullopt;
}

std::string_view known_prefix_text(KnownPrefix prefix) noexcept {
  return kKnownPrefixTexts[static_cast<size_t>(prefix)];
}

Status TermId::check(std::string_view prefix, std::string_view local_id) {
  if (compact_fields(prefix, local_id)) {
    if (local_id.size() > kMaxIdLength) return invariant(kIdTooLong);
  } else if (prefix.size() > kMaxIdLength) {
    return invariant(kPrefixTooLong);
  }
  return {};
}

Result<TermId> TermId::from(std::string_view prefix, std::string_view local_id) {
  TermId id;
  if (std::optional<CompactFields> compact = compact_fields(prefix, local_id)) {
    if (local_id.size() > kMaxIdLength) return invariant(kIdTooLong);
    id.bits_ = uint64_t{compact->value} | uint64_t{static_cast<uint8_t>(compact->code)} << 32 |
               uint64_t{local_id.size()} << 40;
    return id;
  }
  if (prefix.size() > kMaxIdLength) return invariant(kPrefixTooLong);
  const size_t size = prefix.size() + local_id.size();
  id.text_ = new char[size];
  std::copy(local_id.begin(), local_id.end(), std::copy(prefix.begin(), prefix.end(), id.text_));
  id.bits_ = uint64_t{size} | uint64_t{prefix.size()} << 56;
  return id;
}

TermId::TermId(const TermId& other)
    : text_(other.text_ == nullptr ? nullptr : copy_text(other.text_, other.general_size())),
      bits_(other.bits_) {}

TermId::TermId(TermId&& other) noexcept
    : text_(std::exchange(other.text_, nullptr)), bits_(std::exchange(other.bits_, 0)) {}

TermId& TermId::operator=(const TermId& other) {
  if (this != &other) *this = TermId(other);
  return *this;
}

TermId& TermId::operator=(TermId&& other) noexcept {
  std::swap(text_, other.text_);
  std::swap(bits_, other.bits_);
  return *this;
}

TermId::~TermId() { delete[] text_; }

std::string_view TermId::prefix() const noexcept {
  if (is_compact()) return known_prefix_text(static_cast<KnownPrefix>((bits_ >> 32) & 0xff));
  return {text_, prefix_size()};
}

void TermId::append_to(std::string& out) const {
  out += prefix();
  out += ':';
  if (!is_compact()) {
    out.append(text_ + prefix_size(), general_size() - prefix_size());
    return;
  }
  char digits[10];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, static_cast<uint32_t>(bits_ & 0xffffffffu));
  const size_t written = static_cast<size_t>(end - digits);
  const size_t digit_count = (bits_ >> 40) & 0xff;
  if (digit_count > written) out.append(digit_count - written, '0');
  out.append(digits, written);
}

std::string TermId::to_string() const {
  std::string out;
  append_to(out);
  return out;
}

size_t TermId::hash() const noexcept {
  if (is_compact()) return std::hash<uint64_t>{}(bits_);
  return std::hash<std::string_view>{}({text_, general_size()}) ^ prefix_size();
}

bool operator==(const TermId& a, const TermId& b) noexcept {
  if (a.bits_ != b.bits_ || a.is_compact() != b.is_compact()) return false;
  return a.is_compact() || std::memcmp(a.text_, b.text_, a.general_size()) == 0;
}

std::optional<CurieParts> split_curie(std::string_view text) noexcept {
  size_t split = text.find(':');
  if (split == std::string_view::npos) split = text.find('_');
  if (split == std::string_view::npos) return std::nullopt;
  return CurieParts{text.substr(0, split), text.substr(split + 1)};
}

std::optional<CurieParts> split_xref(std::string_view text) noexcept {
  if (text.starts_with(kOrcidIriBase)) {
    return CurieParts{"ORCID", text.substr(kOrcidIriBase.size())};
  }
  return split_curie(text);
}

}  // namespace corvanta::ontology
