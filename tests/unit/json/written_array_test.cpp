// An array written element by element: the same text as the array of the same values, the room
// it is reserved and wrapped in, and the size bound that room is counted with.

#include "json/written_array.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/value.hpp"
#include "json/writer.hpp"

namespace {

using json::Value;

Value object_with_awkward_keys() {
    Value object = Value::object();
    object.set("b\"\\", Value::string("\x01\x1f\n"));
    object.set("a", Value::array({Value(), Value::boolean(false)}));
    object.set("\xc3\xa9", Value::object());
    return object;
}

TEST(WrittenArrayTest, HasTheTextOfTheArrayOfTheSameElements) {
    const std::vector<std::vector<Value>> lists = {
        {},
        {Value()},
        {Value::from_unsigned(1), Value::string("two"), Value::from_double(0.5)},
        {object_with_awkward_keys(), Value::array(), Value::from_signed(-7)},
        // Long and full of escapes: written into the room taken for it.
        {Value::string(std::string(100'000, '"') + std::string(50'000, '\x01'))},
    };
    for (const std::vector<Value>& elements : lists) {
        json::WrittenArray written;
        for (const Value& element : elements) written.push_back(element);
        EXPECT_EQ(written.size(), elements.size());
        EXPECT_EQ(written.text(), json::to_compact(Value::array(elements)));
    }
}

TEST(WrittenArrayTest, ElementsWrittenByTheCallerSitAmongTheOthers) {
    json::WrittenArray written;
    written.push_written(3, [](std::string& out) { out.append("{}"); });
    written.push_back(Value::from_unsigned(7));
    written.push_written(4, [](std::string& out) { out.append("null"); });
    EXPECT_EQ(written.size(), 3u);
    EXPECT_EQ(written.text(), "[{},7,null]");
}

// Exact for every kind but doubles, which count as their longest form.
TEST(WrittenArrayTest, SizeLimitIsTheWrittenLengthWithDoublesAtTheirLongest) {
    const std::vector<Value> exact = {
        Value(),
        Value::boolean(true),
        Value::boolean(false),
        Value::from_unsigned(0),
        Value::from_unsigned(9),
        Value::from_unsigned(10),
        Value::from_unsigned(std::numeric_limits<std::uint64_t>::max()),
        Value::from_signed(-1),
        Value::from_signed(-10),
        Value::from_signed(std::numeric_limits<std::int64_t>::min()),
        Value::string(""),
        Value::string("plain \xc3\xa9"),
        Value::string(std::string("\"\\/\b\f\n\r\t\x01\x1f\x7f\0", 13)),
        Value::array(),
        Value::object(),
        Value::array({Value::from_unsigned(1), Value::array({Value()})}),
        object_with_awkward_keys(),
    };
    for (const Value& value : exact) {
        EXPECT_EQ(json::written_size_limit(value), json::to_compact(value).size())
            << json::to_compact(value);
    }
    const std::vector<double> doubles = {0.0,
                                         -0.0,
                                         1.0 / 3.0,
                                         1e15,
                                         -0.000012345678901234567,
                                         std::numeric_limits<double>::denorm_min(),
                                         -std::numeric_limits<double>::max()};
    for (const double number : doubles) {
        const Value value = Value::from_double(number);
        const std::size_t written = json::to_compact(value).size();
        EXPECT_GE(json::written_size_limit(value), written) << json::to_compact(value);
        EXPECT_LE(json::written_size_limit(value), 24u) << json::to_compact(value);
    }
    const Value doubles_in_a_row =
        Value::array({Value::from_double(-std::numeric_limits<double>::max()), Value()});
    EXPECT_GE(json::written_size_limit(doubles_in_a_row), json::to_compact(doubles_in_a_row).size());
}

// Room counted with the size bound holds every element: the text is written where it first
// was, never moved to a larger buffer (which would hold it twice for a moment); and once taken
// it can be wrapped in a document where it lies.
TEST(WrittenArrayTest, StaysWhereItWasWrittenWithinItsRoom) {
    const std::vector<Value> rows(1000, object_with_awkward_keys());
    std::size_t room = 0;
    for (const Value& row : rows) room += json::written_size_limit(row) + 1;

    json::WrittenArray written;
    written.reserve(room);
    written.push_back(rows.front());
    const char* const first_place = written.text().data();
    for (std::size_t i = 1; i < rows.size(); ++i) written.push_back(rows[i]);
    EXPECT_EQ(written.text().data(), first_place);

    std::string text = std::move(written).take_text();
    EXPECT_EQ(text.data(), first_place);
    text.insert(0, std::string(json::WrittenArray::wrapping_room - 2, '{'));
    text += "}\n";
    EXPECT_EQ(text.data(), first_place);

    // Grown element by element, it still keeps the room to be wrapped in.
    json::WrittenArray grown;
    for (const Value& row : rows) grown.push_back(row);
    std::string grown_text = std::move(grown).take_text();
    const char* const grown_place = grown_text.data();
    grown_text.insert(0, std::string(json::WrittenArray::wrapping_room - 2, '{'));
    grown_text += "}\n";
    EXPECT_EQ(grown_text.data(), grown_place);
}

}  // namespace
