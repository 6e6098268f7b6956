// The three fixed word lists: label stop words (left out of a label's
// tokens), text skip words (passed over inside a cluster of text words) and
// modifier words (whose stems the concept index treats apart). All are
// lower-case ASCII, compared byte for byte.
//
// Apart from labels.hpp so that recognition reads its one list without the
// release reader that label-table construction brings.
#pragma once

#include <array>
#include <string_view>

namespace corvanta {

[[nodiscard]] bool is_label_stop_word(std::string_view word) noexcept;
[[nodiscard]] bool is_text_skip_word(std::string_view word) noexcept;

extern const std::array<std::string_view, 24> kLabelStopWords;
extern const std::array<std::string_view, 15> kTextSkipWords;
extern const std::array<std::string_view, 19> kModifierWords;

}  // namespace corvanta
