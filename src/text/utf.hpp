#pragma once
// UTF-8 <-> UTF-16 conversions shared by the probe logic and the backends.

#include <optional>
#include <string>
#include <string_view>

namespace text {

// Never fails: a valid surrogate pair becomes one code point, every unpaired surrogate
// becomes U+FFFD, and a zero unit stays in the text as U+0000.
std::string utf16_to_utf8(std::u16string_view units);

// Like utf16_to_utf8, but nullopt when the text holds an unpaired surrogate.
std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units);

// Code points up to U+FFFF as one unit, higher ones as a pair; invalid bytes become U+FFFD.
std::u16string utf8_to_utf16(std::string_view bytes);

// The number of units utf8_to_utf16 makes of `bytes`, and the same units written to `out`
// (room for utf16_length(bytes) units): for a text converted straight into its final block.
std::size_t utf16_length(std::string_view bytes);
void utf8_to_utf16(std::string_view bytes, char16_t* out);

bool is_valid_utf8(std::string_view bytes);

// Each invalid sequence (a maximal subpart, as Unicode recommends) becomes U+FFFD.
std::string sanitize_utf8(std::string_view bytes);
// The same, leaving valid text where it is instead of copying it.
void sanitize_utf8_in_place(std::string& text);

}  // namespace text
