// Unicode helpers shared by the lexicon, recognition and negation.
//
// Every text of the system is UTF-8. Lower-casing is the full default
// lower-case mapping of the Unicode standard (special casings such as U+0130
// and the context-dependent final sigma included), the same function for
// labels, patterns and texts. Case mappings and character properties come from
// tables generated from the Unicode Character Database (unicode_tables.hpp,
// which names its Unicode version).
//
// All functions are pure and thread-safe; none allocates except to grow the
// caller's output buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvanta::text {

// Replaces `out` with the full lower-casing of `in`. Pure ASCII input takes a
// byte-wise fast path; anything else is mapped one code point at a time, with
// no locale's rules (U+0130 becomes "i" and a combining dot above).
// Invalid UTF-8 in `in` is never produced by the Python boundary, but is
// handled: ill-formed bytes are copied unchanged.
void lower_case(std::string_view in, std::string& out);

// Convenience for construction-time code.
[[nodiscard]] std::string lower_cased(std::string_view in);

// Decodes the scalar value at byte offset `i` of well-formed UTF-8 `s` and
// advances `i` past it. An ill-formed sequence yields U+FFFD and advances by
// one byte, so a scan always terminates.
char32_t next_code_point(std::string_view s, size_t& i) noexcept;

// Decodes the scalar value that ends at byte offset `end` (exclusive).
char32_t previous_code_point(std::string_view s, size_t end) noexcept;

// A word character: Alphabetic, or general category Nd, Nl or No.
bool is_word_char(char32_t c) noexcept;
bool is_white_space(char32_t c) noexcept;
bool is_uppercase(char32_t c) noexcept;
bool is_lowercase(char32_t c) noexcept;

// `s` without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view s) noexcept;

}  // namespace corvanta::text
