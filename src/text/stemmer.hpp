// The Snowball English stemmer (classic Porter2), over libstemmer's UTF-8
// English algorithm.
//
// A libstemmer instance keeps scratch space between calls, so a Stemmer is
// not re-entrant: each thread (and each construction) uses its own instance.
// Stemming itself is a pure function of the word, so two instances always
// agree.
#pragma once

#include <string_view>

struct sb_stemmer;

namespace corvanta::text {

class Stemmer {
 public:
  Stemmer();
  ~Stemmer();
  Stemmer(const Stemmer&) = delete;
  Stemmer& operator=(const Stemmer&) = delete;

  // Stem of one lower-cased word. The view lives until the next call on this
  // instance or its destruction.
  [[nodiscard]] std::string_view stem(std::string_view word);

 private:
  sb_stemmer* impl_;
};

}  // namespace corvanta::text
