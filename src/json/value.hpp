#pragma once
// The value model of every document the tool writes: null, boolean, number (unsigned, negative
// signed, finite double), UTF-8 string, array, object with keys kept sorted by bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace json {

class Value;

// One entry of an object. Objects hold their members sorted by key, compared as bytes.
struct Member;

class Value {
public:
    enum class Kind : std::uint8_t {
        null,
        boolean,
        unsigned_integer,
        signed_integer,  // only ever negative: a non-negative signed value is held as unsigned
        floating,        // only ever finite
        string,
        array,
        object,
    };

    Value() = default;

    static Value boolean(bool flag);
    static Value from_unsigned(std::uint64_t number);
    static Value from_signed(std::int64_t number);
    // NaN and the infinities become null, so a double number is always finite.
    static Value from_double(double number);
    static Value string(std::string text);
    static Value array();
    static Value array(std::vector<Value> elements);
    static Value object();
    // An empty object with room for `member_count` entries: one allocation for a row whose key
    // count the caller knows, instead of a guess that is too large or too small.
    static Value object(std::size_t member_count);

    // Object: inserts the entry, or replaces the value of the entry with that key. A null value
    // becomes an empty object first; any other kind is a programming fault and aborts. Setting
    // keys in ascending order appends and moves no entry.
    void set(std::string key, Value value);
    // Array: appends. A null value becomes an empty array first; any other kind aborts.
    void push_back(Value element);

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool is_null() const { return kind() == Kind::null; }
    bool is_boolean() const { return kind() == Kind::boolean; }
    bool is_unsigned() const { return kind() == Kind::unsigned_integer; }
    bool is_signed() const { return kind() == Kind::signed_integer; }
    bool is_double() const { return kind() == Kind::floating; }
    bool is_string() const { return kind() == Kind::string; }
    bool is_array() const { return kind() == Kind::array; }
    bool is_object() const { return kind() == Kind::object; }

    // Readers; each requires the matching kind.
    bool as_boolean() const { return std::get<bool>(data_); }
    std::uint64_t as_unsigned() const { return std::get<std::uint64_t>(data_); }
    std::int64_t as_signed() const { return std::get<std::int64_t>(data_); }
    double as_double() const { return std::get<double>(data_); }
    const std::string& as_string() const { return std::get<std::string>(data_); }
    const std::vector<Value>& items() const { return std::get<std::vector<Value>>(data_); }
    const std::vector<Member>& members() const { return std::get<std::vector<Member>>(data_); }

    // Object: the value under `key`, or null when absent or when this is not an object.
    const Value* find(std::string_view key) const;

    friend bool operator==(const Value&, const Value&);

private:
    // The alternatives stand in the order of Kind, so index() is the kind.
    using Data = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double,
                              std::string, std::vector<Value>, std::vector<Member>>;

    template <typename T>
    explicit Value(std::in_place_type_t<T> type, T content) : data_(type, std::move(content)) {}

    Data data_;
};

struct Member {
    // Spelled out so that emplace_back can build a member in place on every compiler in use
    // (clang before 16 cannot build an aggregate from parentheses); each part moves once.
    Member(std::string&& member_key, Value&& member_value) noexcept
        : key(std::move(member_key)), value(std::move(member_value)) {}

    std::string key;
    Value value;

    friend bool operator==(const Member&, const Member&) = default;
};

}  // namespace json
