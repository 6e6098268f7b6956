// CORVANTA_DCHECK(condition): an invariant of the core's own data, one that
// holds whatever the input. Checked in the unit-test, fuzzing and sanitizer
// builds (CMake defines CORVANTA_DEBUG_CHECKS there), where a broken one
// prints the condition and aborts; compiled out of release builds, where the
// core never aborts. kDebugChecks lets a checker whose loop has no other use
// be skipped as a whole.
#pragma once

#ifdef CORVANTA_DEBUG_CHECKS
#include <cstdio>
#include <cstdlib>
#endif

namespace corvanta::detail {

#ifdef CORVANTA_DEBUG_CHECKS
inline constexpr bool kDebugChecks = true;

[[noreturn, gnu::cold, gnu::noinline]] inline void debug_check_failed(const char* condition,
                                                                      const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

#define CORVANTA_DCHECK(condition)                                                            \
  do {                                                                                        \
    if (!(condition)) ::corvanta::detail::debug_check_failed(#condition, __FILE__, __LINE__); \
  } while (0)
#else
inline constexpr bool kDebugChecks = false;

// Compiled, so that it stays well-formed, but never evaluated.
#define CORVANTA_DCHECK(condition) \
  do {                             \
    if (false) (void)(condition);  \
  } while (0)
#endif

}  // namespace corvanta::detail
