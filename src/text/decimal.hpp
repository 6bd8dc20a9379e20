#pragma once
// Unsigned decimal numbers, read the one way the tool reads them all: the process IDs of the
// command line, the numbers /proc writes, and the IDs in the query the Linux backend answers.

#include <concepts>
#include <optional>
#include <string_view>

namespace text {

template <std::unsigned_integral Number>
struct Decimal {
    enum class Kind { number, not_decimal, too_large };
    Kind kind = Kind::not_decimal;
    Number value = 0;  // set when kind is number
};

// The whole text as a number: ASCII digits only, at least one, leading zeros allowed. Every
// byte is looked at even past an overflow, so a text that is too large and not all digits is
// not_decimal. A plain loop: from_chars costs several times as much for the handful of short
// numbers read per process.
template <std::unsigned_integral Number>
constexpr Decimal<Number> read_decimal(std::string_view text) {
    using Kind = typename Decimal<Number>::Kind;
    if (text.empty()) return {Kind::not_decimal};
    Number value = 0;
    bool too_large = false;
    for (const char c : text) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
        if (digit > 9) return {Kind::not_decimal};
        too_large = too_large || __builtin_mul_overflow(value, Number{10}, &value) ||
                    __builtin_add_overflow(value, digit, &value);
    }
    if (too_large) return {Kind::too_large};
    return {Kind::number, value};
}

// The number, or nullopt when the text is not one or it does not fit.
template <std::unsigned_integral Number>
constexpr std::optional<Number> decimal_value(std::string_view text) {
    const Decimal<Number> read = read_decimal<Number>(text);
    if (read.kind != Decimal<Number>::Kind::number) return std::nullopt;
    return read.value;
}

}  // namespace text
