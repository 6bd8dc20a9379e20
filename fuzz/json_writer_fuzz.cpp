// The compact JSON writer over value trees built from the fuzzer's bytes: strings of any bytes
// (some made valid UTF-8), doubles from raw bits (NaN and infinities included), integers of
// both signs, nested arrays and objects with repeated keys.
//
// Properties:
// - each double is written in the shortest form that reads back, laid out by its exponent;
// - the value model keeps its promises: non-finite doubles become null, non-negative signed
//   integers become unsigned, objects hold the last value set per key, in byte order of keys;
// - the written text reads back with the tests' strict reader (compact, keys sorted and
//   unique, exact number forms) to the same tree, every double to the same bits;
// - the text is valid UTF-8 whenever every string in the tree was;
// - write_compact appends exactly what to_compact returns.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "fuzz_check.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"
#include "json/written_array.hpp"
#include "support/strict_json.hpp"
#include "text/utf.hpp"

namespace {

using testing_support::JsonNode;
using testing_support::Strings;

constexpr int max_depth = 24;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether the text read back holds the tree: kinds exactly, doubles to the bit (so 0.0 and
// -0.0 differ), members in the same order.
bool same_tree(const JsonNode& read, const json::Value& tree) {
    using Kind = JsonNode::Kind;
    switch (tree.kind()) {
    case json::Value::Kind::null: return read.kind == Kind::null;
    case json::Value::Kind::boolean:
        return read.kind == Kind::boolean && read.boolean == tree.as_boolean();
    case json::Value::Kind::unsigned_integer:
        return read.is_integer() && read.text[0] != '-' && read.as_unsigned() == tree.as_unsigned();
    case json::Value::Kind::signed_integer:
        return read.is_integer() && read.text[0] == '-' && read.as_signed() == tree.as_signed();
    case json::Value::Kind::floating:
        return read.kind == Kind::number && !read.is_integer() &&
               same_bits(read.as_double(), tree.as_double());
    case json::Value::Kind::string:
        return read.kind == Kind::string && read.text == tree.as_string();
    case json::Value::Kind::array: {
        const auto& items = tree.items();
        if (read.kind != Kind::array || read.items.size() != items.size()) return false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!same_tree(read.items[i], items[i])) return false;
        }
        return true;
    }
    case json::Value::Kind::object: {
        const auto& members = tree.members();
        if (read.kind != Kind::object || read.members.size() != members.size()) return false;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (read.members[i].first != members[i].key ||
                !same_tree(read.members[i].second, members[i].value)) {
                return false;
            }
        }
        return true;
    }
    }
    return false;
}

// Equality that tells 0.0 from -0.0 and compares kinds exactly.
bool same_tree(const json::Value& a, const json::Value& b) {
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
    case json::Value::Kind::null: return true;
    case json::Value::Kind::boolean: return a.as_boolean() == b.as_boolean();
    case json::Value::Kind::unsigned_integer: return a.as_unsigned() == b.as_unsigned();
    case json::Value::Kind::signed_integer: return a.as_signed() == b.as_signed();
    case json::Value::Kind::floating: return same_bits(a.as_double(), b.as_double());
    case json::Value::Kind::string: return a.as_string() == b.as_string();
    case json::Value::Kind::array: {
        const auto& x = a.items();
        const auto& y = b.items();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!same_tree(x[i], y[i])) return false;
        }
        return true;
    }
    case json::Value::Kind::object: {
        const auto& x = a.members();
        const auto& y = b.members();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].key != y[i].key || !same_tree(x[i].value, y[i].value)) return false;
        }
        return true;
    }
    }
    return false;
}

class TreeBuilder {
public:
    explicit TreeBuilder(FuzzedDataProvider& input) : input_(input) {}

    bool all_strings_valid() const { return all_strings_valid_; }

    json::Value value(int depth) {
        switch (input_.ConsumeIntegralInRange<int>(0, depth < max_depth ? 7 : 5)) {
        case 0: return json::Value();
        case 1: return json::Value::boolean(input_.ConsumeBool());
        case 2: return json::Value::from_unsigned(input_.ConsumeIntegral<std::uint64_t>());
        case 3: return signed_number();
        case 4: return double_number();
        case 5: return json::Value::string(text());
        case 6: return array(depth);
        default: return object(depth);
        }
    }

private:
    std::string text() {
        std::string bytes = input_.ConsumeRandomLengthString(40);
        if (input_.ConsumeBool()) bytes = text::sanitize_utf8(bytes);
        if (!text::is_valid_utf8(bytes)) all_strings_valid_ = false;
        return bytes;
    }

    json::Value signed_number() {
        const auto number = input_.ConsumeIntegral<std::int64_t>();
        json::Value made = json::Value::from_signed(number);
        if (number < 0) {
            FUZZ_CHECK(made.is_signed() && made.as_signed() == number);
        } else {
            FUZZ_CHECK(made.is_unsigned() && made.as_unsigned() == std::uint64_t(number));
        }
        return made;
    }

    json::Value double_number() {
        const auto bits = input_.ConsumeIntegral<std::uint64_t>();
        double number;
        std::memcpy(&number, &bits, sizeof number);
        json::Value made = json::Value::from_double(number);
        if (std::isfinite(number)) {
            FUZZ_CHECK(made.is_double() && same_bits(made.as_double(), number));
            FUZZ_CHECK(testing_support::has_double_form(json::to_compact(made), number));
        } else {
            FUZZ_CHECK(made.is_null());
        }
        return made;
    }

    json::Value array(int depth) {
        json::Value made = json::Value::array();
        const int count = input_.ConsumeIntegralInRange<int>(0, 6);
        for (int i = 0; i < count; ++i) made.push_back(value(depth + 1));
        FUZZ_CHECK(made.is_array() && made.items().size() == std::size_t(count));
        return made;
    }

    // Keys may repeat; std::map (byte order, last value wins) is what the object must match.
    json::Value object(int depth) {
        json::Value made = json::Value::object();
        std::map<std::string, json::Value> expected;
        const int count = input_.ConsumeIntegralInRange<int>(0, 6);
        for (int i = 0; i < count; ++i) {
            std::string key = text();
            json::Value member = value(depth + 1);
            expected[key] = member;
            made.set(std::move(key), std::move(member));
        }
        FUZZ_CHECK(made.is_object() && made.members().size() == expected.size());
        auto member = made.members().begin();
        for (const auto& [key, value] : expected) {
            FUZZ_CHECK(member->key == key && same_tree(member->value, value));
            FUZZ_CHECK(made.find(key) == &member->value);
            ++member;
        }
        return made;
    }

    FuzzedDataProvider& input_;
    bool all_strings_valid_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    TreeBuilder builder(input);
    const json::Value tree = builder.value(0);

    const std::string text = json::to_compact(tree);
    FUZZ_CHECK(json::written_size_limit(tree) >= text.size());
    if (tree.is_array()) {
        // Written element by element, an array has the same text.
        json::WrittenArray written;
        for (const json::Value& element : tree.items()) written.push_back(element);
        FUZZ_CHECK(written.size() == tree.items().size() && written.text() == text);
    }
    std::string appended = "x";
    json::write_compact(appended, tree);
    FUZZ_CHECK(appended.size() == text.size() + 1 && appended.compare(1, text.size(), text) == 0);

    // Strings of other bytes are copied as they are, so UTF-8 is asked for only when every
    // string in the tree was.
    const auto parsed = testing_support::read_json(
        text, builder.all_strings_valid() ? Strings::utf8 : Strings::any_bytes);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(same_tree(*parsed, tree));
    if (builder.all_strings_valid()) FUZZ_CHECK(text::is_valid_utf8(text));
    return 0;
}
