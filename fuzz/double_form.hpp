#pragma once
// Checks one written double against the tool's rule for doubles, from the text alone: zero as
// 0.0 or -0.0; otherwise the shortest digits d1..dn that read back, laid out plainly when the
// decimal exponent g lies in -5..15 (0.000ddd, ddd.ddd, ddd000.0) and as d[.ddd]e±g outside.

#include <string_view>

namespace fuzz {

// True when `written` is the form of `number` (finite) that the rule prescribes, except that
// among several shortest digit strings any one that reads back is accepted.
bool has_double_form(std::string_view written, double number);

}  // namespace fuzz
