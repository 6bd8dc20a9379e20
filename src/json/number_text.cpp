#include "json/number_text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace json {

namespace {

// Plain notation covers decimal exponents in this range; exponent notation everything else.
constexpr int plain_lowest_exponent = -5;
constexpr int plain_highest_exponent = 15;

struct ShortestDigits {
    char digits[20];  // at most 17 significant digits for a double
    int count = 0;
    int exponent = 0;  // |x| = d1.d2...dn × 10^exponent
};

// std::to_chars in scientific form gives the shortest round-trip digits (nearest on a tie) as
// "d[.ddd]e±xx"; take them apart so the layout below is ours.
ShortestDigits shortest_digits(double magnitude) {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, magnitude,
                                      std::chars_format::scientific);
    (void)error;  // cannot fail: 32 bytes hold every double in scientific form

    ShortestDigits result;
    const char* at = text;
    for (; at != end && *at != 'e'; ++at) {
        if (*at != '.') result.digits[result.count++] = *at;
    }
    // Scientific form of a non-zero double has no trailing zeros in its digits already, but
    // trimming keeps the layout honest should a library pad them.
    while (result.count > 1 && result.digits[result.count - 1] == '0') --result.count;

    ++at;  // 'e'
    bool negative = *at == '-';
    ++at;  // sign
    int exponent = 0;
    std::from_chars(at, end, exponent);
    result.exponent = negative ? -exponent : exponent;
    return result;
}

}  // namespace

char* unsigned_digits_before(char* end, std::uint64_t number) {
    // Digits from the last, two at a time: IDs and byte counts are most of a document's numbers.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* first = end;
    while (number >= 100) {
        const auto pair = static_cast<std::size_t>(number % 100) * 2;
        number /= 100;
        *--first = pairs[pair + 1];
        *--first = pairs[pair];
    }
    if (number >= 10) {
        const auto pair = static_cast<std::size_t>(number) * 2;
        *--first = pairs[pair + 1];
        *--first = pairs[pair];
    } else {
        *--first = static_cast<char>('0' + number);
    }
    return first;
}

void append_unsigned(std::string& out, std::uint64_t number) {
    char text[max_unsigned_digits];
    char* const end = text + sizeof text;
    const char* first = unsigned_digits_before(end, number);
    out.append(first, static_cast<std::size_t>(end - first));
}

void append_signed(std::string& out, std::int64_t number) {
    if (number >= 0) {
        append_unsigned(out, static_cast<std::uint64_t>(number));
        return;
    }
    out.push_back('-');
    // The magnitude in unsigned arithmetic, so the smallest value has one too.
    append_unsigned(out, 0u - static_cast<std::uint64_t>(number));
}

void append_double(std::string& out, double number) {
    if (std::signbit(number)) out.push_back('-');
    double magnitude = std::fabs(number);
    if (magnitude == 0.0) {
        out.append("0.0");
        return;
    }

    const ShortestDigits shortest = shortest_digits(magnitude);
    const std::string_view digits(shortest.digits, static_cast<std::size_t>(shortest.count));
    const int count = shortest.count;
    const int exponent = shortest.exponent;

    if (exponent < plain_lowest_exponent || exponent > plain_highest_exponent) {
        out.push_back(digits[0]);
        if (count > 1) {
            out.push_back('.');
            out.append(digits.substr(1));
        }
        out.push_back('e');
        out.push_back(exponent > 0 ? '+' : '-');
        append_unsigned(out, static_cast<std::uint64_t>(exponent > 0 ? exponent : -exponent));
        return;
    }

    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits);
    } else if (exponent <= count - 2) {
        const auto whole = static_cast<std::size_t>(exponent + 1);
        out.append(digits.substr(0, whole));
        out.push_back('.');
        out.append(digits.substr(whole));
    } else {
        out.append(digits);
        out.append(static_cast<std::size_t>(exponent - count + 1), '0');
        out.append(".0");
    }
}

}  // namespace json
