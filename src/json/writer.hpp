#pragma once
// The compact written form of a value: no whitespace anywhere, keys in byte order, the exact
// number and escape forms. The only form the tool ever writes.

#include <cstddef>
#include <string>

#include "json/value.hpp"

namespace json {

// Appends the compact text of `value` to `out`; the caller may reserve room beforehand.
void write_compact(std::string& out, const Value& value);

std::string to_compact(const Value& value);

// At least the length of the compact text of `value`, and exactly that but for doubles, which
// count as their longest form: what to reserve before writing, so that the text is written
// into place rather than into a buffer that grows.
std::size_t written_size_limit(const Value& value);

}  // namespace json
