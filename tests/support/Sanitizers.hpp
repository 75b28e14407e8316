#pragma once
// Whether this build runs under a sanitizer. Memory figures then measure the
// sanitizer's own bookkeeping (shadow memory, freed blocks held back), not the
// program, so tests that assert a memory ceiling skip that check.

namespace vesko::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

}  // namespace vesko::testing
