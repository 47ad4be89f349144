// Whether the tests run under AddressSanitizer, where every byte costs several times as much:
// bounds on time and sizes that hold for the plain build are relaxed there.
#pragma once

namespace zembrat::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace zembrat::testing
