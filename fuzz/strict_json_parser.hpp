#pragma once
// A strict reader of the compact JSON text the tool writes: RFC 8259 grammar with no
// whitespace between tokens, object keys strictly increasing by bytes (so sorted and unique),
// no unpaired \u surrogate escapes. Used only to check the writer.

#include <optional>
#include <string_view>

#include "json/value.hpp"

namespace fuzz {

// The value the text holds, or nullopt when the text is not exactly one such value.
// Numbers with a fraction or exponent read back (strtod) as doubles, others as integers.
std::optional<json::Value> parse_strict_json(std::string_view text);

}  // namespace fuzz
