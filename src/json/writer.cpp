#include "json/writer.hpp"

#include <cstring>

#include "json/number_text.hpp"
#include "json/string_text.hpp"

namespace json {

namespace {

// Room on the stack for the pieces of an object gathered between two appends to the output.
constexpr std::size_t piece_room = 256;
// Keys and string values up to this length are gathered; longer ones are appended directly.
constexpr std::size_t short_text = 64;
// The most a gathered value takes: a string of short_text bytes and its quotes.
constexpr std::size_t most_value = short_text + 2;

// Members are gathered on the stack, `,"key":` and, when it is null, an unsigned number or a
// short string without escapes, its value, and appended in one go: such members make up most
// rows, and appending each piece on its own checked the room four or five times per member.
void write_object(std::string& out, const Value& value) {
    char piece[piece_room];
    std::size_t used = 0;
    piece[used++] = '{';
    const auto flush = [&] {
        out.append(piece, used);
        used = 0;
    };
    bool first = true;
    for (const Member& member : value.members()) {
        const std::string& key = member.key;
        // Comma, quoted key, colon, value, and the closing brace.
        if (used + 1 + (short_text + 2) + 1 + most_value + 1 > piece_room) flush();
        if (!first) piece[used++] = ',';
        first = false;
        char* const key_end =
            key.size() <= short_text ? put_plain_quoted(piece + used, key) : nullptr;
        if (key_end != nullptr) {
            used = static_cast<std::size_t>(key_end - piece);
        } else {
            flush();
            append_quoted(out, key);
        }
        piece[used++] = ':';

        const Value& member_value = member.value;
        switch (member_value.kind()) {
        case Value::Kind::null:
            std::memcpy(piece + used, "null", 4);
            used += 4;
            continue;
        case Value::Kind::unsigned_integer: {
            char digits[max_unsigned_digits];
            char* const end = digits + sizeof digits;
            const char* const start = unsigned_digits_before(end, member_value.as_unsigned());
            const auto count = static_cast<std::size_t>(end - start);
            std::memcpy(piece + used, start, count);
            used += count;
            continue;
        }
        case Value::Kind::string: {
            const std::string& text = member_value.as_string();
            char* const text_end =
                text.size() <= short_text ? put_plain_quoted(piece + used, text) : nullptr;
            if (text_end != nullptr) {
                used = static_cast<std::size_t>(text_end - piece);
                continue;
            }
            break;
        }
        default:
            break;
        }
        flush();
        write_compact(out, member_value);
    }
    piece[used++] = '}';
    flush();
}

}  // namespace

void write_compact(std::string& out, const Value& value) {
    switch (value.kind()) {
    case Value::Kind::null:
        out.append("null");
        return;
    case Value::Kind::boolean:
        out.append(value.as_boolean() ? "true" : "false");
        return;
    case Value::Kind::unsigned_integer:
        append_unsigned(out, value.as_unsigned());
        return;
    case Value::Kind::signed_integer:
        append_signed(out, value.as_signed());
        return;
    case Value::Kind::floating:
        append_double(out, value.as_double());
        return;
    case Value::Kind::string:
        append_quoted(out, value.as_string());
        return;
    case Value::Kind::array: {
        out.push_back('[');
        bool first = true;
        for (const Value& element : value.items()) {
            if (!first) out.push_back(',');
            first = false;
            write_compact(out, element);
        }
        out.push_back(']');
        return;
    }
    case Value::Kind::object:
        write_object(out, value);
        return;
    }
}

std::string to_compact(const Value& value) {
    std::string out;
    write_compact(out, value);
    return out;
}

namespace {

std::size_t digit_count(std::uint64_t number) {
    std::size_t count = 1;
    while (number >= 10) {
        number /= 10;
        ++count;
    }
    return count;
}

}  // namespace

std::size_t written_size_limit(const Value& value) {
    switch (value.kind()) {
    case Value::Kind::null:
        return 4;
    case Value::Kind::boolean:
        return value.as_boolean() ? 4 : 5;
    case Value::Kind::unsigned_integer:
        return digit_count(value.as_unsigned());
    case Value::Kind::signed_integer:
        // Negative: the sign and the digits of the magnitude, taken without overflow.
        return 1 + digit_count(0 - static_cast<std::uint64_t>(value.as_signed()));
    case Value::Kind::floating:
        return longest_double_text;
    case Value::Kind::string:
        return quoted_length(value.as_string());
    case Value::Kind::array: {
        std::size_t length = 2 + (value.items().empty() ? 0 : value.items().size() - 1);
        for (const Value& element : value.items()) length += written_size_limit(element);
        return length;
    }
    case Value::Kind::object: {
        std::size_t length = 2 + (value.members().empty() ? 0 : value.members().size() - 1);
        for (const Member& member : value.members()) {
            length += quoted_length(member.key) + 1 + written_size_limit(member.value);
        }
        return length;
    }
    }
    return 0;
}

}  // namespace json
