// The automaton against a naive matcher: at each position, left to right,
// try every pattern and keep the longest (lowest index among equals); resume
// at the end of the match.
#include <doctest/doctest.h>

#include <random>
#include <string>
#include <vector>

#include "base/debug_check.hpp"
#include "lexicon/aho_corasick.hpp"

namespace corvanta {
namespace {

using Patterns = std::vector<std::string>;

struct Span {
  uint32_t pattern;
  size_t begin;
  size_t end;
  bool operator==(const Span&) const = default;
};

bool naive_find(const Patterns& patterns, std::string_view text, size_t from, Span& out) {
  for (size_t at = from; at < text.size(); ++at) {
    size_t best_len = 0;
    for (size_t i = 0; i < patterns.size(); ++i) {
      const std::string& p = patterns[i];
      if (p.size() > best_len && text.substr(at, p.size()) == p) {
        best_len = p.size();
        out = {static_cast<uint32_t>(i), at, at + p.size()};
      }
    }
    if (best_len > 0) return true;
  }
  return false;
}

std::vector<Span> naive_all(const Patterns& patterns, std::string_view text) {
  std::vector<Span> spans;
  Span s{};
  for (size_t from = 0; naive_find(patterns, text, from, s); from = s.end) spans.push_back(s);
  return spans;
}

std::vector<Span> automaton_all(const AhoCorasick& ac, std::string_view text) {
  std::vector<Span> spans;
  AcMatch m;
  for (size_t from = 0; ac.find(text, from, m); from = m.byte_end) {
    spans.push_back({m.pattern.v, m.byte_begin, m.byte_end});
  }
  return spans;
}

std::unique_ptr<const AhoCorasick> build_ok(const Patterns& patterns) {
  const std::vector<std::string_view> views(patterns.begin(), patterns.end());
  auto built = AhoCorasick::build(views);
  REQUIRE(built.ok());
  return std::move(built).value();
}

// Random pattern sets over a small alphabet, rich in shared prefixes, patterns
// that are prefixes, suffixes or infixes of others, duplicates and empties.
class Generator {
 public:
  Generator(uint32_t seed, std::vector<std::string> atoms) : rng_(seed), atoms_(std::move(atoms)) {}

  std::string word(size_t max_atoms) {
    std::string w;
    for (size_t i = pick(max_atoms + 1); i > 0; --i) w += atoms_[pick(atoms_.size())];
    return w;
  }

  Patterns patterns(size_t max_count) {
    Patterns ps;
    for (size_t i = pick(max_count) + 1; i > 0; --i) {
      const size_t kind = pick(8);
      if (ps.empty() || kind < 4) {
        ps.push_back(word(12));
      } else if (kind == 4) {
        ps.push_back(ps[pick(ps.size())]);  // duplicate
      } else {
        const std::string& base = ps[pick(ps.size())];
        const size_t b = pick(base.size() + 1);
        ps.push_back(base.substr(b, pick(base.size() - b + 1)) + (kind == 7 ? word(2) : ""));
      }
    }
    return ps;
  }

  // Text made of pattern pieces and noise, so that matches are frequent.
  std::string text(const Patterns& ps) {
    std::string t;
    for (size_t i = pick(12); i > 0; --i) {
      if (pick(3) == 0) {
        t += word(3);
      } else {
        std::string piece = ps[pick(ps.size())];
        if (!piece.empty() && pick(3) == 0) piece.pop_back();  // a near miss
        t += piece;
      }
    }
    return t;
  }

  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  std::mt19937 rng_;
  std::vector<std::string> atoms_;
};

std::vector<std::string> all_bytes() {
  std::vector<std::string> atoms;
  for (int b = 0; b < 256; ++b) atoms.emplace_back(1, static_cast<char>(b));
  return atoms;
}

// A six-byte stem, likely to start a pattern, followed by one of many bytes.
std::vector<std::string> wide_fan_out() {
  std::vector<std::string> atoms(8, "abcdef");
  for (const char* b : {"\x01", "\x7f", "\x80", "\xff"}) atoms.emplace_back(b);
  for (char c = 'a'; c <= 'x'; ++c) atoms.emplace_back(1, c);
  return atoms;
}

}  // namespace

TEST_CASE("leftmost-longest named cases") {
  struct Case {
    const char* name;
    Patterns patterns;
    std::string text;
    std::vector<Span> expected;
  };
  const std::vector<Case> cases = {
      {"longest at the leftmost start wins", {"ab", "abc", "bcd"}, "abcd", {{1, 0, 3}}},
      {"equal patterns: lowest index", {"x", "abc", "abc"}, "zabc", {{1, 1, 4}}},
      {"match at the end of the text", {"cd", "d"}, "abcd", {{0, 2, 4}}},
      {"earlier start beats longer later match", {"bcdef", "ab"}, "abcdef", {{1, 0, 2}}},
      // A failed extension must still report the suffix pattern passed on
      // the way (the state for "abc" carries "bc").
      {"suffix match inside a failed longer path", {"abcd", "bc"}, "abcx", {{1, 1, 3}}},
      {"suffix match, then its own extension", {"abcd", "bc", "bcxy"}, "abcxy", {{2, 1, 5}}},
      {"no fall-back past a recorded match", {"abcd", "bc", "cx"}, "abcx", {{1, 1, 3}}},
      {"resume at the previous end", {"aa"}, "aaaaa", {{0, 0, 2}, {0, 2, 4}}},
      {"empty pattern never matches", {"", "b"}, "abc", {{1, 1, 2}}},
      {"only empty patterns", {"", ""}, "abc", {}},
      {"no patterns", {}, "abc", {}},
      {"empty text", {"a"}, "", {}},
      {"multi-byte UTF-8",
       {"\xc3\xa9t\xc3\xa9", "t\xc3\xa9"},
       "\xc3\xa9t\xc3\xa8 t\xc3\xa9",
       {{1, 6, 9}}},
  };
  for (const Case& c : cases) {
    SUBCASE(c.name) {
      const auto ac = build_ok(c.patterns);
      CHECK(ac->pattern_count() == c.patterns.size());
      CHECK(automaton_all(*ac, c.text) == c.expected);
      CHECK(naive_all(c.patterns, c.text) == c.expected);
    }
  }
}

TEST_CASE("find from a later position") {
  const auto ac = build_ok({"abc", "bc", "c"});
  AcMatch m;
  SUBCASE("inside a match") {
    REQUIRE(ac->find("abcabc", 1, m));
    CHECK(Span{m.pattern.v, m.byte_begin, m.byte_end} == Span{1, 1, 3});
  }
  SUBCASE("at the last byte") {
    REQUIRE(ac->find("abc", 2, m));
    CHECK(Span{m.pattern.v, m.byte_begin, m.byte_end} == Span{2, 2, 3});
  }
  SUBCASE("at and past the end") {
    CHECK_FALSE(ac->find("abc", 3, m));
    CHECK_FALSE(ac->find("abc", 7, m));
  }
}

// The pattern families of the random tests: alphabets and how many patterns
// a set draws from them.
struct Family {
  const char* name;
  std::vector<std::string> atoms;
  size_t max_patterns;
};

std::vector<Family> random_families() {
  return {
      {"two letters", {"a", "b"}, 8},
      {"four letters", {"a", "b", "c", "d"}, 20},
      {"words and spaces", {"ab", "ba", "c", " ", "abc"}, 30},
      // Patterns up to about 100 bytes, so that matches often straddle the
      // middle of a long text.
      {"long patterns", {"abcdefgh", "abc", " ", "h"}, 20},
      {"multi-byte UTF-8", {"a", "\xc3\xa9", "\xc3\xa8", "\xe2\x80\x99", "\xf0\x9f\x98\x80"}, 20},
      {"all 256 byte values", all_bytes(), 60},
      // Many distinct bytes after a shared six-byte stem: deep states with
      // up to 16 keys, and with more than a sparse record holds.
      {"wide deep fan-out", wide_fan_out(), 80},
  };
}

// Runs check(gen, patterns, automaton) on `sets` random pattern sets of
// every family, one subcase per family.
template <class Check>
void for_random_sets(uint32_t seed, int sets, Check check) {
  for (const Family& f : random_families()) {
    SUBCASE(f.name) {
      Generator gen(seed, f.atoms);
      for (int set = 0; set < sets; ++set) {
        const Patterns patterns = gen.patterns(f.max_patterns);
        const auto ac = build_ok(patterns);
        INFO("set " << set);
        check(gen, patterns, *ac);
      }
    }
  }
}

TEST_CASE("automaton agrees with the naive matcher on random sets") {
  for_random_sets(20240611, 300,
                  [](Generator& gen, const Patterns& patterns, const AhoCorasick& ac) {
                    for (int t = 0; t < 10; ++t) {
                      const std::string text = gen.text(patterns);
                      INFO("text " << t);
                      REQUIRE(automaton_all(ac, text) == naive_all(patterns, text));
                      const size_t from = gen.pick(text.size() + 1);
                      Span want{};
                      AcMatch got;
                      const bool found = naive_find(patterns, text, from, want);
                      REQUIRE(ac.find(text, from, got) == found);
                      if (found) REQUIRE(Span{got.pattern.v, got.byte_begin, got.byte_end} == want);
                    }
                  });
}

TEST_CASE(
    "find_all gives find's iteration, long texts searched from their start and middle at once") {
  AcScratch scratch;
  for_random_sets(20261208, 150,
                  [&](Generator& gen, const Patterns& patterns, const AhoCorasick& ac) {
                    for (int t = 0; t < 6; ++t) {
                      // Lengths around the two-lane threshold and well above it.
                      const size_t target = 300 + gen.pick(2500);
                      std::string text;
                      while (text.size() < target)
                        text += gen.text(patterns) + (gen.pick(4) == 0 ? gen.word(30) : "");
                      ac.find_all(text, scratch);
                      std::vector<Span> got;
                      for (const AcMatch& m : scratch.matches)
                        got.push_back({m.pattern.v, m.byte_begin, m.byte_end});
                      INFO("text " << t << ", " << text.size() << " bytes");
                      REQUIRE(got == automaton_all(ac, text));
                    }
                  });
}

TEST_CASE("every byte value in use, so no byte class is left over for misses") {
  Generator gen(99, all_bytes());
  Patterns patterns;
  for (int b = 0; b < 256; ++b) patterns.emplace_back(1, static_cast<char>(b));
  for (int i = 0; i < 200; ++i) patterns.push_back(gen.word(6));
  const auto ac = build_ok(patterns);
  for (int t = 0; t < 20; ++t) {
    const std::string text = gen.text(patterns) + gen.word(20);
    REQUIRE(automaton_all(*ac, text) == naive_all(patterns, text));
  }
}

TEST_CASE("random binary patterns keep rows near the root only") {
  // Nearly every state within four bytes of the root branches; full rows for
  // all of them would take some 60 MB.
  std::mt19937 rng(5);
  Patterns patterns(20000);
  for (auto& p : patterns) {
    for (int i = 0; i < 4; ++i) p += static_cast<char>(rng() & 0xFF);
  }
  const auto ac = build_ok(patterns);
  CHECK(ac->memory_bytes() < (size_t{16} << 20));
  std::string text;
  for (int i = 0; i < 300; ++i)
    text +=
        i % 7 == 0 ? patterns[rng() % patterns.size()] : std::string(1, static_cast<char>(rng()));
  CHECK(automaton_all(*ac, text) == naive_all(patterns, text));
}

TEST_CASE("a larger vocabulary agrees with the naive matcher") {
  // Enough patterns for dense rows below the root and long failure chains.
  Generator gen(7, {"a", "e", "i", "o", "n", "s", "t", "r", " ", "-", "\xc3\xa9"});
  Patterns patterns;
  for (int i = 0; i < 3000; ++i) patterns.push_back(gen.word(10));
  const auto ac = build_ok(patterns);
  for (int t = 0; t < 20; ++t) {
    std::string text;
    for (int w = 0; w < 40; ++w) text += gen.word(12);
    REQUIRE(automaton_all(*ac, text) == naive_all(patterns, text));
  }
}

// The layout checks of the build (debug_check_layout) ran on every automaton
// above only if this holds.
TEST_CASE("the unit-test build checks the core's invariants") { CHECK(detail::kDebugChecks); }

}  // namespace corvanta
