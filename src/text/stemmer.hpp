// The Snowball English stemmer (classic Porter2), over libstemmer's UTF-8
// English algorithm.
//
// A libstemmer instance keeps scratch space between calls, so a Stemmer is
// not re-entrant: each thread (and each construction) uses its own instance.
// Stemming itself is a pure function of the word, so two instances always
// agree. Callers that stem the same words again remember the results
// themselves (StemCache for texts, the index build for label tokens).
#pragma once

#include <cstddef>
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

  // Hands back the buffer that libstemmer grew for a huge word (it keeps one
  // as large as the longest word stemmed). Ends the life of stem views.
  void release_large_buffers();

 private:
  sb_stemmer* impl_;
  size_t longest_word_ = 0;  // since libstemmer's buffer was last handed back
};

}  // namespace corvanta::text
