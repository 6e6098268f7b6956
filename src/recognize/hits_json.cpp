// JSON rendering of hits, written straight into the output string.
//
// The format is fixed byte for byte (member order, no whitespace, which
// characters are escaped and how), so a generic JSON writer would only add a
// value tree to build and walk. Strings are copied in runs: the bytes that
// need no escape are appended as one block, and only the rare quote,
// backslash or control byte is handled on its own. Every byte at or above
// 0x20 other than '"' and '\\' (solidus, U+007F, all UTF-8 sequences) passes
// through unchanged.
#include "recognize/hits_json.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace corvanta {
namespace {

// Fixed text of one object and its separator: everything but the contents of
// the two strings and the digits of the two numbers.
constexpr size_t kObjectOverhead =
    std::string_view(R"({"excluded":false,"label":"","span":[,],"termId":""},)").size();
constexpr size_t kMaxDecimalDigits = 20;  // uint64_t

constexpr bool needs_escape(unsigned char c) noexcept { return c < 0x20 || c == '"' || c == '\\'; }

void append_escaped_byte(unsigned char c, std::string& out) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  constexpr char kHex[] = "0123456789abcdef";
  const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
  out.append(escape, sizeof escape);
}

void append_string(std::string_view s, std::string& out) {
  out += '"';
  size_t run = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!needs_escape(c)) continue;
    out.append(s.data() + run, i - run);
    append_escaped_byte(c, out);
    run = i + 1;
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

void append_number(uint64_t n, std::string& out) {
  char digits[kMaxDecimalDigits];
  // 20 digits hold every uint64_t, so the conversion cannot fail.
  const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, written.ptr);
}

void append_hit(const HitRecord& hit, const LabelEntry& row, std::string& out) {
  out += hit.excluded ? "{\"excluded\":true,\"label\":" : "{\"excluded\":false,\"label\":";
  append_string(row.surface, out);
  out += ",\"span\":[";
  append_number(hit.byte_begin, out);
  out += ',';
  append_number(hit.byte_end, out);
  out += "],\"termId\":";
  append_string(row.term_id, out);
  out += '}';
}

size_t decimal_digits(uint64_t n) noexcept {
  size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

// Enough for every hit whose texts need no escape, so most renderings never
// grow the buffer. Every number is given the width of the largest end.
size_t estimated_size(std::span<const HitRecord> hits, const LabelTable& labels) {
  size_t size = 2;
  uint64_t widest = 0;
  for (const HitRecord& hit : hits) {
    const LabelEntry row = labels[hit.row];
    size += kObjectOverhead + row.surface.size() + row.term_id.size();
    widest = std::max({widest, hit.byte_begin, hit.byte_end});
  }
  return size + 2 * hits.size() * decimal_digits(widest);
}

}  // namespace

void render_hits_json(std::span<const HitRecord> hits, const LabelTable& labels, std::string& out) {
  out.clear();
  out.reserve(estimated_size(hits, labels));
  out += '[';
  for (size_t i = 0; i < hits.size(); ++i) {
    if (i != 0) out += ',';
    append_hit(hits[i], labels[hits[i].row], out);
  }
  out += ']';
}

}  // namespace corvanta
