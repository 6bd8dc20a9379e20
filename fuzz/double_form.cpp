#include "double_form.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace fuzz {
namespace {

struct Decimal {
    std::string digits;  // d1..dn: d1 not zero, dn not zero
    int exponent = 0;    // g
};

bool all_digits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool reads_back(const std::string& text, double number) {
    const double read = std::strtod(text.c_str(), nullptr);
    return std::memcmp(&read, &number, sizeof read) == 0;
}

// d[.ddd]e±g with g outside the plain range.
std::optional<Decimal> exponent_form(std::string_view text) {
    const std::size_t e = text.find('e');
    const std::string_view mantissa = text.substr(0, e);
    std::string_view power = text.substr(e + 1);
    Decimal decimal;
    if (mantissa.empty() || mantissa[0] < '1' || mantissa[0] > '9') return std::nullopt;
    decimal.digits = mantissa.substr(0, 1);
    if (mantissa.size() > 1) {
        const std::string_view rest = mantissa.substr(1);
        if (rest.size() < 2 || rest[0] != '.' || !all_digits(rest.substr(1))) return std::nullopt;
        decimal.digits += rest.substr(1);
        if (decimal.digits.back() == '0') return std::nullopt;
    }
    if (power.size() < 2 || (power[0] != '+' && power[0] != '-')) return std::nullopt;
    const bool negative = power[0] == '-';
    power.remove_prefix(1);
    if (!all_digits(power) || power[0] == '0' || power.size() > 3) return std::nullopt;
    const int magnitude = std::atoi(std::string(power).c_str());
    decimal.exponent = negative ? -magnitude : magnitude;
    if (decimal.exponent >= -5 && decimal.exponent <= 15) return std::nullopt;
    return decimal;
}

// 0.000ddd, ddd.ddd or ddd000.0 with g inside the plain range.
std::optional<Decimal> plain_form(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) return std::nullopt;
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = text.substr(point + 1);
    if (whole.empty() || fraction.empty() || !all_digits(whole) || !all_digits(fraction)) {
        return std::nullopt;
    }
    Decimal decimal;
    if (whole == "0") {
        const std::size_t zeros = fraction.find_first_not_of('0');
        if (zeros == std::string_view::npos || fraction.back() == '0') return std::nullopt;
        decimal.digits = fraction.substr(zeros);
        decimal.exponent = -static_cast<int>(zeros) - 1;
        if (decimal.exponent < -5) return std::nullopt;
        return decimal;
    }
    if (whole[0] == '0') return std::nullopt;
    decimal.exponent = static_cast<int>(whole.size()) - 1;
    if (decimal.exponent > 15) return std::nullopt;
    if (fraction == "0") {
        decimal.digits = whole.substr(0, whole.find_last_not_of('0') + 1);
    } else {
        if (fraction.back() == '0') return std::nullopt;
        decimal.digits = std::string(whole) + std::string(fraction);
    }
    return decimal;
}

// No string of one digit fewer reads back. Such a string is c × 10^(g−n+2), and one that
// reads back lies within a unit of the last written digit of the value, so only the few c
// around D / 10 can.
bool is_shortest(const Decimal& decimal, bool negative, double number) {
    const int n = static_cast<int>(decimal.digits.size());
    if (n > 17) return false;
    if (n == 1) return true;
    const std::uint64_t shorter = std::strtoull(decimal.digits.c_str(), nullptr, 10) / 10;
    for (std::uint64_t candidate = shorter == 0 ? 0 : shorter - 1; candidate <= shorter + 2;
         ++candidate) {
        if (candidate == 0) continue;
        const std::string text = std::string(negative ? "-" : "") + std::to_string(candidate) +
                                 "e" + std::to_string(decimal.exponent - n + 2);
        if (reads_back(text, number)) return false;
    }
    return true;
}

}  // namespace

bool has_double_form(std::string_view written, double number) {
    const bool negative = std::signbit(number);
    if (negative != (!written.empty() && written[0] == '-')) return false;
    const std::string_view unsigned_text = negative ? written.substr(1) : written;
    if (number == 0.0) return unsigned_text == "0.0";

    const bool exponent_notation = unsigned_text.find('e') != std::string_view::npos;
    const auto decimal =
        exponent_notation ? exponent_form(unsigned_text) : plain_form(unsigned_text);
    if (!decimal) return false;
    return reads_back(std::string(written), number) && is_shortest(*decimal, negative, number);
}

}  // namespace fuzz
