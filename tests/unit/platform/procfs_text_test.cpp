// The /proc text parsers and unit conversions, on small fixtures.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/procfs/proc_text.hpp"

namespace {

using procfs::StatFields;

// Fields 3..22 of a stat line with flags 4194560, utime 11, stime 12, num_threads 3,
// starttime 4242.
constexpr const char* stat_tail =
    " S 1 1 1 0 -1 4194560 100 0 0 0 11 12 0 0 20 0 3 0 4242 10000 200 18446744073709551615\n";

struct StatCase {
    const char* label;
    std::string text;
    std::optional<StatFields> expected;
};

TEST(StatText, ParsesFieldsAfterTheLastParenthesis) {
    const StatFields usual{'S', 11, 12, 3, 4242, 4194560};
    const std::vector<StatCase> cases = {
        {"plain name", std::string{"42 (bash)"} + stat_tail, usual},
        {"name with spaces and parentheses", std::string{"42 (a) b (c) )"} + stat_tail, usual},
        {"name that looks like fields", std::string{"42 (x) R 9 9 9 9)"} + stat_tail, usual},
        {"empty name", std::string{"42 ()"} + stat_tail, usual},
        {"no line feed", "42 (z) Z 1 1 1 0 -1 4 0 0 0 0 7 8 0 0 20 0 1 0 99",
         StatFields{'Z', 7, 8, 1, 99, 4}},
        {"largest tick counts",
         "1 (t) R 1 1 1 0 -1 0 0 0 0 0 18446744073709551615 0 0 0 20 0 1 0 "
         "18446744073709551615",
         StatFields{'R', std::numeric_limits<std::uint64_t>::max(), 0, 1,
                    std::numeric_limits<std::uint64_t>::max()}},
        {"empty", "", std::nullopt},
        {"no closing parenthesis", "42 (bash S 1 1 1", std::nullopt},
        {"cut before starttime", "42 (bash) S 1 1 1 0 -1 0 0 0 0 0 11 12 0 0 20 0 3 0",
         std::nullopt},
        {"negative utime", "42 (b) S 1 1 1 0 -1 0 0 0 0 0 -11 12 0 0 20 0 3 0 4242",
         std::nullopt},
        {"utime beyond 64 bits",
         "42 (b) S 1 1 1 0 -1 0 0 0 0 0 18446744073709551616 12 0 0 20 0 3 0 4242",
         std::nullopt},
        {"negative flags", "42 (b) S 1 1 1 0 -1 -4 0 0 0 0 11 12 0 0 20 0 3 0 4242",
         std::nullopt},
        {"two-letter state", "42 (b) SS 1 1 1 0 -1 0 0 0 0 0 11 12 0 0 20 0 3 0 4242",
         std::nullopt},
        {"utime with a letter after its digits",
         "42 (b) S 1 1 1 0 -1 0 0 0 0 0 11x 12 0 0 20 0 3 0 4242", std::nullopt},
        {"utime with a tab inside", "42 (b) S 1 1 1 0 -1 0 0 0 0 0 1\t1 12 0 0 20 0 3 0 4242",
         std::nullopt},
        {"a field left empty", "42 (b) S 1 1 1 0 -1 0 0 0 0 0  12 0 0 20 0 3 0 4242 7",
         StatFields{'S', 12, 0, 0, 7, 0}},
        {"starttime of 21 digits, leading zeros among them",
         "42 (b) S 1 1 1 0 -1 0 0 0 0 0 11 12 0 0 20 0 3 0 000018446744073709551615",
         StatFields{'S', 11, 12, 3, std::numeric_limits<std::uint64_t>::max()}},
        {"starttime of 20 digits beyond 64 bits",
         "42 (b) S 1 1 1 0 -1 0 0 0 0 0 11 12 0 0 20 0 3 0 99999999999999999999",
         std::nullopt},
        {"line feed in the name", "42 (a\n) b) S 1 1 1 0 -1 7 0 0 0 0 11 12 0 0 20 0 3 0 4242\n",
         StatFields{'S', 11, 12, 3, 4242, 7}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.label);
        const auto parsed = procfs::parse_stat(each.text);
        ASSERT_EQ(parsed.has_value(), each.expected.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->state, each.expected->state);
            EXPECT_EQ(parsed->user_ticks, each.expected->user_ticks);
            EXPECT_EQ(parsed->system_ticks, each.expected->system_ticks);
            EXPECT_EQ(parsed->thread_count, each.expected->thread_count);
            EXPECT_EQ(parsed->start_ticks, each.expected->start_ticks);
            EXPECT_EQ(parsed->flags, each.expected->flags);
        }
    }
}

TEST(StatText, ExitedOnlyWhenStoppedAndNoThreadIsLeft) {
    constexpr std::uint64_t exiting = procfs::task_exiting;
    struct Case {
        char state;
        std::uint64_t flags;
        std::uint64_t threads;
        bool stopped;
        bool exited;
    };
    const std::vector<Case> cases = {
        {'R', 0, 1, false, false}, {'S', 0, 1, false, false}, {'D', 0, 1, false, false},
        {'T', 0, 1, false, false}, {'Z', 0, 1, true, true},   {'X', 0, 1, true, true},
        {'Z', 0, 0, true, true},
        // Killed and on its way out, its memory perhaps already released: it has ended.
        {'R', exiting, 1, true, true}, {'D', exiting | 0x40, 1, true, true},
        // The leader has stopped but the process may run on in its other threads.
        {'Z', exiting, 4, true, false}, {'R', exiting, 2, true, false},
        {'S', procfs::kernel_thread, 1, false, false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << each.state << " flags " << each.flags << " with "
                                        << each.threads);
        const StatFields fields{each.state, 0, 0, each.threads, 0, each.flags};
        EXPECT_EQ(procfs::task_stopped(fields), each.stopped);
        EXPECT_EQ(procfs::has_exited(fields), each.exited);
    }
}

TEST(StatText, ReadsWhereTheProgramIsLaidOut) {
    // Fields 3..52 as a current kernel writes them, each ten times its number.
    std::string line = "7 (a b) S";
    for (int field = 4; field <= 52; ++field) line += " " + std::to_string(field * 10);
    const procfs::ImageLayout written{260, 270, 280, 480, 490, 510};
    struct Case {
        const char* label;
        std::string text;
        procfs::ImageLayout layout;
    };
    const std::vector<Case> cases = {
        {"a current kernel's line", line + "\n", written},
        {"an older kernel's line, up to field 44", line.substr(0, line.find(" 450")) + "\n",
         procfs::ImageLayout{260, 270, 280}},
        {"a field that is not a number", line.substr(0, line.find(" 510")) + " -1 520\n",
         procfs::ImageLayout{260, 270, 280, 480, 490, 0}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.label);
        const auto parsed = procfs::parse_stat(each.text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->start_ticks, 220u);
        EXPECT_TRUE(parsed->layout == each.layout)
            << parsed->layout.start_code << " " << parsed->layout.arg_start << " "
            << parsed->layout.env_end;
    }
}

TEST(StatText, ReadUpToTheCountsLeavesTheLayoutUnread) {
    std::string line = "7 (a) b) R";
    for (int field = 4; field <= 52; ++field) line += " " + std::to_string(field * 10);
    const auto counts = procfs::parse_stat(line + "\n", procfs::StatExtent::counts);
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->state, 'R');
    EXPECT_EQ(counts->flags, 90u);
    EXPECT_EQ(counts->user_ticks, 140u);
    EXPECT_EQ(counts->system_ticks, 150u);
    EXPECT_EQ(counts->thread_count, 200u);
    EXPECT_EQ(counts->start_ticks, 220u);
    EXPECT_TRUE(counts->layout == procfs::ImageLayout{});
    // What follows the counts is not looked at, whatever it holds; what they need still is.
    EXPECT_TRUE(procfs::parse_stat(line.substr(0, line.find(" 230")) + " x y\n",
                                   procfs::StatExtent::counts)
                    .has_value());
    EXPECT_FALSE(procfs::parse_stat(line.substr(0, line.find(" 220")), procfs::StatExtent::counts)
                     .has_value());
}

TEST(StatusText, ReadsTgidAndResidentCounters) {
    const auto status = procfs::parse_status(
        "Name:\tcat\nUmask:\t0022\nState:\tR (running)\nTgid:\t9045\nNgid:\t0\nPid:\t9046\n"
        "VmPeak:\t    8000 kB\nVmHWM:\t    1536 kB\nVmRSS:\t    1024 kB\nThreads:\t1\n");
    EXPECT_EQ(status.thread_group, 9045u);
    EXPECT_TRUE(status.has_memory);
    EXPECT_EQ(status.resident_bytes, 1024u * 1024);
    EXPECT_EQ(status.peak_resident_bytes, 1536u * 1024);
}

TEST(StatusText, MissingOrMalformedCountersReadAsNoMemory) {
    struct Case {
        const char* label;
        const char* text;
        std::optional<std::uint64_t> thread_group;
        bool has_memory;
        std::uint64_t resident;
        std::uint64_t peak;
    };
    const std::vector<Case> cases = {
        {"kernel thread", "Name:\tkthreadd\nTgid:\t2\nPid:\t2\nThreads:\t1\n", 2, false, 0,
         0},
        {"no final line feed", "Tgid:\t7\nVmRSS:\t 4 kB", 7, true, 4096, 0},
        {"nothing resident", "Tgid:\t7\nVmHWM:\t 8 kB\nVmRSS:\t 0 kB\n", 7, true, 0, 8192},
        {"empty", "", std::nullopt, false, 0, 0},
        {"no unit", "Tgid:\t7\nVmRSS:\t4\nVmHWM:\t4 MB\n", 7, false, 0, 0},
        {"too large for bytes", "Tgid:\t7\nVmRSS:\t18014398509481984 kB\n", 7, false, 0, 0},
        {"largest that fits", "VmHWM:\t18014398509481983 kB\n", std::nullopt, false, 0,
         18014398509481983ULL * 1024},
        {"malformed tgid", "Tgid:\t-1\n", std::nullopt, false, 0, 0},
        {"key as a prefix only", "TgidX:\t5\nVmRSSx:\t4 kB\n", std::nullopt, false, 0, 0},
        {"no colon after the key", "Tgid 5\nVmRSS 44 kB\nVmHWM 44 kB\n", std::nullopt, false, 0,
         0},
        {"no colon", "Tgid 5\n", std::nullopt, false, 0, 0},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.label);
        const auto status = procfs::parse_status(each.text);
        EXPECT_EQ(status.thread_group, each.thread_group);
        EXPECT_EQ(status.has_memory, each.has_memory);
        EXPECT_EQ(status.resident_bytes, each.resident);
        EXPECT_EQ(status.peak_resident_bytes, each.peak);
    }
}

TEST(BootTimeText, FindsTheBtimeLine) {
    struct Case {
        const char* label;
        const char* text;
        std::optional<std::uint64_t> expected;
    };
    const std::vector<Case> cases = {
        {"usual", "cpu  1 2 3\nintr 5 0 0\nctxt 99\nbtime 1765342800\nprocesses 12\n",
         1765342800},
        {"last line without line feed", "ctxt 1\nbtime 17", 17},
        {"missing", "cpu  1 2 3\nctxt 99\n", std::nullopt},
        {"not at the start of a line", "xbtime 5\n", std::nullopt},
        {"malformed", "btime -5\n", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.label);
        EXPECT_EQ(procfs::parse_boot_time(each.text), each.expected);
    }
}

TEST(TimeUnits, ConvertsClockTicksExactly) {
    struct Case {
        std::uint64_t ticks;
        std::uint64_t rate;
        std::uint64_t units;
    };
    const std::vector<Case> cases = {
        {0, 100, 0},
        {1, 100, 100000},
        {12345, 100, 1234500000},
        {1, 1000, 10000},
        {1, 300, 33333},  // a rate that does not divide a second evenly truncates
        {300, 300, 10000000},
        {7, 0, 0},
        // Large counts must not overflow in an intermediate product.
        {1844674407370955ULL, 1000, 18446744073709550000ULL},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << each.ticks << " at " << each.rate);
        EXPECT_EQ(procfs::ticks_to_units(each.ticks, each.rate), each.units);
    }
}

TEST(TimeUnits, CreationCountsFrom1601) {
    // Booted at the Unix epoch, started at once: exactly the 1601-to-1970 offset.
    EXPECT_EQ(procfs::creation_units(0, 0, 100), 116444736000000000ULL);
    // 2025-12-10 00:00:00 UTC boot, started 2.5 s later.
    EXPECT_EQ(procfs::creation_units(1765324800, 250, 100),
              116444736000000000ULL + 1765324800ULL * 10000000ULL + 25000000ULL);
}

TEST(TimeUnits, SplitsIntoFileTimeHalves) {
    const auto time = procfs::to_file_time(0x0000000100000002ULL);
    EXPECT_EQ(time.high, 1u);
    EXPECT_EQ(time.low, 2u);
}

}  // namespace
