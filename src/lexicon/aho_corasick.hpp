// Leftmost-longest Aho-Corasick automaton over byte strings.
//
// Semantics: among matches the one starting earliest wins; among those
// starting at the same position the longest; among equal patterns the lowest
// pattern index. Matching is byte-exact (callers lower-case both patterns and
// text with one function). Empty patterns never match. Iteration is
// non-overlapping: each search resumes at the end of the previous match.
//
// Immutable after build; any number of threads may search one automaton.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ids.hpp"
#include "base/result.hpp"

namespace corvanta {

struct AcMatch {
  PatternId pattern;
  size_t byte_begin = 0;
  size_t byte_end = 0;
};

namespace detail {
struct TextSearch;  // the automaton over one text (aho_corasick.cpp)
}  // namespace detail

// The working memory of AhoCorasick::find_all, owned by the caller.
struct AcScratch {
  std::vector<AcMatch> matches;  // the result of the last find_all
  std::vector<AcMatch> tail;     // the second half's matches, while they are merged
};

class AhoCorasick {
 public:
  // Builds the automaton; pattern i gets id PatternId{i}. Fails (Errc::kMatcherBuild)
  // only when the pattern set exceeds the automaton's capacity.
  static Result<std::unique_ptr<const AhoCorasick>> build(
      std::span<const std::string_view> patterns);

  AhoCorasick(const AhoCorasick&) = delete;
  AhoCorasick& operator=(const AhoCorasick&) = delete;
  ~AhoCorasick() = default;

  // The leftmost-longest match that starts at or after `from`, or false.
  [[nodiscard]] bool find(std::string_view text, size_t from, AcMatch& out) const noexcept;

  // Every match of the iteration that find makes from 0 (each search
  // resuming at the end of the previous match), in order, into
  // scratch.matches. A long text is searched from its start and from its
  // middle at once, and the two runs are joined where they agree.
  void find_all(std::string_view text, AcScratch& scratch) const;

  [[nodiscard]] size_t pattern_count() const noexcept;
  [[nodiscard]] size_t memory_bytes() const noexcept;

 private:
  AhoCorasick() = default;
  friend struct detail::TextSearch;

  // The compiled automaton; its layout is described in aho_corasick.cpp.
  std::vector<uint32_t> states_;
  // Byte length of each pattern, indexed by pattern id (start = end - len).
  std::vector<uint32_t> pattern_len_;
  uint32_t max_pattern_len_ = 0;
  // Input byte -> equivalence class (a column of the dense rows).
  std::array<uint8_t, 256> byte_class_{};
  // Id of the unanchored start state.
  uint32_t start_ = 0;
  // Ids below dense_end_ are dense rows.
  uint32_t dense_end_ = 0;
  // Ids dead_ through dead_ + special_span_ are dead or match states.
  uint32_t dead_ = 0;
  uint32_t special_span_ = 0;
};

}  // namespace corvanta
