#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "json/value.hpp"
#include "json/writer.hpp"

namespace {

using json::Value;

TEST(ValueTest, NumbersKeepTheirForm) {
    EXPECT_TRUE(Value::from_signed(0).is_unsigned());
    EXPECT_EQ(Value::from_signed(7).as_unsigned(), 7u);
    EXPECT_TRUE(Value::from_signed(-7).is_signed());
    EXPECT_TRUE(Value::from_double(5.0).is_double());
    EXPECT_NE(Value::from_double(5.0), Value::from_unsigned(5));
    EXPECT_TRUE(Value::from_double(std::nan("")).is_null());
    EXPECT_TRUE(Value::from_double(-std::numeric_limits<double>::infinity()).is_null());
}

TEST(ValueTest, SetReplacesAnExistingKeyInPlace) {
    Value object = Value::object();
    object.set("b", Value::from_unsigned(1));
    object.set("a", Value::from_unsigned(2));
    object.set("b", Value::string("new"));

    ASSERT_EQ(object.members().size(), 2u);
    EXPECT_EQ(json::to_compact(object), R"({"a":2,"b":"new"})");
    ASSERT_NE(object.find("b"), nullptr);
    EXPECT_EQ(object.find("b")->as_string(), "new");
    EXPECT_EQ(object.find("c"), nullptr);
    EXPECT_EQ(Value::array().find("a"), nullptr);
}

// Row builders set keys in order into a block sized for them; the order of setting, a repeat of
// the last key and more keys than reserved must not show in the result.
TEST(ValueTest, SizedObjectsKeepByteOrderHoweverKeysArrive) {
    struct Case {
        const char* label;
        std::size_t reserved;
        std::vector<const char*> keys;  // each set to its position in the list
        const char* text;
    };
    const std::vector<Case> cases = {
        {"ascending", 3, {"a", "b", "c"}, R"({"a":0,"b":1,"c":2})"},
        {"descending", 3, {"c", "b", "a"}, R"({"a":2,"b":1,"c":0})"},
        {"last key again", 2, {"a", "b", "b"}, R"({"a":0,"b":2})"},
        {"earlier key again", 2, {"a", "b", "a"}, R"({"a":2,"b":1})"},
        {"prefix after longer key", 2, {"ab", "a"}, R"({"a":1,"ab":0})"},
        {"more than reserved", 1, {"a", "c", "b", "d"}, R"({"a":0,"b":2,"c":1,"d":3})"},
        {"nothing reserved", 0, {"b", "a"}, R"({"a":1,"b":0})"},
    };
    for (const Case& c : cases) {
        Value object = Value::object(c.reserved);
        for (std::size_t at = 0; at < c.keys.size(); ++at) {
            object.set(c.keys[at], Value::from_unsigned(at));
        }
        EXPECT_EQ(json::to_compact(object), c.text) << c.label;
    }
}

TEST(ValueTest, CopiesOwnTheirWholeTree) {
    Value original = Value::object();
    original.set("list", Value::array({Value::from_unsigned(1)}));
    Value copy = original;
    copy.set("list", Value::array());
    EXPECT_EQ(json::to_compact(original), R"({"list":[1]})");
    EXPECT_EQ(json::to_compact(copy), R"({"list":[]})");
}

TEST(ValueTest, NullBecomesTheContainerItIsFilledAs) {
    Value object;
    object.set("k", Value());
    Value array;
    array.push_back(Value::from_unsigned(1));
    array.push_back(Value::from_unsigned(2));
    EXPECT_EQ(json::to_compact(object), R"({"k":null})");
    EXPECT_EQ(json::to_compact(array), "[1,2]");
}

TEST(ValueDeathTest, FillingAScalarIsAFault) {
    Value number = Value::from_unsigned(1);
    EXPECT_DEATH(number.set("k", Value()), "wrong kind");
    EXPECT_DEATH(number.push_back(Value()), "wrong kind");
}

}  // namespace
