#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "probe/process_identity.hpp"
#include "unit/probe/com_expectations.hpp"

namespace {

using probe::ProbeError;

constexpr std::uint32_t pid = 4242;

using Identity = testing_support::DiagnosedPlatformTest;

struct IdentityCase {
    const char* name;
    void (*script)(fake::Process&);
    std::optional<std::string_view> code;  // nullopt: not_found
};

TEST_F(Identity, EveryFailureBecomesItsOutcomeAndClosesTheHandle) {
    const std::vector<IdentityCase> cases = {
        {"no such process",
         [](fake::Process& p) {
             p.open_fails = fake::always;
             p.open_error = 87;
         },
         std::nullopt},
        {"access denied",
         [](fake::Process& p) {
             p.open_fails = fake::always;
             p.open_error = 5;
         },
         codes::open_process},
        {"state unreadable", [](fake::Process& p) { p.exit_code_fails = fake::always; },
         codes::process_state},
        {"already exited", [](fake::Process& p) { p.exit_codes = {0}; }, std::nullopt},
        {"times fail, then ended",
         [](fake::Process& p) {
             p.times_fail = fake::always;
             p.exit_codes = {fake::still_active, 1};
         },
         std::nullopt},
        {"times fail while running", [](fake::Process& p) { p.times_fail = fake::always; },
         codes::process_times},
        {"path fails, then ended",
         [](fake::Process& p) {
             p.image_name_fails = fake::always;
             p.exit_codes = {fake::still_active, 1};
         },
         std::nullopt},
        {"path fails while running", [](fake::Process& p) { p.image_name_fails = fake::always; },
         codes::process_path},
    };
    for (const IdentityCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        c.script(fake::process(pid));

        const auto outcome = probe::handle_identity(processes, pid);

        if (c.code) {
            ASSERT_TRUE(outcome.is_error());
            EXPECT_EQ(outcome.error().code, *c.code);
        } else {
            EXPECT_TRUE(outcome.not_found());
        }
        EXPECT_EQ(fake::open_handles(), 0u);
        EXPECT_EQ(fake::calls_named("OpenProcess"), 1u);
    }
}

TEST_F(Identity, FoundKeepsTheHandleOpenUntilTheIdentityGoes) {
    fake::process(pid);
    {
        const auto outcome = probe::handle_identity(processes, pid);
        ASSERT_TRUE(outcome.found());
        EXPECT_EQ(outcome.value().executable_path, "C:\\Windows\\System32\\notepad.exe");
        EXPECT_EQ(fake::open_handles(), 1u);
        EXPECT_EQ(fake::calls_named("CloseHandle"), 0u);
    }
    EXPECT_EQ(fake::calls_named("CloseHandle"), 1u);
}

TEST_F(Identity, CreationTimeIsPlainDecimalText) {
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {0, "0"},
        {4294967296u, "4294967296"},
        {133'000'000'000'000'001u, "133000000000000001"},
        {18446744073709551615u, "18446744073709551615"},
    };
    for (const auto& [ticks, text] : cases) {
        fake::reset_processes();
        fake::process(pid).creation_ticks = {ticks};
        const auto outcome = probe::handle_identity(processes, pid);
        ASSERT_TRUE(outcome.found());
        EXPECT_EQ(outcome.value().created_at, text);
    }
}

TEST_F(Identity, PathIsConvertedUnitForUnit) {
    const std::vector<std::pair<std::u16string, std::string>> cases = {
        {u"C:\\a\xD800.exe", "C:\\a\xEF\xBF\xBD.exe"},
        {u"C:\\\xDC00", "C:\\\xEF\xBF\xBD"},
        {u"C:\\\xD83D\xDE00\\caf\u00e9 x.EXE", "C:\\\xF0\x9F\x98\x80\\caf\xC3\xA9 x.EXE"},
    };
    for (const auto& [units, text] : cases) {
        fake::reset_processes();
        fake::process(pid).image_name = units;
        const auto outcome = probe::handle_identity(processes, pid);
        ASSERT_TRUE(outcome.found());
        EXPECT_EQ(outcome.value().executable_path, text);
    }
}

TEST_F(Identity, RecheckThroughTheHeldHandle) {
    struct Case {
        const char* name;
        void (*script)(fake::Process&);
        std::variant<bool, ProbeError> expected;
    };
    const std::vector<Case> cases = {
        {"unchanged", [](fake::Process&) {}, true},
        {"ended since",
         [](fake::Process& p) {
             p.exit_codes = {fake::still_active, 0};
         },
         false},
        {"state unreadable", [](fake::Process& p) { p.exit_code_fails = fake::from_call(2); },
         ProbeError{codes::process_state}},
        {"times unreadable", [](fake::Process& p) { p.times_fail = fake::from_call(2); },
         ProbeError{codes::process_times}},
        // Even a process that ended meanwhile is not asked again once the times fail.
        {"times unreadable after it ended",
         [](fake::Process& p) {
             p.times_fail = fake::from_call(2);
             p.exit_codes = {fake::still_active, fake::still_active, 0};
         },
         ProbeError{codes::process_times}},
        {"created at another time",
         [](fake::Process& p) {
             p.creation_ticks = {100, 101};
         },
         ProbeError{codes::process_changed}},
        {"created at a time of another length",
         [](fake::Process& p) {
             p.creation_ticks = {99, 990};
         },
         ProbeError{codes::process_changed}},
        // Same ID, same creation time, but another program since the identity was read.
        {"executed another program since",
         [](fake::Process& p) { p.image_replaced = fake::from_call(1); },
         ProbeError{codes::process_changed}},
        {"executed another program, then ended",
         [](fake::Process& p) {
             p.image_replaced = fake::from_call(1);
             p.exit_codes = {fake::still_active, 0};
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        c.script(fake::process(pid));
        auto identity = probe::handle_identity(processes, pid);
        ASSERT_TRUE(identity.found());

        EXPECT_EQ(probe::alive_and_same(identity.value().handle, identity.value().created_at),
                  c.expected);
        EXPECT_EQ(fake::open_handles(), 1u) << "the recheck must not close the handle";
        EXPECT_EQ(fake::calls_named("OpenProcess"), 1u) << "the process is opened once";
    }
}

TEST_F(Identity, CollectsOneEntryPerIdInOrderWithAllHandlesOpen) {
    for (const std::uint32_t running : {4u, 99u, 7u}) fake::process(running);
    fake::process(8).open_fails = fake::always;
    fake::process(12).exit_codes = {0};

    const std::vector<std::uint32_t> pids = {12, 4, 99, 8, 7};
    const probe::IdentityList identities = probe::collect_identities(processes, pids);

    ASSERT_EQ(identities.size(), 5u);
    const std::vector<std::uint32_t> order = {12, 4, 99, 8, 7};
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(identities[i].pid, order[i]);
    EXPECT_TRUE(identities[0].outcome.not_found());
    EXPECT_TRUE(identities[1].outcome.found());
    EXPECT_TRUE(identities[2].outcome.found());
    EXPECT_TRUE(identities[3].outcome.is_error());
    EXPECT_TRUE(identities[4].outcome.found());
    EXPECT_EQ(fake::open_handles(), 3u);
}

TEST_F(Identity, ScopeCountsOfAFoundIdentityItsRecheckAndItsClose) {
    const testing_support::ScopeCounts counts{{"windows::handle_identity", "windows::filetime",
                                               "windows::alive_and_same", "windows::drop_handle"}};
    fake::process(pid);
    {
        auto identity = probe::handle_identity(processes, pid);
        ASSERT_TRUE(identity.found());
        EXPECT_EQ(counts.since("windows::handle_identity"), 1u);
        EXPECT_EQ(counts.since("windows::filetime"), 1u);

        probe::alive_and_same(identity.value().handle, identity.value().created_at);
        EXPECT_EQ(counts.since("windows::alive_and_same"), 1u);
        EXPECT_EQ(counts.since("windows::filetime"), 2u);
        EXPECT_EQ(counts.since("windows::drop_handle"), 0u);
    }
    EXPECT_EQ(counts.since("windows::drop_handle"), 1u);
}

}  // namespace
