// Recognition allocates nothing once its scratch has grown to fit the text:
// every operator new of the test binary is counted while a warm scratch
// serves the same texts again. (libstemmer, a C library, reuses buffers of
// its own and does not go through operator new.)
#include <doctest/doctest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "lexicon/construction.hpp"
#include "recognize/hits_json.hpp"
#include "recognize/recognition.hpp"
#include "shared_data.hpp"

namespace {

std::atomic<size_t> g_allocations{0};

void* counted_malloc(size_t size) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void* counted_allocation(size_t size) {
  if (void* p = counted_malloc(size)) return p;
  throw std::bad_alloc();
}

}  // namespace

// The nothrow forms too (simdjson allocates its document with them): every
// block the deletes below free() must come from malloc, which a sanitizer's
// own nothrow operator new would not give.
void* operator new(size_t size) { return counted_allocation(size); }
void* operator new[](size_t size) { return counted_allocation(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return counted_malloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return counted_malloc(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace corvanta {
namespace {

TEST_CASE("recognition with a warm scratch allocates nothing") {
  auto built = build_from_path(CORVANTA_EMBEDDED_RELEASE);
  REQUIRE(built.ok());
  const MatcherState& state = *built.value();
  const std::string texts[] = {
      "No evidence of seizures, but short stature and ataxia were noted. Tremor; fever "
      "without cough. Abnormality of the kidney and renal cysts; cystic kidneys.",
      "\u0130stanbul: the patient denies seizures. \u03a3\u0391\u03a3 hypotonia, "
      "microcephaly and intellectual disability",
      "",
  };
  RecognitionScratch scratch;
  for (const std::string& text : texts) {
    CAPTURE(text);
    for (bool longest_only : {false, true}) {
      const size_t hits = recognize(state, text, {longest_only}, scratch).size();
      render_hits_json(scratch.hits, state.labels(), scratch.json);
      const size_t before = g_allocations.load();
      CHECK(recognize(state, text, {longest_only}, scratch).size() == hits);
      render_hits_json(scratch.hits, state.labels(), scratch.json);
      CHECK(g_allocations.load() == before);
    }
  }
  CHECK(recognize(state, texts[0], {}, scratch).size() > 5);
}

}  // namespace
}  // namespace corvanta
