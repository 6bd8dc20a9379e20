#include "json/writer.hpp"

#include "json/number_text.hpp"
#include "json/string_text.hpp"

namespace json {

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
    case Value::Kind::object: {
        out.push_back('{');
        bool first = true;
        for (const Member& member : value.members()) {
            if (!first) out.push_back(',');
            first = false;
            append_quoted(out, member.key);
            out.push_back(':');
            write_compact(out, member.value);
        }
        out.push_back('}');
        return;
    }
    }
}

std::string to_compact(const Value& value) {
    std::string out;
    write_compact(out, value);
    return out;
}

}  // namespace json
