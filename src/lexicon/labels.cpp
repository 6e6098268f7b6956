// The label table and label tokenization.
//
// build_label_table works in one pass to collect and one to emit. Collected
// terms keep their label and kept synonyms as views: into the ontology for
// every text the rules leave unchanged, and into `stripped` for the few
// labels that lose parentheses. Counting labels is then a hash map from view
// to count, and no text is copied until the rows are emitted. On a full
// release (about 18,500 phenotype terms, 40,000 rows) this keeps the build in
// single-digit milliseconds (benchmarks/bench_lexicon.cpp).
//
// Kept synonyms of all collected terms sit in one flat array; a term owns the
// range [syn_begin, syn_end), which pruning only shrinks in place.
#include "lexicon/labels.hpp"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "ontology/ontology.hpp"
#include "text/unicode.hpp"

namespace corvanta {

namespace {

// What a parenthesised part is, by the case of its characters.
enum class Inner : uint8_t {
  kText,          // not an abbreviation (empty, or has a lower-case letter, or no capital)
  kLetter,        // an abbreviation of exactly one character
  kAbbreviation,  // an abbreviation of two or more characters
};

Inner classify_inner(std::string_view inner) noexcept {
  bool upper = false;
  size_t count = 0;
  for (size_t i = 0; i < inner.size(); ++count) {
    const char32_t c = text::next_code_point(inner, i);
    if (text::is_lowercase(c)) return Inner::kText;
    upper = upper || text::is_uppercase(c);
  }
  if (!upper) return Inner::kText;
  return count == 1 ? Inner::kLetter : Inner::kAbbreviation;
}

// Applies the parenthesis rule to `out` in place, one pair per pass; returns
// false when strict mode rejects the text (`out` is then unspecified).
bool strip_in_place(std::string& out, bool strict) {
  for (;;) {
    const size_t open = out.find('(');
    if (open == std::string::npos) return true;
    const size_t close = out.find(')', open + 1);
    if (close == std::string::npos) return true;
    const Inner kind = classify_inner(std::string_view(out).substr(open + 1, close - open - 1));
    if (kind == Inner::kAbbreviation) {
      const std::string_view after =
          text::trim_white_space(std::string_view(out).substr(close + 1));
      const size_t after_begin = static_cast<size_t>(after.data() - out.data());
      const size_t after_size = after.size();
      out.erase(open, after_begin - open);
      out.resize(open + after_size);
      continue;
    }
    if (kind == Inner::kText && strict) return false;
    out.erase(close, 1);
    out.erase(open, 1);
  }
}

bool is_accepted_strictly(std::string_view synonym, std::string& scratch) {
  if (synonym.find('(') == std::string_view::npos) return true;
  scratch.assign(synonym);
  return strip_in_place(scratch, true);
}

// Fewer than 4 characters, at least one capital and no lower-case letter.
bool is_short_capitals(std::string_view s) noexcept {
  if (s.size() > 12) return false;  // 4 or more characters of at most 4 bytes
  bool upper = false;
  size_t count = 0;
  for (size_t i = 0; i < s.size(); ++count) {
    const char32_t c = text::next_code_point(s, i);
    if (text::is_lowercase(c)) return false;
    upper = upper || text::is_uppercase(c);
  }
  return upper && count < 4;
}

// Whether synonym `i` of `synonyms` repeats an earlier one, kept or not.
// Terms have a handful of synonyms, so a scan beats hashing; `seen` takes
// over for the rare long list so that the test stays linear.
class RepeatTest {
 public:
  explicit RepeatTest(const std::vector<ontology::Synonym>& synonyms) : synonyms_(synonyms) {}

  bool is_repeat(size_t i) {
    const std::string_view s = synonyms_[i].text;
    if (synonyms_.size() <= kScanLimit) {
      for (size_t k = 0; k < i; ++k)
        if (synonyms_[k].text == s) return true;
      return false;
    }
    return !seen_.insert(s).second;
  }

 private:
  static constexpr size_t kScanLimit = 32;
  const std::vector<ontology::Synonym>& synonyms_;
  std::unordered_set<std::string_view> seen_;
};

struct CollectedTerm {
  std::string_view id;
  std::string_view label;
  uint32_t syn_begin;
  uint32_t syn_end;
};

struct Collection {
  std::vector<CollectedTerm> terms;
  std::vector<std::string_view> synonyms;
  std::vector<std::string> stripped;  // reserved up front: views into it stay valid
};

std::string_view collect_label(const ontology::Term& term, Collection& out) {
  if (term.label.find('(') == std::string_view::npos) return term.label;
  std::string label(term.label);
  strip_in_place(label, false);
  if (label == term.label) return term.label;
  out.stripped.push_back(std::move(label));
  return out.stripped.back();
}

void collect_synonyms(const ontology::Term& term, Collection& out, std::string& scratch) {
  RepeatTest repeats(term.synonyms);
  for (size_t i = 0; i < term.synonyms.size(); ++i) {
    const std::string_view s = term.synonyms[i].text;
    if (repeats.is_repeat(i) || is_short_capitals(s) || !is_accepted_strictly(s, scratch)) continue;
    out.synonyms.push_back(s);
  }
}

Collection collect(const ontology::Ontology& ontology, const ontology::PhenotypeSubtree& subtree) {
  Collection out;
  out.terms.reserve(subtree.size());
  out.stripped.reserve(ontology.terms.size());
  std::string scratch;
  for (const ontology::Term& term : ontology.terms) {
    if (!subtree.contains(term.id_text)) continue;
    const std::string_view label = collect_label(term, out);
    const auto syn_begin = static_cast<uint32_t>(out.synonyms.size());
    collect_synonyms(term, out, scratch);
    out.terms.push_back(
        {term.id_text, label, syn_begin, static_cast<uint32_t>(out.synonyms.size())});
  }
  return out;
}

using LabelCounts = std::unordered_map<std::string_view, uint32_t>;

LabelCounts count_labels(const Collection& collection) {
  LabelCounts counts;
  counts.reserve(collection.terms.size());
  for (const CollectedTerm& t : collection.terms) ++counts[t.label];
  return counts;
}

bool is_unique_label(const LabelCounts& counts, std::string_view text) {
  const auto it = counts.find(text);
  return it != counts.end() && it->second == 1;
}

void prune_synonyms(CollectedTerm& t, std::vector<std::string_view>& synonyms,
                    const LabelCounts& counts) {
  uint32_t kept = t.syn_begin;
  for (uint32_t i = t.syn_begin; i < t.syn_end; ++i)
    if (!is_unique_label(counts, synonyms[i])) synonyms[kept++] = synonyms[i];
  t.syn_end = kept;
}

// A term whose label another term carries too is listed under its first
// remaining synonym; returns false when it has none and so drops out.
bool resolve_shared_label(CollectedTerm& t, const std::vector<std::string_view>& synonyms,
                          const LabelCounts& counts) {
  if (counts.find(t.label)->second < 2) return true;
  if (t.syn_begin == t.syn_end) return false;
  t.label = synonyms[t.syn_begin++];
  return true;
}

}  // namespace

LabelTable build_label_table(const ontology::Ontology& ontology,
                             const ontology::PhenotypeSubtree& subtree) {
  Collection collection = collect(ontology, subtree);
  const LabelCounts counts = count_labels(collection);
  std::vector<CollectedTerm> remaining;
  remaining.reserve(collection.terms.size());
  size_t rows = 0;
  for (CollectedTerm& t : collection.terms) {
    prune_synonyms(t, collection.synonyms, counts);
    if (!resolve_shared_label(t, collection.synonyms, counts)) continue;
    rows += 1 + (t.syn_end - t.syn_begin);
    remaining.push_back(t);
  }
  size_t text_bytes = 0;
  for (const CollectedTerm& t : remaining) {
    text_bytes += t.id.size() + t.label.size();
    for (uint32_t i = t.syn_begin; i < t.syn_end; ++i) text_bytes += collection.synonyms[i].size();
  }
  LabelTable table;
  table.reserve(rows, text_bytes);
  for (const CollectedTerm& t : remaining) {
    table.add(t.id, t.label);
    for (uint32_t i = t.syn_begin; i < t.syn_end; ++i) table.add(t.id, collection.synonyms[i]);
  }
  return table;
}

LoweredSurfaces::LoweredSurfaces(const LabelTable& labels) {
  // Lower-casing keeps the length of ASCII text, which nearly every label is.
  size_t bytes = 0;
  for (size_t row = 0; row < labels.size(); ++row) bytes += labels[row].surface.size();
  arena_.reserve(bytes + bytes / 16);
  std::vector<size_t> ends;
  ends.reserve(labels.size());
  std::string lowered;
  for (size_t row = 0; row < labels.size(); ++row) {
    text::lower_case(labels[row].surface, lowered);
    arena_ += lowered;
    ends.push_back(arena_.size());
  }
  views_.reserve(labels.size());
  size_t begin = 0;
  for (const size_t end : ends) {
    views_.emplace_back(arena_.data() + begin, end - begin);
    begin = end;
  }
}

std::optional<std::string> strip_parentheses(std::string_view text, bool strict) {
  std::string out(text);
  if (!strip_in_place(out, strict)) return std::nullopt;
  return out;
}

namespace {

enum class Punct : uint8_t { kCopy, kDelete, kSpace };

constexpr std::array<Punct, 128> make_punct_table() {
  std::array<Punct, 128> table{};
  for (char c : std::string_view("\"%(),.<>[]{}"))
    table[static_cast<unsigned char>(c)] = Punct::kDelete;
  for (char c : std::string_view("'+-/:;_")) table[static_cast<unsigned char>(c)] = Punct::kSpace;
  return table;
}

constexpr std::array<Punct, 128> kPunct = make_punct_table();
constexpr std::string_view kRightSingleQuote = "\u2019";

}  // namespace

// The output is never longer than the input: written through a pointer into
// a buffer of the input's size, then cut to what was written.
void normalize_punctuation_into(std::string_view text, std::string& out) {
  out.resize(text.size());
  char* to = out.data();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x80) {
      if (text.substr(i, kRightSingleQuote.size()) == kRightSingleQuote) {
        i += kRightSingleQuote.size() - 1;
      } else {
        *to++ = text[i];
      }
      continue;
    }
    switch (kPunct[b]) {
      case Punct::kCopy:
        *to++ = text[i];
        break;
      case Punct::kSpace:
        *to++ = ' ';
        break;
      case Punct::kDelete:
        break;
    }
  }
  out.resize(static_cast<size_t>(to - out.data()));
}

std::string normalize_punctuation(std::string_view text) {
  std::string out;
  normalize_punctuation_into(text, out);
  return out;
}

std::vector<std::string> tokenize_label(std::string_view surface, text::Stemmer& stemmer) {
  std::vector<std::string> stems;
  LabelScratch scratch;
  for_each_label_token(surface, scratch,
                       [&](std::string_view token) { stems.emplace_back(stemmer.stem(token)); });
  return stems;
}

}  // namespace corvanta
