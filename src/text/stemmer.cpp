// libstemmer glue.
//
// libstemmer reports allocation failure (at creation or while growing its
// scratch space) by returning NULL; that becomes std::bad_alloc, which the
// Python boundary turns into MemoryError like any other failed allocation.
#include "text/stemmer.hpp"

#include <libstemmer.h>

#include <climits>
#include <new>

namespace corvanta::text {

namespace {

// What libstemmer may keep for the longest word it has stemmed.
constexpr size_t kKeptBufferBytes = size_t{1} << 20;

sb_stemmer* new_english_stemmer() {
  sb_stemmer* impl = sb_stemmer_new("english", "UTF_8");
  if (impl == nullptr) throw std::bad_alloc();
  return impl;
}

}  // namespace

Stemmer::Stemmer() : impl_(new_english_stemmer()) {}

Stemmer::~Stemmer() { sb_stemmer_delete(impl_); }

void Stemmer::release_large_buffers() {
  if (longest_word_ <= kKeptBufferBytes) return;
  // libstemmer has no call to shrink its buffer; a fresh instance has none.
  sb_stemmer* fresh = new_english_stemmer();
  sb_stemmer_delete(impl_);
  impl_ = fresh;
  longest_word_ = 0;
}

std::string_view Stemmer::stem(std::string_view word) {
  if (word.size() > kMemoWordBytes) return run_algorithm(word);
  const uint32_t known = memo_words_.find(word);
  if (known != detail::StringMap::kMissing) return remembered(known);
  if (memo_words_.size() >= kMemoWords) {
    memo_words_.clear();
    memo_spans_.clear();
    memo_stems_.clear();
  }
  const std::string_view stem = run_algorithm(word);
  const auto index = static_cast<uint32_t>(memo_spans_.size());
  memo_spans_.emplace_back(static_cast<uint32_t>(memo_stems_.size()),
                           static_cast<uint32_t>(stem.size()));
  memo_stems_.append(stem);
  memo_words_.insert(word, index);
  return remembered(index);
}

std::string_view Stemmer::run_algorithm(std::string_view word) {
  // No word of a text or label comes near INT_MAX bytes; stemming only the
  // prefix that libstemmer can address keeps the call well-defined.
  const int size = word.size() > INT_MAX ? INT_MAX : static_cast<int>(word.size());
  if (static_cast<size_t>(size) > longest_word_) longest_word_ = static_cast<size_t>(size);
  const sb_symbol* out =
      sb_stemmer_stem(impl_, reinterpret_cast<const sb_symbol*>(word.data()), size);
  if (out == nullptr) throw std::bad_alloc();
  return {reinterpret_cast<const char*>(out), static_cast<size_t>(sb_stemmer_length(impl_))};
}

}  // namespace corvanta::text
