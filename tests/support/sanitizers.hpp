#pragma once
// Whether this program is built with AddressSanitizer, for the few tests it changes: GCC says
// so with a macro, clang only through __has_feature.

namespace test_support {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool address_sanitizer = true;
#else
inline constexpr bool address_sanitizer = false;
#endif
#else
inline constexpr bool address_sanitizer = false;
#endif

}  // namespace test_support
