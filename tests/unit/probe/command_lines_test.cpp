#include "probe/wmi_query.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/com.hpp"
#include "fake/runtime.hpp"
#include "unit/probe/com_expectations.hpp"

namespace {

using testing_support::com_calls_named;
using testing_support::expect_com_balanced;
using testing_support::releases;
using probe::CommandLineMap;
using probe::ProbeError;

using CommandLines = testing_support::DiagnosedPlatformTest;

const CommandLineMap& map_of(const probe::CommandLineResult& result) {
    static const CommandLineMap empty;
    if (const auto* error = std::get_if<ProbeError>(&result)) {
        ADD_FAILURE() << "query failed with " << error->code;
        return empty;
    }
    return std::get<CommandLineMap>(result);
}

TEST_F(CommandLines, PassesEveryArgumentAndMakesTheCallsInOrder) {
    fake::com_script().next_steps = {fake::process_object(4, u"System"),
                                     fake::process_object(1234, u"app.exe -v")};

    const auto result = probe::wmi_command_lines({4, 1234});

    EXPECT_EQ(map_of(result), (CommandLineMap{{4, "System"}, {1234, "app.exe -v"}}));
    const fake::ComRecord& record = fake::com_record();
    EXPECT_EQ(record.coinit_flags, std::vector<std::uint32_t>{0});
    EXPECT_EQ(record.class_contexts, std::vector<std::uint32_t>{1});
    EXPECT_EQ(record.namespaces, std::vector<std::u16string>{u"ROOT\\CIMV2"});
    // WBEM_FLAG_CONNECT_USE_MAX_WAIT: a service that does not answer cannot hang the tool.
    EXPECT_EQ(record.connect_flags, std::vector<std::int32_t>{0x80});
    ASSERT_EQ(record.proxy_blankets.size(), 1u);
    const fake::ProxyBlanketCall& blanket = record.proxy_blankets[0];
    EXPECT_EQ(blanket.authentication, 10u);
    EXPECT_EQ(blanket.authorization, 0u);
    EXPECT_EQ(blanket.authentication_level, 3u);
    EXPECT_EQ(blanket.impersonation_level, 3u);
    EXPECT_EQ(blanket.capabilities, 0u);
    EXPECT_EQ(record.query_languages, std::vector<std::u16string>{u"WQL"});
    EXPECT_EQ(record.query_flags, std::vector<std::int32_t>{0x30});
    ASSERT_EQ(record.next_calls.size(), 3u);
    for (const fake::NextCall& next : record.next_calls) {
        EXPECT_EQ(next.timeout_ms, 3000);
        EXPECT_EQ(next.count, 1u);
    }
    ASSERT_EQ(record.get_calls.size(), 4u);
    for (std::size_t i = 0; i < record.get_calls.size(); ++i) {
        EXPECT_EQ(record.get_calls[i].name, i % 2 == 0 ? u"ProcessId" : u"CommandLine");
        EXPECT_EQ(record.get_calls[i].flags, 0);
    }

    const std::vector<std::string> expected_calls = {"CoInitializeEx",
                                                     "CoCreateInstance",
                                                     "SysAllocString",
                                                     "ConnectServer",
                                                     "SysFreeString",
                                                     "CoSetProxyBlanket",
                                                     "SysAllocString",
                                                     "SysAllocString",
                                                     "ExecQuery",
                                                     "SysFreeString",
                                                     "SysFreeString",
                                                     "Next",
                                                     "Get",
                                                     "VariantClear",
                                                     "Get",
                                                     "VariantClear",
                                                     "Release(class object)",
                                                     "Next",
                                                     "Get",
                                                     "VariantClear",
                                                     "Get",
                                                     "VariantClear",
                                                     "Release(class object)",
                                                     "Next",
                                                     "Release(enumerator)",
                                                     "Release(services)",
                                                     "Release(locator)",
                                                     "CoUninitialize"};
    EXPECT_EQ(record.calls, expected_calls);
}

TEST_F(CommandLines, QueryTextHasOneConditionPerIdJoinedByOr) {
    struct Case {
        std::vector<std::uint32_t> pids;
        std::u16string text;
    };
    const std::vector<Case> cases = {
        {{7}, u"SELECT ProcessId, CommandLine FROM Win32_Process WHERE ProcessId=7"},
        {{4, 1234},
         u"SELECT ProcessId, CommandLine FROM Win32_Process WHERE ProcessId=4 OR ProcessId=1234"},
        {{4294967295u, 10, 1},
         u"SELECT ProcessId, CommandLine FROM Win32_Process WHERE ProcessId=4294967295 OR "
         u"ProcessId=10 OR ProcessId=1"},
    };
    for (const Case& c : cases) {
        fake::reset_com();
        probe::wmi_command_lines(c.pids);
        EXPECT_EQ(fake::com_record().query_texts, std::vector<std::u16string>{c.text});
        expect_com_balanced();
    }
}

TEST(CommandLineQueryText, TenThousandIdsMakeOneFlatQuery) {
    std::vector<std::uint32_t> pids;
    for (std::uint32_t pid = 1; pid <= 10000; ++pid) pids.push_back(pid);

    const std::string text = probe::command_line_query(pids);

    EXPECT_TRUE(
        text.starts_with("SELECT ProcessId, CommandLine FROM Win32_Process WHERE "
                         "ProcessId=1 OR ProcessId=2 OR "));
    EXPECT_TRUE(text.ends_with(" OR ProcessId=9999 OR ProcessId=10000"));
    std::size_t separators = 0;
    for (std::size_t at = text.find(" OR "); at != std::string::npos;
         at = text.find(" OR ", at + 1)) {
        ++separators;
    }
    EXPECT_EQ(separators, 9999u);
}

// Every way the query can fail, with the releases each path owes and whether COM is left.
struct FailureCase {
    const char* name;
    void (*script)(fake::ComScript&);
    std::string_view code;
    std::vector<std::string> releases;
    bool uninitializes;
};

const std::vector<std::string> query_objects = {"Release(enumerator)", "Release(services)",
                                                "Release(locator)"};
const std::vector<std::string> read_objects = {"Release(class object)", "Release(enumerator)",
                                               "Release(services)", "Release(locator)"};

const std::vector<FailureCase> failure_cases = {
    {"co_initialize",
     [](fake::ComScript& s) { s.co_initialize = platform::rpc_e_changed_mode; },
     codes::com_init,
     {},
     false},
    {"locator",
     [](fake::ComScript& s) { s.create_locator = platform::e_fail; },
     codes::wmi_locator,
     {},
     true},
    {"connect",
     [](fake::ComScript& s) { s.connect = platform::wbem_e_invalid_namespace; },
     codes::wmi_connect,
     {"Release(locator)"},
     true},
    {"proxy",
     [](fake::ComScript& s) { s.proxy_blanket = platform::e_invalidarg; },
     codes::wmi_proxy,
     {"Release(services)", "Release(locator)"},
     true},
    {"query",
     [](fake::ComScript& s) { s.exec_query = platform::wbem_e_invalid_query; },
     codes::wmi_query,
     {"Release(services)", "Release(locator)"},
     true},
    {"next_timed_out",
     [](fake::ComScript& s) { s.next_steps = {fake::no_object(platform::wbem_s_timedout, 0)}; },
     codes::wmi_enumeration, query_objects, true},
    {"next_ok_without_object",
     [](fake::ComScript& s) { s.next_steps = {fake::no_object(platform::s_ok, 0)}; },
     codes::wmi_enumeration, query_objects, true},
    {"next_failed",
     [](fake::ComScript& s) { s.next_steps = {fake::no_object(platform::e_fail, 0)}; },
     codes::wmi_enumeration, query_objects, true},
    {"next_counted_a_null_object",
     [](fake::ComScript& s) { s.next_steps = {fake::no_object(platform::s_ok, 1)}; },
     codes::wmi_enumeration, query_objects, true},
    // A failing Next that still handed out an object: the object is ours and is released too.
    {"next_failed_with_object",
     [](fake::ComScript& s) {
         s.next_steps = {fake::process_object(4, u"x")};
         s.next_steps[0].result = platform::e_fail;
     },
     codes::wmi_enumeration, read_objects, true},
    {"pid_get_failed",
     [](fake::ComScript& s) {
         s.next_steps = {
             fake::object_with(fake::failing_get(platform::e_fail), fake::vt_bstr(u"x"))};
     },
     codes::wmi_pid, read_objects, true},
    {"pid_as_text",
     [](fake::ComScript& s) {
         s.next_steps = {fake::object_with(fake::vt_bstr(u"4"), fake::vt_bstr(u"x"))};
     },
     codes::wmi_pid_type, read_objects, true},
    {"pid_null",
     [](fake::ComScript& s) {
         s.next_steps = {fake::object_with(fake::vt_null(), fake::vt_bstr(u"x"))};
     },
     codes::wmi_pid_type, read_objects, true},
    {"command_line_get_failed",
     [](fake::ComScript& s) {
         s.next_steps = {fake::process_object(4, fake::failing_get(platform::e_fail))};
     },
     codes::wmi_property, read_objects, true},
    {"command_line_number",
     [](fake::ComScript& s) { s.next_steps = {fake::process_object(4, fake::vt_i4(5))}; },
     codes::wmi_property_type, read_objects, true},
    {"command_line_bstr_array",
     [](fake::ComScript& s) {
         s.next_steps = {
             fake::process_object(4, fake::of_type(platform::vt_bstr | platform::vt_array))};
     },
     codes::wmi_property_type, read_objects, true},
    {"command_line_bstr_byref",
     [](fake::ComScript& s) {
         s.next_steps = {
             fake::process_object(4, fake::of_type(platform::vt_bstr | platform::vt_byref))};
     },
     codes::wmi_property_type, read_objects, true},
    {"command_line_null",
     [](fake::ComScript& s) { s.next_steps = {fake::process_object(4, fake::vt_null())}; },
     codes::wmi_command_line, read_objects, true},
    {"command_line_empty",
     [](fake::ComScript& s) {
         s.next_steps = {fake::process_object(4, fake::of_type(platform::vt_empty))};
     },
     codes::wmi_command_line, read_objects, true},
    {"command_line_null_bstr",
     [](fake::ComScript& s) { s.next_steps = {fake::process_object(4, fake::null_bstr())}; },
     codes::wmi_command_line, read_objects, true},
    // One null command line fails the whole query even when the others have theirs.
    {"one_null_among_good",
     [](fake::ComScript& s) {
         s.next_steps = {fake::process_object(4, u"a"), fake::process_object(8, fake::vt_null()),
                         fake::process_object(12, u"c")};
     },
     codes::wmi_command_line,
     {"Release(class object)", "Release(class object)", "Release(enumerator)", "Release(services)",
      "Release(locator)"},
     true},
    {"duplicate",
     [](fake::ComScript& s) {
         s.next_steps = {fake::process_object(4, u"a"), fake::process_object(4, u"b")};
     },
     codes::wmi_duplicate,
     {"Release(class object)", "Release(class object)", "Release(enumerator)", "Release(services)",
      "Release(locator)"},
     true},
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class CommandLineFailures : public CommandLines,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CommandLineFailures, EndTheQueryWithTheCodeAndReleaseWhatWasObtained) {
    const FailureCase& c = GetParam();
    c.script(fake::com_script());

    const auto result = probe::wmi_command_lines({4, 8, 12});

    ASSERT_TRUE(std::holds_alternative<ProbeError>(result));
    EXPECT_EQ(std::get<ProbeError>(result).code, c.code);
    EXPECT_EQ(releases(), c.releases);
    EXPECT_EQ(com_calls_named("CoUninitialize"), c.uninitializes ? 1u : 0u);
    if (c.uninitializes) {
        EXPECT_EQ(fake::com_record().calls.back(), "CoUninitialize");
    }
    // The first error ends the query: nothing is fetched after it.
    const std::size_t scripted = fake::com_script().next_steps.size();
    EXPECT_LE(com_calls_named("Next"), scripted);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineFailures, ::testing::ValuesIn(failure_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Results the query accepts, and how each value reaches the map.
TEST_F(CommandLines, ConvertsIdsAndTextsIntoTheMap) {
    struct Case {
        const char* name;
        std::vector<fake::NextStep> objects;
        CommandLineMap expected;
    };
    const std::vector<Case> cases = {
        {"no objects at all", {}, {}},
        {"empty BSTR is a value", {fake::process_object(4, u"")}, {{4, ""}}},
        {"negative VT_I4 keeps its bits",
         {fake::object_with(fake::vt_i4(-1), fake::vt_bstr(u"x"))},
         {{4294967295u, "x"}}},
        {"lone high surrogate", {fake::process_object(4, u"\xD800")}, {{4, "\xEF\xBF\xBD"}}},
        {"high surrogate then letter",
         {fake::process_object(4,
                               u"\xD800"
                               u"A")},
         {{4,
           "\xEF\xBF\xBD"
           "A"}}},
        {"lone low surrogate", {fake::process_object(4, u"a\xDC00")}, {{4, "a\xEF\xBF\xBD"}}},
        {"surrogate pair", {fake::process_object(4, u"\xD83D\xDE00")}, {{4, "\xF0\x9F\x98\x80"}}},
        {"zero unit inside",
         {fake::process_object(4, std::u16string(u"a\0b", 3))},
         {{4, std::string("a\0b", 3)}}},
        {"non-ASCII path",
         {fake::process_object(4, u"C:\\caf\u00e9\\\u6f22.exe")},
         {{4, "C:\\caf\xC3\xA9\\\xE6\xBC\xA2.exe"}}},
        {"any order, a listed ID missing",
         {fake::process_object(12, u"c"), fake::process_object(4, u"a")},
         {{4, "a"}, {12, "c"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_com();
        fake::com_script().next_steps = c.objects;
        EXPECT_EQ(map_of(probe::wmi_command_lines({4, 8, 12})), c.expected);
        expect_com_balanced();
    }
}

TEST_F(CommandLines, RunsWhenComWasAlreadyInitialised) {
    fake::com_script().co_initialize = platform::s_false;
    fake::com_script().next_steps = {fake::process_object(4, u"a")};

    EXPECT_EQ(map_of(probe::wmi_command_lines({4})), (CommandLineMap{{4, "a"}}));
    EXPECT_EQ(com_calls_named("CoUninitialize"), 1u);
}

TEST_F(CommandLines, ANullBstrIsHandedOnAndTheCallDecides) {
    fake::com_script().sys_alloc_fails = true;
    fake::com_script().connect = platform::wbem_e_invalid_namespace;

    const auto result = probe::wmi_command_lines({4});

    ASSERT_TRUE(std::holds_alternative<ProbeError>(result));
    EXPECT_EQ(std::get<ProbeError>(result).code, codes::wmi_connect);
    EXPECT_EQ(fake::com_record().namespaces, std::vector<std::u16string>{u""});
    EXPECT_EQ(com_calls_named("SysFreeString"), 0u);
}

TEST_F(CommandLines, ScopeCountsOfASuccessfulQueryFollowTheObjectCount) {
    for (const std::uint32_t objects : {0u, 1u, 3u}) {
        SCOPED_TRACE(objects);
        fake::reset_com();
        std::vector<std::uint32_t> pids;
        for (std::uint32_t i = 1; i <= objects; ++i) {
            fake::com_script().next_steps.push_back(fake::process_object(i, u"cmd"));
            pids.push_back(i);
        }
        if (pids.empty()) pids.push_back(99);
        const testing_support::ScopeCounts counts{
            {"windows::command_lines", "windows::query_command_lines", "windows::query_connected",
             "windows::query_services", "windows::collect_enumerator", "windows::bstr",
             "windows::wide", "windows::read_variant_pid", "windows::read_variant_text",
             "windows::release"}};

        probe::wmi_command_lines(pids);

        EXPECT_EQ(counts.since("windows::command_lines"), 1u);
        EXPECT_EQ(counts.since("windows::query_command_lines"), 1u);
        EXPECT_EQ(counts.since("windows::query_connected"), 1u);
        EXPECT_EQ(counts.since("windows::query_services"), 1u);
        EXPECT_EQ(counts.since("windows::collect_enumerator"), 1u);
        EXPECT_EQ(counts.since("windows::bstr"), 3u);
        EXPECT_EQ(counts.since("windows::wide"), 3u + 2u * objects);
        EXPECT_EQ(counts.since("windows::read_variant_pid"), objects);
        EXPECT_EQ(counts.since("windows::read_variant_text"), objects);
        EXPECT_EQ(counts.since("windows::release"), objects + 3u);
        expect_com_balanced();
    }
}

TEST_F(CommandLines, ScopeCountsOfAConnectFailure) {
    fake::com_script().connect = platform::wbem_e_invalid_namespace;
    const testing_support::ScopeCounts counts{
        {"windows::release", "windows::bstr", "windows::wide", "windows::query_services"}};

    probe::wmi_command_lines({4});

    EXPECT_EQ(counts.since("windows::release"), 1u);
    EXPECT_EQ(counts.since("windows::bstr"), 1u);
    EXPECT_EQ(counts.since("windows::wide"), 1u);
    EXPECT_EQ(counts.since("windows::query_services"), 0u);
}

}  // namespace
