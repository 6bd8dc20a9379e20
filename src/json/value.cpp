#include "json/value.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace json {

namespace {

constexpr std::size_t typical_member_count = 8;

// A value of the wrong kind reached a mutator: a fault in the caller, not in the data.
[[noreturn]] void wrong_kind(const char* operation) {
    std::fputs(operation, stderr);
    std::fputs(": json value of the wrong kind\n", stderr);
    std::abort();
}

}  // namespace

Value Value::boolean(bool flag) { return Value(std::in_place_type<bool>, flag); }

Value Value::from_unsigned(std::uint64_t number) {
    return Value(std::in_place_type<std::uint64_t>, number);
}

Value Value::from_signed(std::int64_t number) {
    if (number >= 0) return from_unsigned(static_cast<std::uint64_t>(number));
    return Value(std::in_place_type<std::int64_t>, number);
}

Value Value::from_double(double number) {
    if (!std::isfinite(number)) return Value();
    return Value(std::in_place_type<double>, number);
}

Value Value::string(std::string text) {
    return Value(std::in_place_type<std::string>, std::move(text));
}

Value Value::array() { return array({}); }

Value Value::array(std::vector<Value> elements) {
    return Value(std::in_place_type<std::vector<Value>>, std::move(elements));
}

Value Value::object() { return Value(std::in_place_type<std::vector<Member>>, {}); }

Value Value::object(std::size_t member_count) {
    std::vector<Member> members;
    members.reserve(member_count);
    return Value(std::in_place_type<std::vector<Member>>, std::move(members));
}

void Value::set(std::string key, Value value) {
    if (is_null()) *this = object();
    auto* members = std::get_if<std::vector<Member>>(&data_);
    if (members == nullptr) wrong_kind("json::Value::set");
    // Rows have a handful of keys: one allocation for them all instead of four growths, and
    // none for an object that stays empty.
    if (members->capacity() == 0) members->reserve(typical_member_count);

    // Row builders set their keys in order: then the new key belongs at the end.
    if (members->empty() || members->back().key < key) {
        members->emplace_back(std::move(key), std::move(value));
        return;
    }
    // std::string compares through char_traits<char>, which orders bytes as unsigned char.
    auto at = std::lower_bound(members->begin(), members->end(), key,
                               [](const Member& member, const std::string& wanted) {
                                   return member.key < wanted;
                               });
    if (at != members->end() && at->key == key) {
        at->value = std::move(value);
        return;
    }
    members->insert(at, Member{std::move(key), std::move(value)});
}

void Value::push_back(Value element) {
    if (is_null()) *this = array();
    auto* elements = std::get_if<std::vector<Value>>(&data_);
    if (elements == nullptr) wrong_kind("json::Value::push_back");
    elements->push_back(std::move(element));
}

const Value* Value::find(std::string_view key) const {
    const auto* members = std::get_if<std::vector<Member>>(&data_);
    if (members == nullptr) return nullptr;
    auto at = std::lower_bound(members->begin(), members->end(), key,
                               [](const Member& member, std::string_view wanted) {
                                   return std::string_view(member.key) < wanted;
                               });
    if (at == members->end() || at->key != key) return nullptr;
    return &at->value;
}

bool operator==(const Value& left, const Value& right) { return left.data_ == right.data_; }

}  // namespace json
