#pragma once
// A strict reader for the documents the tool prints: enough to walk rows and check their shape.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

struct JsonNode {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    std::string text;  // the number as written, or the decoded string
    std::vector<JsonNode> items;
    std::vector<std::pair<std::string, JsonNode>> members;  // in written order

    const JsonNode* find(std::string_view key) const;
    bool is_integer() const;  // a number written without point or exponent
    std::uint64_t as_unsigned() const;
};

// nullopt unless the whole text is exactly one JSON value (surrounding white space allowed).
std::optional<JsonNode> parse_json(std::string_view text);

}  // namespace e2e
