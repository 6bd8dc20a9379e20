// The process-ID parser over argument lists made from the fuzzer's bytes: the arguments are
// the pieces between zero bytes (a command line cannot hold one), no bytes at all meaning no
// arguments.
//
// Properties: the result is exactly what the definition gives: the message of the first
// failing argument (checked in the order: not all digits, above 4294967295, zero), or else the
// distinct values in first-occurrence order; so every ID is non-zero, appears as a decimal
// argument and appears once.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_check.hpp"
#include "main/positive_pids.hpp"

namespace {

std::vector<std::string> split_arguments(std::string_view bytes) {
    std::vector<std::string> arguments;
    if (bytes.empty()) return arguments;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = bytes.find('\0', start);
        arguments.emplace_back(bytes.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return arguments;
}

// Compares digit strings by value, without arithmetic that could overflow.
std::variant<std::uint32_t, std::string_view> expected_value(std::string_view argument) {
    if (argument.empty()) return app::messages::not_decimal;
    for (const char c : argument) {
        if (c < '0' || c > '9') return app::messages::not_decimal;
    }
    const std::size_t first_significant = argument.find_first_not_of('0');
    if (first_significant == std::string_view::npos) return app::messages::zero;
    const std::string_view digits = argument.substr(first_significant);
    constexpr std::string_view largest = "4294967295";
    if (digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest)) {
        return app::messages::out_of_range;
    }
    return static_cast<std::uint32_t>(std::stoul(std::string(digits)));
}

std::variant<std::vector<std::uint32_t>, std::string_view> expected_result(
    const std::vector<std::string>& arguments) {
    if (arguments.empty()) return app::messages::none_given;
    std::vector<std::uint32_t> pids;
    for (const std::string& argument : arguments) {
        const auto value = expected_value(argument);
        if (const auto* message = std::get_if<std::string_view>(&value)) return *message;
        const std::uint32_t pid = std::get<std::uint32_t>(value);
        bool seen = false;
        for (const std::uint32_t earlier : pids) seen = seen || earlier == pid;
        if (!seen) pids.push_back(pid);
    }
    return pids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments =
        split_arguments(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto result = app::positive_pids(arguments);
    const auto expected = expected_result(arguments);

    if (const auto* message = std::get_if<app::PidMessage>(&result)) {
        FUZZ_CHECK(std::holds_alternative<std::string_view>(expected));
        FUZZ_CHECK(message->text == std::get<std::string_view>(expected));
    } else {
        FUZZ_CHECK(std::holds_alternative<std::vector<std::uint32_t>>(expected));
        FUZZ_CHECK(std::get<std::vector<std::uint32_t>>(result) ==
                   std::get<std::vector<std::uint32_t>>(expected));
    }
    return 0;
}
