// The rule for handing back scratch memory: a buffer that keeps its capacity
// between calls is freed once it holds more than kKeptScratchBytes. Ordinary
// texts never reach it; a pool thread that once saw a gigabyte text would
// otherwise hold gigabytes until it ends.
#pragma once

#include <cstddef>

namespace corvanta::detail {

inline constexpr size_t kKeptScratchBytes = size_t{1} << 20;

// Frees `buffer` (a std::vector or std::string) when it holds more than
// kKeptScratchBytes of capacity.
template <class Buffer>
void release_if_large(Buffer& buffer) {
  if (buffer.capacity() * sizeof(typename Buffer::value_type) > kKeptScratchBytes)
    Buffer().swap(buffer);
}

}  // namespace corvanta::detail
