#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

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
