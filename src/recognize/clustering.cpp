// The clustering scan and its window lookups.
//
// The scan classifies each character once: ASCII through a 128-entry table,
// anything else by decoding it and asking the Unicode tables. At the start of
// a word it first loads 16 bytes and finds the run of ASCII letters and
// digits in them at once (bytes16.hpp); a run ended by an ASCII separator is the
// whole word, and the loaded bytes are its stem-cache key (no second pass to
// hash it). Words that are longer or go on past ASCII take the byte loop. The
// cache answers "skip word" too, so a word seen before costs one probe.
//
// Each token carries its stem's facts (hash, longest variant, the row of its
// one-word window), read once per word; a one-word window is answered by
// them without a probe of the index.
//
// Measured on the medical abstracts (benchmarks/bench_recognition.cpp,
// callgrind of one round plus the two-thread rounds): the stage (stem cache,
// skip-word test, scan, window lookups) went from 729M to 391M instructions,
// the program from 2,220M to 1,871M; CPU time from 76-79 ms to 62-69 ms
// (noisy, 2-core VM), the same 20,459 hits. Tried and dropped: finding a
// batch of 128 words first, prefetching each word's cache slot and then its
// stem facts, then classifying the batch: 72-76 ms against 62-69 ms.
//
// Windows of one start position are grown a token at a time, keeping their
// distinct stem ids and the sum of their stem hashes, so each lookup is one
// probe of the index without sorting or hashing the window again. A window
// longer than the longest variant holding one of its stems cannot match, nor
// can any longer window from the same start: growing stops there. On the
// medical abstracts (benchmarks/bench_recognition.cpp) this bound took
// recognition from 182 to 130 ms, the same 20,459 hits. The hits are
// recorded and then emitted in the order by length, then position.
#include "recognize/clustering.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "base/bytes16.hpp"
#include "text/unicode.hpp"

namespace corvanta {

namespace {

enum class CharClass : uint8_t { kWord, kSoft, kHard };

constexpr std::array<CharClass, 128> make_ascii_classes() {
  std::array<CharClass, 128> table{};
  for (int c = 0; c < 128; ++c) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    table[c] = alnum ? CharClass::kWord : CharClass::kHard;
  }
  for (char c : {'\t', '\n', '\v', '\f', '\r', ' ', '"', '\'', '+', '-', '/', ':', ';', '_'})
    table[static_cast<unsigned char>(c)] = CharClass::kSoft;
  return table;
}

constexpr std::array<CharClass, 128> kAsciiClasses = make_ascii_classes();

constexpr char32_t kRightSingleQuote = 0x2019;

CharClass classify(char32_t c) noexcept {
  if (c < 128) return kAsciiClasses[c];
  if (text::is_word_char(c)) return CharClass::kWord;
  if (c == kRightSingleQuote || text::is_white_space(c)) return CharClass::kSoft;
  return CharClass::kHard;
}

// The distinct stems of a window growing from one start, and their set hash.
// Left uninitialized: zeroing the ids for every start cost more than the
// window's own work.
struct WindowStems {
  std::array<StemId, kMaxWindowTokens> ids;
  uint32_t size;
  uint64_t hash;

  void start(const ClusteringScratch::Token& token) {
    ids[0] = token.stem;
    size = 1;
    hash = token.hash;
  }
  void add(const ClusteringScratch::Token& token) {
    if (std::find(ids.begin(), ids.begin() + size, token.stem) != ids.begin() + size) return;
    ids[size++] = token.stem;
    hash += token.hash;
  }
  [[nodiscard]] std::span<const StemId> distinct() const { return {ids.data(), size}; }
};

void emit(const ClusteringScratch::Token& first, const ClusteringScratch::Token& last, RowId row,
          uint32_t cluster, std::vector<Candidate>& out) {
  out.push_back(Candidate{first.byte_begin, last.byte_end, row, cluster});
}

void look_up_whole_cluster(const ConceptIndex& index, ClusteringScratch& scratch, uint32_t cluster,
                           std::vector<Candidate>& out) {
  const auto& tokens = scratch.tokens;
  const auto n = static_cast<uint32_t>(tokens.size());
  if (n == 1) {
    if (tokens[0].single_row != ConceptIndex::kNoRow)
      emit(tokens[0], tokens[0], RowId{tokens[0].single_row}, cluster, out);
    return;
  }
  if (n > index.max_count()) return;
  // n is at most the longest variant: a few tokens, so a linear test for
  // repeats beats sorting.
  auto& ids = scratch.ids;
  ids.clear();
  uint64_t hash = 0;
  for (const auto& token : tokens) {
    if (n > token.max_count_with) return;
    if (std::find(ids.begin(), ids.end(), token.stem) != ids.end()) continue;
    ids.push_back(token.stem);
    hash += token.hash;
  }
  if (const std::optional<RowId> row = index.lookup(hash, n, ids))
    emit(tokens.front(), tokens.back(), *row, cluster, out);
}

void look_up_windows(const ConceptIndex& index, ClusteringScratch& scratch, uint32_t cluster,
                     std::vector<Candidate>& out) {
  const auto& tokens = scratch.tokens;
  const uint32_t m = std::min<uint32_t>(static_cast<uint32_t>(tokens.size()), kMaxWindowTokens);
  const uint32_t max_length = std::min(m - 1, index.max_count());
  auto& found = scratch.found;
  found.clear();
  WindowStems window;
  for (uint32_t first = 0; first + 1 <= m; ++first) {
    const auto& head = tokens[first];
    if (max_length == 0 || head.max_count_with == 0) continue;
    if (head.single_row != ConceptIndex::kNoRow)
      found.push_back({1, first, RowId{head.single_row}});
    window.start(head);
    uint32_t limit = std::min(max_length, head.max_count_with);
    for (uint32_t length = 2; first + length <= m; ++length) {
      const auto& token = tokens[first + length - 1];
      limit = std::min(limit, token.max_count_with);
      if (length > limit) break;
      window.add(token);
      if (const std::optional<RowId> row = index.lookup(window.hash, length, window.distinct()))
        found.push_back({length, first, *row});
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.length != b.length ? a.length < b.length : a.first < b.first;
  });
  for (const auto& f : found)
    emit(tokens[f.first], tokens[f.first + f.length - 1], f.row, cluster, out);
}

// The scan of one text: words, their verdicts, and the clusters they form.
class Scan {
 public:
  Scan(const ConceptIndex& index, std::string_view lowered, ClusteringScratch& scratch,
       std::vector<Candidate>& out)
      : index_(index), lowered_(lowered), scratch_(scratch), out_(out) {}

  void run() {
    const size_t n = lowered_.size();
    size_t word_begin = 0;
    size_t i = 0;
    while (i < n) {
      if (i == word_begin && i + 16 <= n) {
        // Most words are ASCII letters and digits ended by an ASCII
        // separator within 16 bytes: found, keyed and ended in one step.
        // The ASCII word characters are the letters and digits (kAsciiClasses).
        const detail::Bytes16 bytes = detail::bytes16_at(lowered_, i);
        const auto run = static_cast<size_t>(__builtin_ctz(~detail::ascii_alnum_mask(bytes)));
        if (run < 16 && static_cast<unsigned char>(lowered_[i + run]) < 128) {
          const auto stop = static_cast<unsigned char>(lowered_[i + run]);
          bool out_of_vocabulary = false;
          if (run > 0)
            out_of_vocabulary = end_word(detail::map_key_padded(lowered_.substr(i, run), bytes), i);
          if (kAsciiClasses[stop] == CharClass::kHard || out_of_vocabulary) end_cluster();
          i += run + 1;
          word_begin = i;
          continue;
        }
        // A long word, or one that goes on past ASCII: the byte loop goes on
        // from its first byte that is not an ASCII word character.
        i += run;
        if (i == n) break;
      }
      const size_t at = i;
      const auto byte = static_cast<unsigned char>(lowered_[i]);
      CharClass cls;
      if (byte < 128) {
        cls = kAsciiClasses[byte];
        ++i;
      } else {
        cls = classify(text::next_code_point(lowered_, i));
      }
      if (cls == CharClass::kWord) continue;
      const bool out_of_vocabulary = end_word(word_begin, at);
      if (cls == CharClass::kHard || out_of_vocabulary) end_cluster();
      word_begin = i;
    }
    end_word(word_begin, n);
    end_cluster();
  }

 private:
  void end_cluster() {
    if (scratch_.tokens.empty()) return;
    look_up_whole_cluster(index_, scratch_, cluster_, out_);
    look_up_windows(index_, scratch_, cluster_, out_);
    ++cluster_;
    scratch_.tokens.clear();
  }

  // Ends the word [begin, end) found byte by byte; returns whether it was out
  // of vocabulary.
  bool end_word(size_t begin, size_t end) {
    if (begin == end) return false;
    const std::string_view word = lowered_.substr(begin, end - begin);
    return end_word(detail::map_key_padded(word, detail::bytes16_at(lowered_, begin)), begin);
  }

  // Ends the word `key` that starts at byte `begin`.
  bool end_word(const detail::MapKey& key, size_t begin) {
    const TextWord word = scratch_.stems.classify(key, index_);
    if (word.kind == TextWord::Kind::kSkip) return false;
    if (word.kind == TextWord::Kind::kUnknown) return true;
    const ConceptIndex::StemFacts& facts = index_.stem_facts(word.stem);
    scratch_.tokens.push_back({begin, begin + key.text.size(), facts.hash, word.stem,
                               facts.max_count_with, facts.single_row});
    return false;
  }

  const ConceptIndex& index_;
  std::string_view lowered_;
  ClusteringScratch& scratch_;
  std::vector<Candidate>& out_;
  uint32_t cluster_ = 0;
};

}  // namespace

void find_candidates(const ConceptIndex& index, std::string_view lowered,
                     ClusteringScratch& scratch, std::vector<Candidate>& out) {
  out.clear();
  scratch.tokens.clear();
  scratch.stems.serve(index);
  Scan(index, lowered, scratch, out).run();
}

}  // namespace corvanta
