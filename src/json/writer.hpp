#pragma once
// The compact written form of a value: no whitespace anywhere, keys in byte order, the exact
// number and escape forms. The only form the tool ever writes.

#include <string>

#include "json/value.hpp"

namespace json {

// Appends the compact text of `value` to `out`; the caller may reserve room beforehand.
void write_compact(std::string& out, const Value& value);

std::string to_compact(const Value& value);

}  // namespace json
