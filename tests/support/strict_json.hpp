#pragma once
// The one reader the tests and fuzz targets check the tool's JSON with. It accepts exactly what
// the writer produces and nothing else: no white space between tokens, object keys strictly
// increasing by bytes (so sorted, and none twice), strings of valid UTF-8 with only the writer's
// escapes, integers without leading zeros or "-0" and within 64 bits, and doubles in the
// writer's one form (the shortest digits that read back, laid out by their exponent).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A member of an object: its key and its value. Not std::pair, which wants JsonNode complete
// where clang 14 reads the vector below.
struct JsonMember;

struct JsonNode {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    std::string text;  // the number as written, or the decoded string
    std::vector<JsonNode> items;
    std::vector<JsonMember> members;  // in written (byte) order

    const JsonNode* find(std::string_view key) const;
    bool is_integer() const;  // a number written without point or exponent
    std::uint64_t as_unsigned() const;
    std::int64_t as_signed() const;
    double as_double() const;
};

struct JsonMember {
    std::string first;  // the key
    JsonNode second;    // the value
};

// Whether strings must be valid UTF-8. Only a check of the writer itself, which copies any
// bytes it is given, reads strings of other bytes.
enum class Strings { utf8, any_bytes };

// The value, or nullopt unless `text` is exactly one value as the writer makes it.
std::optional<JsonNode> read_json(std::string_view text, Strings strings = Strings::utf8);

// The tool's standard output: one line, the value and then "\n", nothing before or after.
std::optional<JsonNode> read_json_line(std::string_view line);

// True when `written` is the form the writer gives `number` (finite): zero as 0.0 or -0.0;
// otherwise the shortest digits d1..dn that read back, laid out plainly when the decimal
// exponent g lies in -5..15 (0.000ddd, ddd.ddd, ddd000.0) and as d[.ddd]e±g outside. Among
// several shortest digit strings any one that reads back is accepted.
bool has_double_form(std::string_view written, double number);

}  // namespace testing_support
