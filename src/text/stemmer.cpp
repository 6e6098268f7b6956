// libstemmer glue.
//
// libstemmer reports allocation failure (at creation or while growing its
// scratch space) by returning NULL; that becomes std::bad_alloc, which the
// Python boundary turns into MemoryError like any other failed allocation.
#include "text/stemmer.hpp"

#include <libstemmer.h>

#include <climits>
#include <new>

#include "base/scratch_buffers.hpp"

namespace corvanta::text {

namespace {

sb_stemmer* new_english_stemmer() {
  sb_stemmer* impl = sb_stemmer_new("english", "UTF_8");
  if (impl == nullptr) throw std::bad_alloc();
  return impl;
}

}  // namespace

Stemmer::Stemmer() : impl_(new_english_stemmer()) {}

Stemmer::~Stemmer() { sb_stemmer_delete(impl_); }

void Stemmer::release_large_buffers() {
  if (longest_word_ <= detail::kKeptScratchBytes) return;
  // libstemmer has no call to shrink its buffer; a fresh instance has none.
  sb_stemmer* fresh = new_english_stemmer();
  sb_stemmer_delete(impl_);
  impl_ = fresh;
  longest_word_ = 0;
}

std::string_view Stemmer::stem(std::string_view word) {
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
