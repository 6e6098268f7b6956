// A hint for large, freshly allocated buffers that are filled at once: the
// kernel backs them with 2 MiB pages instead of taking one page fault per
// 4 KiB. Only a hint: where the kernel declines (huge pages off, none free),
// nothing changes, and the contents are never touched.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace corvanta::detail {

// Advises the whole 2 MiB pages inside [data, data + bytes).
inline void advise_huge_pages(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace corvanta::detail
