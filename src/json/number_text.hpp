#pragma once
// Written forms of the three number kinds, appended to a buffer.

#include <cstddef>
#include <cstdint>
#include <string>

namespace json {

inline constexpr std::size_t max_unsigned_digits = 20;  // 2^64 - 1 has 20 digits

// Writes the digits of `number` so that they end just before `end` (at most
// max_unsigned_digits bytes) and returns where they start.
char* unsigned_digits_before(char* end, std::uint64_t number);

void append_unsigned(std::string& out, std::uint64_t number);
void append_signed(std::string& out, std::int64_t number);
// "-1.7976931348623157e+308", and no plain form is longer: "-0.0000" and 17 digits.
inline constexpr std::size_t longest_double_text = 24;

// Shortest digits that read back to the same double, laid out plainly for decimal exponents
// -5 to 15 (always with a point: 100.0, 0.00001) and as d.ddde±x outside that range.
// Requires a finite double.
void append_double(std::string& out, double number);

}  // namespace json
