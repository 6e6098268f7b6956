// The clustering scan and its window lookups.
//
// The scan classifies each character once: ASCII through a 128-entry table,
// anything else by decoding it and asking the Unicode tables. A word is only
// stemmed when it ends, and only when it is not a skip word.
//
// Windows of one start position are grown a token at a time, keeping their
// distinct stem ids and the sum of their stem hashes, so each lookup is one
// probe of the index without sorting or hashing the window again. A window
// longer than the longest variant holding one of its stems cannot match, nor
// can any longer window from the same start: growing stops there. On the
// medical abstracts (benchmarks/bench_recognition.cpp) this bound took
// recognition from 182 to 130 ms, the same 20,459 hits. The hits are
// recorded and then emitted in the order by length, then position.
#include "clustering.hpp"

#include <algorithm>
#include <array>

#include "labels.hpp"
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

void add_distinct(const ConceptIndex& index, std::vector<StemId>& ids, uint64_t& hash,
                  StemId id) {
  if (std::find(ids.begin(), ids.end(), id) != ids.end()) return;
  ids.push_back(id);
  hash += index.stem_hash(id);
}

void emit(const ClusteringScratch::Token& first, const ClusteringScratch::Token& last,
          RowId row, uint32_t cluster, std::vector<Candidate>& out) {
  out.push_back(Candidate{first.byte_begin, last.byte_end, row, cluster});
}

void look_up_whole_cluster(const ConceptIndex& index, ClusteringScratch& scratch,
                           uint32_t cluster, std::vector<Candidate>& out) {
  const auto& tokens = scratch.tokens;
  const auto n = static_cast<uint32_t>(tokens.size());
  if (n > index.max_count()) return;
  auto& ids = scratch.ids;
  ids.clear();
  for (const auto& token : tokens) {
    if (n > index.max_count_with(token.stem)) return;
    ids.push_back(token.stem);
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  uint64_t hash = 0;
  for (StemId id : ids) hash += index.stem_hash(id);
  if (const std::optional<RowId> row = index.lookup(hash, n, ids))
    emit(tokens.front(), tokens.back(), *row, cluster, out);
}

void look_up_windows(const ConceptIndex& index, ClusteringScratch& scratch, uint32_t cluster,
                     std::vector<Candidate>& out) {
  const auto& tokens = scratch.tokens;
  const uint32_t m = std::min<uint32_t>(static_cast<uint32_t>(tokens.size()), kMaxWindowTokens);
  const uint32_t max_length = std::min(m - 1, index.max_count());
  auto& found = scratch.found;
  auto& ids = scratch.ids;
  found.clear();
  for (uint32_t first = 0; first + 1 <= m; ++first) {
    ids.clear();
    uint64_t hash = 0;
    uint32_t limit = max_length;
    for (uint32_t length = 1; first + length <= m; ++length) {
      const StemId stem = tokens[first + length - 1].stem;
      limit = std::min(limit, index.max_count_with(stem));
      if (length > limit) break;
      add_distinct(index, ids, hash, stem);
      if (const std::optional<RowId> row = index.lookup(hash, length, ids))
        found.push_back({length, first, *row});
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.length != b.length ? a.length < b.length : a.first < b.first;
  });
  for (const auto& f : found)
    emit(tokens[f.first], tokens[f.first + f.length - 1], f.row, cluster, out);
}

}  // namespace

void find_candidates(const ConceptIndex& index, std::string_view lowered,
                     ClusteringScratch& scratch, std::vector<Candidate>& out) {
  out.clear();
  auto& tokens = scratch.tokens;
  tokens.clear();
  uint32_t cluster = 0;

  auto end_cluster = [&] {
    if (tokens.empty()) return;
    look_up_whole_cluster(index, scratch, cluster, out);
    look_up_windows(index, scratch, cluster, out);
    ++cluster;
    tokens.clear();
  };
  // Classifies the word [begin, end); returns whether it was out of vocabulary.
  auto end_word = [&](size_t begin, size_t end) {
    if (begin == end) return false;
    const std::string_view word = lowered.substr(begin, end - begin);
    if (is_text_skip_word(word)) return false;
    const std::optional<StemId> stem = scratch.stems.stem_id(word, index);
    if (!stem) return true;
    tokens.push_back({*stem, begin, end});
    return false;
  };

  size_t word_begin = 0;
  size_t i = 0;
  const size_t n = lowered.size();
  while (i < n) {
    const size_t at = i;
    const auto byte = static_cast<unsigned char>(lowered[i]);
    CharClass cls;
    if (byte < 128) {
      cls = kAsciiClasses[byte];
      ++i;
    } else {
      cls = classify(text::next_code_point(lowered, i));
    }
    if (cls == CharClass::kWord) continue;
    const bool out_of_vocabulary = end_word(word_begin, at);
    if (cls == CharClass::kHard || out_of_vocabulary) end_cluster();
    word_begin = i;
  }
  end_word(word_begin, n);
  end_cluster();
}

}  // namespace corvanta
