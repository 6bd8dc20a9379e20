#pragma once
// The written form of a string or key: quoted, with the control bytes, the double quote and the
// backslash escaped. Every other byte, non-ASCII UTF-8 included, is copied as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace json {

void append_quoted(std::string& out, std::string_view text);

// The length of what append_quoted writes for `text`.
std::size_t quoted_length(std::string_view text);

// Writes `text` quoted at `at`, which has room for text.size() + 2 bytes, and returns the end;
// null when one of its bytes needs an escape (what was written is then of no use).
char* put_plain_quoted(char* at, std::string_view text);

}  // namespace json
