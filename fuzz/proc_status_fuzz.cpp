// The /proc/<pid>/status parser.
//
// Properties:
// - any bytes at all: no crash, no undefined behaviour;
// - a file laid out as the kernel writes it, with a process name of any bytes (the kernel
//   escapes a line feed and a backslash in it) and any values, parses to the thread-group ID
//   and the two resident-set sizes written; a size too large for 64 bits in bytes reads as 0;
//   it has memory when its VmRSS line is there and fits.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "platform/procfs/proc_text.hpp"

namespace {

std::string escaped_name(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string kilobytes_line(std::string_view key, std::uint64_t kilobytes) {
    std::string digits = std::to_string(kilobytes);
    // The kernel right-aligns the number in eight columns.
    if (digits.size() < 8) digits.insert(0, 8 - digits.size(), ' ');
    return std::string(key) + ":\t" + digits + " kB\n";
}

std::uint64_t expected_bytes(std::uint64_t kilobytes) {
    if (kilobytes > std::numeric_limits<std::uint64_t>::max() / 1024) return 0;
    return kilobytes * 1024;
}

void check_kernel_file(FuzzedDataProvider& input) {
    const auto thread_group = input.ConsumeIntegral<std::uint64_t>();
    const auto peak_kilobytes = input.ConsumeIntegral<std::uint64_t>();
    const auto resident_kilobytes = input.ConsumeIntegral<std::uint64_t>();
    const bool has_memory = input.ConsumeBool();  // kernel threads and zombies have no Vm lines
    const std::string name = input.ConsumeRandomLengthString(64);

    std::string text = "Name:\t" + escaped_name(name) + "\n";
    text += "Umask:\t0022\nState:\tS (sleeping)\n";
    text += "Tgid:\t" + std::to_string(thread_group) + "\n";
    text += "Ngid:\t0\nPid:\t" + std::to_string(thread_group) + "\nPPid:\t1\n";
    if (has_memory) {
        text += kilobytes_line("VmPeak", input.ConsumeIntegral<std::uint32_t>());
        text += kilobytes_line("VmHWM", peak_kilobytes);
        text += kilobytes_line("VmRSS", resident_kilobytes);
        text += kilobytes_line("RssAnon", input.ConsumeIntegral<std::uint32_t>());
    }
    text += "Threads:\t1\nvoluntary_ctxt_switches:\t5\n";

    const auto parsed = procfs::parse_status(text);
    FUZZ_CHECK(parsed.thread_group == thread_group);
    const bool resident_fits =
        resident_kilobytes <= std::numeric_limits<std::uint64_t>::max() / 1024;
    FUZZ_CHECK(parsed.has_memory == (has_memory && resident_fits));
    FUZZ_CHECK(parsed.peak_resident_bytes == (has_memory ? expected_bytes(peak_kilobytes) : 0));
    FUZZ_CHECK(parsed.resident_bytes == (has_memory ? expected_bytes(resident_kilobytes) : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    procfs::parse_status(std::string_view(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    check_kernel_file(input);
    return 0;
}
