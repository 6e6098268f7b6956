// coordinations: the coordination search of the accurate profile.
//
// coordinations(text, hit_starts, words) gives the variants of
// corvanta_tools.accuracy.coordination, which documents what a coordination
// is; its pure-Python search is the reference this one must equal, variant
// for variant. Most of a text is passed over at the speed of a byte loop: the
// conjunctions (" and ", " or ", " and/or ") are the only places looked at
// closely, and only those within a few characters of a hit. Word characters
// are Python's (str.isalnum, str.isdecimal), asked of Python for a non-ASCII
// character and remembered for the rest of the call; words are lower-cased
// and looked up in `words` by Python, so that the search agrees with the
// reference on every text.
#include "accurate_functions.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace corvanta_tools_accurate {
namespace {

constexpr Py_ssize_t kMaxConjuncts = 5;
constexpr Py_ssize_t kMaxGap = 3;       // spaces stripped before a listed word's comma, less one
constexpr Py_ssize_t kReach = 20;       // characters between a conjunction and a hit's start
constexpr Py_ssize_t kLongest = 40;     // longer words are not looked for
constexpr Py_ssize_t kMaxPrefix = 300;  // how far a variant reaches back for negation cues
constexpr Py_ssize_t kLocalPrefix = 40;
constexpr Py_ssize_t kFollowingWords = 3;
// The first words of the phrases that open a negation's scope.
constexpr std::string_view kNegationCues[] = {"no evidence",  "no sign",   "without",
                                              "negative for", "denie",     "ruled out",
                                              "not seen",     "absence of"};

enum Class : uint8_t { kOther = 0, kDecimal = 1, kAlnum = 2 };  // kDecimal implies kAlnum

// The text as characters of one width (ASCII bytes or UCS4), with Python's
// word classes, and the Python string for what only Python can answer.
template <typename Char>
class Text {
 public:
  Text(PyObject* object, const Char* chars, Py_ssize_t length)
      : object_(object), chars_(chars), length_(length) {}

  Py_ssize_t size() const { return length_; }
  Py_UCS4 at(Py_ssize_t k) const { return static_cast<Py_UCS4>(chars_[k]); }
  bool failed() const { return failed_; }

  // \w: str.isalnum or "_".
  bool word(Py_ssize_t k) { return at(k) == '_' || (classify(k) & kAlnum) != 0; }
  // [^\W_]: str.isalnum.
  bool alnum(Py_ssize_t k) { return (classify(k) & kAlnum) != 0; }
  // [^\W\d_]: alphanumeric but not a decimal digit.
  bool letter(Py_ssize_t k) { return classify(k) == kAlnum; }
  bool run_character(Py_ssize_t k) { return at(k) == '-' || word(k); }
  bool blank(Py_ssize_t k) const { return at(k) == ' ' || at(k) == '\t'; }

  // The first place from `from` on where " an" or " or" starts, which every
  // conjunction does; size() when there is none.
  Py_ssize_t next_candidate(Py_ssize_t from) const {
    Py_ssize_t k = from;
    if constexpr (sizeof(Char) == 1) {
      // Eight places at a time: a space, then "an" or "or", as bit masks.
      for (; k + 2 + 8 <= length_; k += 8) {
        const uint64_t found =
            equal_bytes(k, ' ') & ((equal_bytes(k + 1, 'a') & equal_bytes(k + 2, 'n')) |
                                   (equal_bytes(k + 1, 'o') & equal_bytes(k + 2, 'r')));
        if (found != 0) return k + first_byte(found);
      }
    }
    for (; k + 2 < length_; ++k) {
      if (at(k) == ' ' &&
          ((at(k + 1) == 'a' && at(k + 2) == 'n') || (at(k + 1) == 'o' && at(k + 2) == 'r'))) {
        return k;
      }
    }
    return length_;
  }

  // Whether text[start:end], lower-cased by Python, is in `words`, or its
  // part after the last hyphen is.
  bool in_words(PyObject* words, Py_ssize_t start, Py_ssize_t end) {
    PyObject* lowered = lowered_slice(start, end);
    if (lowered == nullptr) return false;
    int found = PySet_Contains(words, lowered);
    if (found == 0) {
      const Py_ssize_t size = PyUnicode_GetLength(lowered);
      const Py_ssize_t hyphen = PyUnicode_FindChar(lowered, '-', 0, size, -1);
      if (hyphen >= 0) {
        PyObject* last = PyUnicode_Substring(lowered, hyphen + 1, size);
        found = last == nullptr ? -1 : PySet_Contains(words, last);
        Py_XDECREF(last);
      }
    }
    Py_DECREF(lowered);
    failed_ = failed_ || found < 0;
    return found == 1;
  }

  // Whether text[start:end], lower-cased by Python, holds a negation cue.
  bool has_negation_cue(Py_ssize_t start, Py_ssize_t end) {
    PyObject* lowered = lowered_slice(start, end);
    if (lowered == nullptr) return false;
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(lowered, &size);
    bool found = false;
    if (bytes == nullptr) {
      failed_ = true;
    } else {
      // The cues are ASCII: found among UTF-8 bytes exactly where among characters.
      const std::string_view lowered_text(bytes, static_cast<size_t>(size));
      for (std::string_view cue : kNegationCues) {
        found = found || lowered_text.find(cue) != std::string_view::npos;
      }
    }
    Py_DECREF(lowered);
    return found;
  }

 private:
  // The high bit of each of the eight bytes from `k` on that equals `c`.
  uint64_t equal_bytes(Py_ssize_t k, unsigned char c) const {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    uint64_t word = 0;
    std::memcpy(&word, chars_ + k, sizeof word);
    const uint64_t x = word ^ (0x0101010101010101ULL * c);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
  }

  // Which of the eight bytes holds the first high bit of `mask`.
  static Py_ssize_t first_byte(uint64_t mask) {
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(mask) / 8;
    return std::countl_zero(mask) / 8;
  }

  uint8_t classify(Py_ssize_t k) {
    const Py_UCS4 c = at(k);
    if (c < 0x80) {
      if (c >= '0' && c <= '9') return kDecimal | kAlnum;
      return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ? kAlnum : kOther;
    }
    auto known = classes_.find(c);
    if (known != classes_.end()) return known->second;
    const uint8_t found = python_class(c);
    classes_.emplace(c, found);
    return found;
  }

  uint8_t python_class(Py_UCS4 c) {
    PyObject* character = PyUnicode_FromOrdinal(static_cast<int>(c));
    if (character == nullptr) {
      failed_ = true;
      return kOther;
    }
    uint8_t found = kOther;
    if (answer(character, "isalnum")) found |= kAlnum;
    if (answer(character, "isdecimal")) found |= kDecimal;
    Py_DECREF(character);
    return found;
  }

  bool answer(PyObject* character, const char* method) {
    PyObject* result = PyObject_CallMethod(character, method, nullptr);
    if (result == nullptr) {
      failed_ = true;
      return false;
    }
    const bool yes = result == Py_True;
    Py_DECREF(result);
    return yes;
  }

  PyObject* lowered_slice(Py_ssize_t start, Py_ssize_t end) {
    PyObject* slice = PyUnicode_Substring(object_, start, end);
    PyObject* lowered = slice == nullptr ? nullptr : PyObject_CallMethod(slice, "lower", nullptr);
    Py_XDECREF(slice);
    failed_ = failed_ || lowered == nullptr;
    return lowered;
  }

  PyObject* object_;
  const Char* chars_;
  Py_ssize_t length_;
  bool failed_ = false;
  std::unordered_map<Py_UCS4, uint8_t> classes_;
};

struct Span {
  Py_ssize_t start = 0;
  Py_ssize_t end = 0;
  bool found = false;
};

// The end of the word that starts at `k` and ends before `limit` (a letter,
// then letters and digits, then hyphenated parts of letters and digits), or
// `k` when none starts there.
template <typename Char>
Py_ssize_t word_end(Text<Char>& text, Py_ssize_t k, Py_ssize_t limit) {
  if (k >= limit || !text.letter(k)) return k;
  ++k;
  while (k < limit && text.alnum(k)) ++k;
  while (k + 1 < limit && text.at(k) == '-' && text.alnum(k + 1)) {
    k += 2;
    while (k < limit && text.alnum(k)) ++k;
  }
  return k;
}

// The word that ends at `end`, not reaching before `floor`: the whole run of
// word characters and hyphens that ends there, when it is one word and does
// not reach back past kLongest characters.
template <typename Char>
Span word_before(Text<Char>& text, Py_ssize_t end, Py_ssize_t floor) {
  if (end <= 0) return {};
  const Py_ssize_t limit = std::max(floor, end - kLongest);
  Py_ssize_t start = end;
  while (start > limit && text.run_character(start - 1)) --start;
  if (start == limit && start > 0 && text.run_character(start - 1)) return {};
  if (start == end || word_end(text, start, end) != end) return {};
  return {start, end, true};
}

// The word before a comma that stands before `start`, spaces between.
template <typename Char>
Span listed_before(Text<Char>& text, Py_ssize_t start) {
  Py_ssize_t end = start;
  while (end > 0 && start - end <= kMaxGap && text.blank(end - 1)) --end;
  if (end <= 0 || text.at(end - 1) != ',') return {};
  return word_before(text, end - 1, 0);
}

// The conjuncts before the conjunction at `end`, last first.
template <typename Char>
Py_ssize_t earlier_conjuncts(Text<Char>& text, Py_ssize_t end, Span (&conjuncts)[kMaxConjuncts]) {
  if (end <= 0) return 0;
  end -= text.at(end - 1) == ',';
  const Span last = word_before(text, end, 0);
  if (!last.found) return 0;
  Py_ssize_t count = 0;
  conjuncts[count++] = last;
  while (count < kMaxConjuncts - 1) {
    const Span earlier = listed_before(text, conjuncts[count - 1].start);
    if (!earlier.found) break;
    conjuncts[count++] = earlier;
  }
  return count;
}

// The words after a list's last conjunct in the same phrase: the first of
// them (not found when none follows) and where the last ends.
template <typename Char>
Span following_words(Text<Char>& text, Py_ssize_t from, Py_ssize_t& end) {
  Span first;
  end = from;
  for (Py_ssize_t count = 0; count < kFollowingWords; ++count) {
    Py_ssize_t k = end;
    while (k < text.size() && (text.blank(k) || text.at(k) == '-')) ++k;
    const Py_ssize_t stop = k == end ? k : word_end(text, k, text.size());
    if (stop == k) break;
    if (count == 0) first = {k, stop, true};
    end = stop;
  }
  return first;
}

template <typename Char>
Py_ssize_t find_in(const Text<Char>& text, Py_UCS4 c, Py_ssize_t from, Py_ssize_t to, bool last) {
  if (last) {
    for (Py_ssize_t k = to - 1; k >= from; --k) {
      if (text.at(k) == c) return k;
    }
    return -1;
  }
  for (Py_ssize_t k = from; k < to; ++k) {
    if (text.at(k) == c) return k;
  }
  return -1;
}

// Where a variant of the words at `index` starts: its sentence's start when
// a negation cue stands between, otherwise a few words back.
template <typename Char>
Py_ssize_t variant_start(Text<Char>& text, Py_ssize_t index) {
  const Py_ssize_t floor = std::max<Py_ssize_t>(0, index - kMaxPrefix);
  Py_ssize_t start = -1;
  for (Py_UCS4 end_mark : {Py_UCS4{'.'}, Py_UCS4{';'}, Py_UCS4{'!'}, Py_UCS4{'\n'}}) {
    start = std::max(start, find_in(text, end_mark, floor, index, true));
  }
  ++start;
  if (start == 0 && floor > 0) {
    const Py_ssize_t space = find_in(text, ' ', floor, index, false);
    start = space < 0 ? index : space + 1;
  }
  start = std::max(start, floor);
  if (index - start > kLocalPrefix && !text.has_negation_cue(start, index)) {
    const Py_ssize_t space = find_in(text, ' ', index - kLocalPrefix, index, false);
    start = space < 0 ? index : space + 1;
  }
  return start;
}

// The conjunction (" and", " or", " and/or", then spaces or tabs) at `k`:
// the start and end of the word after it, or not found. The word must not
// run on into a word character or a hyphen.
template <typename Char>
Span conjunction_at(Text<Char>& text, Py_ssize_t k) {
  if (text.at(k) != ' ') return {};
  Py_ssize_t after = -1;
  auto matches = [&](std::string_view word) {
    if (k + 1 + static_cast<Py_ssize_t>(word.size()) >= text.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (text.at(k + 1 + static_cast<Py_ssize_t>(i)) != static_cast<unsigned char>(word[i]))
        return false;
    }
    return text.blank(k + 1 + static_cast<Py_ssize_t>(word.size()));
  };
  for (std::string_view word :
       {std::string_view("and"), std::string_view("or"), std::string_view("and/or")}) {
    if (matches(word)) {
      after = k + 1 + static_cast<Py_ssize_t>(word.size());
      break;
    }
  }
  if (after < 0) return {};
  while (after < text.size() && text.blank(after)) ++after;
  const Py_ssize_t end = word_end(text, after, text.size());
  if (end == after || (end < text.size() && text.run_character(end))) return {};
  return {after, end, true};
}

bool append_variant(PyObject* variants, Py_ssize_t lead_start, Py_ssize_t lead_end,
                    const Span& conjunct, Py_ssize_t tail_start, Py_ssize_t tail_end) {
  PyObject* variant = Py_BuildValue("((nn)(nn)(nn))", lead_start, lead_end, conjunct.start,
                                    conjunct.end, tail_start, tail_end);
  if (variant == nullptr) return false;
  const int failed = PyList_Append(variants, variant);
  Py_DECREF(variant);
  return failed == 0;
}

// The hit start at `k` of `starts` in `value`; false with an exception set.
bool start_at(PyObject* starts, Py_ssize_t k, Py_ssize_t& value) {
  PyObject* item = PySequence_GetItem(starts, k);
  if (item == nullptr) return false;
  value = PyLong_AsSsize_t(item);
  Py_DECREF(item);
  return !(value == -1 && PyErr_Occurred());
}

template <typename Char>
PyObject* search(Text<Char>& text, PyObject* starts, PyObject* words) {
  const Py_ssize_t count = PySequence_Size(starts);
  if (count < 0) return nullptr;
  PyObject* variants = PyList_New(0);
  if (variants == nullptr) return nullptr;
  Py_ssize_t k = 0;
  Py_ssize_t hit_start = 0;
  bool ok = count == 0 || start_at(starts, 0, hit_start);
  Py_ssize_t place = 0;
  while (ok) {
    place = text.next_candidate(place);
    if (place == text.size()) break;
    const Span last = conjunction_at(text, place);
    if (!last.found) {
      ++place;
      continue;
    }
    const Py_ssize_t conjunction = place;
    // Matches do not overlap: the next conjunction is looked for after this one.
    place = last.end;
    // Conjunctions come in text order: the hits too far back for this one
    // are too far back for every later one.
    while (ok && k < count && hit_start < conjunction - kReach) {
      ++k;
      ok = k == count || start_at(starts, k, hit_start);
    }
    if (!ok || k == count) break;
    if (hit_start > conjunction + kReach || !text.in_words(words, last.start, last.end)) {
      ok = !text.failed();
      continue;
    }
    Span conjuncts[kMaxConjuncts];
    const Py_ssize_t listed = earlier_conjuncts(text, conjunction, conjuncts);
    if (listed == 0 || !text.in_words(words, conjuncts[0].start, conjuncts[0].end)) {
      ok = !text.failed();
      continue;
    }
    Py_ssize_t tail_end = last.end;
    const Span following = following_words(text, last.end, tail_end);
    const Span first = conjuncts[listed - 1];
    Py_ssize_t trimmed = first.start;
    while (trimmed > 0 && text.blank(trimmed - 1)) --trimmed;
    const Span before = word_before(text, trimmed, 0);
    const bool shared = (following.found && text.in_words(words, following.start, following.end)) ||
                        (before.found && text.in_words(words, before.start, before.end));
    if (text.failed()) {
      ok = false;
      break;
    }
    if (!shared) continue;
    const Py_ssize_t lead = variant_start(text, first.start);
    ok = !text.failed();
    for (Py_ssize_t c = listed - 1; ok && c >= 0; --c) {
      ok = append_variant(variants, lead, first.start, conjuncts[c], last.end, tail_end);
    }
    ok = ok && append_variant(variants, lead, first.start, last, last.end, tail_end);
  }
  if (!ok || text.failed()) {
    Py_DECREF(variants);
    return nullptr;
  }
  return variants;
}

}  // namespace

PyObject* coordinations(PyObject*, PyObject* args) {
  PyObject* text_object = nullptr;
  PyObject* starts = nullptr;
  PyObject* words = nullptr;
  if (!PyArg_ParseTuple(args, "UOO!:coordinations", &text_object, &starts, &PyFrozenSet_Type,
                        &words)) {
    return nullptr;
  }
  const Py_ssize_t length = PyUnicode_GetLength(text_object);
  if (length < 0) return nullptr;
  PyObject* ascii = PyObject_CallMethod(text_object, "isascii", nullptr);
  if (ascii == nullptr) return nullptr;
  const bool is_ascii = ascii == Py_True;
  Py_DECREF(ascii);
  if (is_ascii) {  // the UTF-8 bytes are the characters, held by the str itself
    const char* utf8 = PyUnicode_AsUTF8AndSize(text_object, nullptr);
    if (utf8 == nullptr) return nullptr;
    Text<unsigned char> text(text_object, reinterpret_cast<const unsigned char*>(utf8), length);
    return search(text, starts, words);
  }
  Py_UCS4* chars = PyUnicode_AsUCS4Copy(text_object);
  if (chars == nullptr) return nullptr;
  Text<Py_UCS4> text(text_object, chars, length);
  PyObject* variants = search(text, starts, words);
  PyMem_Free(chars);
  return variants;
}

}  // namespace corvanta_tools_accurate
