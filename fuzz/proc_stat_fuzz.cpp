// The /proc/<pid>/stat parser.
//
// Properties:
// - any bytes at all: no crash, no undefined behaviour; a parsed state is one byte; the fields
//   are those of a plain reading (split after the last ')' on spaces and line feeds, each
//   number read by text::decimal_value), which the parser's single pass must agree with;
// - a line laid out as the kernel writes it, with a command name of any bytes (spaces,
//   parentheses, line feeds, digits that look like fields) and any field values, parses to
//   exactly the fields written, the image layout among them.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.hpp"
#include "platform/procfs/proc_text.hpp"
#include "text/decimal.hpp"

namespace {

constexpr int last_field = 52;  // exit_code, the last field of current kernels

// The stat fields read the plain way: split first, each field then read on its own.
std::optional<procfs::StatFields> plain_reading(std::string_view bytes) {
    const std::size_t close = bytes.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::vector<std::string_view> fields{{}, {}, {}};  // fields 0..2 stand before the name's end
    std::string_view rest = bytes.substr(close + 1);
    while (true) {
        const std::size_t start = rest.find_first_not_of(" \n");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    if (fields.size() <= 22 || fields[3].size() != 1) return std::nullopt;
    procfs::StatFields read;
    read.state = fields[3].front();
    for (const auto& [field, slot] :
         {std::pair{9, &read.flags}, {14, &read.user_ticks}, {15, &read.system_ticks},
          {20, &read.thread_count}, {22, &read.start_ticks}}) {
        const auto number = text::decimal_value<std::uint64_t>(fields[field]);
        if (!number) return std::nullopt;
        *slot = *number;
    }
    for (const auto& [field, slot] :
         {std::pair{26, &read.layout.start_code}, {27, &read.layout.end_code},
          {28, &read.layout.start_stack}, {48, &read.layout.arg_start},
          {49, &read.layout.arg_end}, {51, &read.layout.env_end}}) {
        if (static_cast<std::size_t>(field) < fields.size()) {
            *slot = text::decimal_value<std::uint64_t>(fields[field]).value_or(0);
        }
    }
    return read;
}

void check_any_bytes(std::string_view bytes) {
    const auto fields = procfs::parse_stat(bytes);
    if (fields) procfs::has_exited(*fields);
    const auto plain = plain_reading(bytes);
    FUZZ_CHECK(fields.has_value() == plain.has_value());
    if (!fields) return;
    FUZZ_CHECK(fields->state == plain->state);
    FUZZ_CHECK(fields->flags == plain->flags);
    FUZZ_CHECK(fields->user_ticks == plain->user_ticks);
    FUZZ_CHECK(fields->system_ticks == plain->system_ticks);
    FUZZ_CHECK(fields->thread_count == plain->thread_count);
    FUZZ_CHECK(fields->start_ticks == plain->start_ticks);
    FUZZ_CHECK(fields->layout == plain->layout);
}

void check_kernel_line(FuzzedDataProvider& input) {
    static constexpr char states[] = {'R', 'S', 'D', 'Z', 'T', 't', 'X', 'I', 'P', 'W'};
    procfs::StatFields written;
    written.state = input.PickValueInArray(states);
    written.user_ticks = input.ConsumeIntegral<std::uint64_t>();
    written.system_ticks = input.ConsumeIntegral<std::uint64_t>();
    written.thread_count = input.ConsumeIntegral<std::uint64_t>();
    written.start_ticks = input.ConsumeIntegral<std::uint64_t>();
    written.flags = input.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t pid = input.ConsumeIntegral<std::uint32_t>();
    for (std::uint64_t* address :
         {&written.layout.start_code, &written.layout.end_code, &written.layout.start_stack,
          &written.layout.arg_start, &written.layout.arg_end, &written.layout.env_end}) {
        *address = input.ConsumeIntegral<std::uint64_t>();
    }
    const std::string command_name = input.ConsumeRandomLengthString(64);

    std::string line = std::to_string(pid) + " (" + command_name + ") " + written.state;
    for (int field = 4; field <= last_field; ++field) {
        line += ' ';
        switch (field) {
        case 9: line += std::to_string(written.flags); break;
        case 14: line += std::to_string(written.user_ticks); break;
        case 15: line += std::to_string(written.system_ticks); break;
        case 20: line += std::to_string(written.thread_count); break;
        case 22: line += std::to_string(written.start_ticks); break;
        case 26: line += std::to_string(written.layout.start_code); break;
        case 27: line += std::to_string(written.layout.end_code); break;
        case 28: line += std::to_string(written.layout.start_stack); break;
        case 48: line += std::to_string(written.layout.arg_start); break;
        case 49: line += std::to_string(written.layout.arg_end); break;
        case 51: line += std::to_string(written.layout.env_end); break;
        // Other fields may be negative (tpgid, priority, nice); the parser skips them.
        default: line += std::to_string(input.ConsumeIntegral<std::int64_t>()); break;
        }
    }
    line += '\n';

    const auto parsed = procfs::parse_stat(line);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(parsed->state == written.state);
    FUZZ_CHECK(parsed->user_ticks == written.user_ticks);
    FUZZ_CHECK(parsed->system_ticks == written.system_ticks);
    FUZZ_CHECK(parsed->thread_count == written.thread_count);
    FUZZ_CHECK(parsed->start_ticks == written.start_ticks);
    FUZZ_CHECK(parsed->flags == written.flags);
    FUZZ_CHECK(parsed->layout == written.layout);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_any_bytes(std::string_view(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    check_kernel_line(input);
    return 0;
}
