#pragma once
// The written form of a string or key: quoted, with the control bytes, the double quote and the
// backslash escaped. Every other byte, non-ASCII UTF-8 included, is copied as it is.

#include <string>
#include <string_view>

namespace json {

void append_quoted(std::string& out, std::string_view text);

}  // namespace json
