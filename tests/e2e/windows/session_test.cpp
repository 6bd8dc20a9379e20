// `zul-process serve` against real Windows processes: each answer the document the one-shot
// prints for the same words (inspect requests each with COM of their own), lines ended by
// CR LF, the end of the input and an output that refuses bytes, diagnostics per request, and
// the CPU percentage between two readings against the times the test reads around them.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "launch.hpp"
#include "support/sample_answer.hpp"
#include "support/strict_json.hpp"

namespace e2e {
namespace {

using testing_support::JsonNode;

// No process has this ID: Windows hands out multiples of four, far below it.
constexpr DWORD unused_pid = 0x7FFFFFF0u;

std::string decimal(DWORD pid) { return std::to_string(pid); }

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The words of a request, for the one-shot's command line.
std::vector<std::wstring> words_of(const std::string& line) {
    std::vector<std::wstring> words;
    std::size_t start = 0;
    while ((start = line.find_first_not_of(" \t", start)) != std::string::npos) {
        const std::size_t end = line.find_first_of(" \t", start);
        words.push_back(wide(line.substr(start, end - start)));
        start = end;
    }
    return words;
}

// How long the reading took is the one figure two runs may not share. Under Wine the processor
// times of another process move even while it sleeps (Wine counts its own threads' start-up
// work there, and refreshes the counts only now and then), so there they are left out too.
std::string comparable(const std::string& document) {
    static const std::regex window{R"("windowMs":[0-9]+)"};
    static const std::regex times{R"("cpu(System|User)Ms":[0-9.e+]+)"};
    const std::string same_window = std::regex_replace(document, window, R"("windowMs":0)");
    return under_wine() ? std::regex_replace(same_window, times, R"("cpu$1Ms":0.0)")
                        : same_window;
}

// What a session answers for the words of `line`, as the one-shot gives it: its document, or
// its message as an error.
std::string one_shot_answer(const std::string& line) {
    const ToolRun run = run_tool(words_of(line));
    if (run.exit_code == 0) return run.out;
    EXPECT_EQ(run.exit_code, 1u) << line << ": " << run.err;
    return R"({"error":")" + run.err.substr(0, run.err.size() - 1) + "\"}\n";
}

TEST(WindowsSession, AnswersAsTheOneShotPrintsTheSameWords) {
    auto target = start_probe_target({L"wait"});
    auto other = start_probe_target({L"wait"});
    ASSERT_TRUE(target && other);
    const std::string pid = decimal(target->pid());
    const std::vector<std::string> lines{
        "sample " + pid + " " + decimal(unused_pid),
        "inspect " + pid + " " + decimal(unused_pid),
        // Each inspect request initialises COM and releases it again.
        "inspect\t" + decimal(other->pid()) + "\t" + pid,
        "sample 0" + decimal(other->pid()),
        "",
        "sample",
        "Sample " + pid,
        "inspect " + pid + " 0",
        "serve",
    };
    ToolSession session;
    ASSERT_TRUE(session.started());
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        // Windows pipes end lines with CR LF.
        ASSERT_TRUE(session.send(line + "\r\n"));
        const std::string answer = session.answer();
        if (line == "serve") {
            EXPECT_EQ(answer, one_shot_answer(""));
            continue;
        }
        EXPECT_EQ(comparable(answer), comparable(one_shot_answer(line)));
        // Wine's WMI gives a command line only for the process that runs the query: there the
        // rows of other processes are WMI_COMMAND_LINE errors.
        if (line.starts_with("inspect " + pid) && !under_wine()) {
            EXPECT_NE(answer.find(R"(","pid":)" + pid + R"(,"status":"found"})"),
                      std::string::npos)
                << answer;
        }
    }
    // So the session itself is the process found everywhere: each of two requests queries it
    // afresh.
    const std::string own = decimal(session.pid());
    for (int request = 0; request < 2; ++request) {
        ASSERT_TRUE(session.send("inspect " + own + "\r\n"));
        const std::string answer = session.answer();
        EXPECT_NE(answer.find(R"( serve","createdAt":")"), std::string::npos) << answer;
        EXPECT_NE(answer.find(R"(","pid":)" + own + R"(,"status":"found"}]})"), std::string::npos)
            << answer;
    }
    // The last line counts without a line feed; then the end of the input ends the session.
    ASSERT_TRUE(session.send("sample " + decimal(unused_pid)));
    const ToolRun end = session.finish();
    EXPECT_EQ(end.exit_code, 0u) << end.err;
    EXPECT_EQ(end.out, one_shot_answer("sample " + decimal(unused_pid)));
    EXPECT_EQ(end.err, "");
}

TEST(WindowsSession, EachAnswerCarriesTheDiagnosticsOfItsOwnRequest) {
    ToolSession session{ToolOptions{.environment = {L"ZUL_DIAGNOSTICS_ENABLED=1"}}};
    ASSERT_TRUE(session.started());
    for (const std::string& line : std::vector<std::string>{"sample 4 8 12", "sample 4",
                                                              "inspect " + decimal(unused_pid)}) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(session.send(line + "\n"));
        const auto answer = testing_support::read_json_line(session.answer());
        ASSERT_TRUE(answer && answer->find("diagnostics"));
        for (const JsonNode& row : answer->find("diagnostics")->find("functions")->items) {
            const std::string& name = row.find("name")->text;
            const std::uint64_t calls = row.find("calls")->as_unsigned();
            if (name == "main" || name == "diagnostics::function_rows") {
                EXPECT_EQ(calls, 1u) << name;
            }
            if (name == "sample::read_sample") {
                EXPECT_EQ(calls, words_of(line).size() - 1);
            }
        }
    }
    EXPECT_EQ(session.finish().exit_code, 0u);
}

TEST(WindowsSession, EndsWithItsInputOrWhenItsOutputRefusesBytes) {
    // The one-shot helper gives standard input NUL: the session ends at once, with nothing to
    // answer.
    const ToolRun empty = run_tool({L"serve"});
    EXPECT_EQ(empty.exit_code, 0u) << empty.err;
    EXPECT_EQ(empty.out + empty.err, "");
    // "serve" takes no more words: the usage line, as for any command line refused.
    const ToolRun more = run_tool({L"serve", L"4"});
    EXPECT_EQ(more.exit_code, 1u);
    EXPECT_EQ(more.err, "usage: zul-process <inspect|sample> <pid> [pid...]\n");

    // A pipe whose reader is gone refuses every byte.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    CloseHandle(read_end);
    const OwnedHandle refusing{write_end};
    ToolSession session{ToolOptions{.stdout_handle = refusing.get()}};
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.send("sample 4\r\n"));
    const ToolRun run = session.finish();
    EXPECT_EQ(run.exit_code, 101u);
    EXPECT_TRUE(run.err.starts_with("failed printing to stdout: ")) << run.err;
    EXPECT_TRUE(run.err.ends_with("\n")) << run.err;
}

// A process's user + kernel time in milliseconds, as the test itself reads it.
std::optional<double> cpu_ms_of(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) return std::nullopt;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

double now_ms() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One reading of the session, with the process's times and the clock read just before and
// just after it: the tool's own reading lies between them.
struct Bracketed {
    double cpu_before = 0.0;
    double cpu_after = 0.0;
    double before = 0.0;
    double after = 0.0;
    double cpu_ms = 0.0;  // the row's user + kernel time
    std::optional<double> percent;
};

Bracketed read_bracketed(ToolSession& session, const Child& child) {
    Bracketed reading;
    reading.before = now_ms();
    reading.cpu_before = cpu_ms_of(child.handle()).value_or(-1.0);
    EXPECT_TRUE(session.send("sample " + decimal(child.pid()) + "\r\n"));
    const std::string answer = session.answer();
    reading.cpu_after = cpu_ms_of(child.handle()).value_or(-1.0);
    reading.after = now_ms();
    const auto figures = testing_support::one_found_sample(answer);
    if (!figures) {
        ADD_FAILURE() << "not one found row: " << answer;
        return reading;
    }
    reading.cpu_ms = figures->cpu_ms;
    reading.percent = figures->percent;
    return reading;
}

TEST(WindowsSession, CpuPercentIsTheShareOfTheTimesReadAroundTwoReadings) {
    auto busy = start_probe_target({L"spin"});
    ASSERT_TRUE(busy);
    ToolSession session;
    ASSERT_TRUE(session.started());
    std::vector<Bracketed> readings;
    for (int i = 0; i < 3; ++i) {
        if (i != 0) Sleep(700);
        readings.push_back(read_bracketed(session, *busy));
    }
    EXPECT_EQ(readings[0].percent, std::nullopt) << "a first reading has no rate";
    // Wine refreshes another process's times only now and then, and not alike for every
    // caller: the times read around a reading bound it only on Windows itself.
    const bool times_bound_readings = !under_wine();
    for (std::size_t i = 0; i < readings.size(); ++i) {
        SCOPED_TRACE("reading " + std::to_string(i + 1));
        const Bracketed& now = readings[i];
        if (times_bound_readings) {
            EXPECT_GE(now.cpu_ms, now.cpu_before);
            EXPECT_LE(now.cpu_ms, now.cpu_after);
        }
        if (i == 0) continue;
        const Bracketed& then = readings[i - 1];
        ASSERT_TRUE(now.percent.has_value());
        // The tool's interval lies between the test's shortest and longest view of it: the
        // figure is the rows' growth over it.
        const double shortest_ms = now.before - then.after;
        const double longest_ms = now.after - then.before;
        EXPECT_GE(*now.percent, 100.0 * (now.cpu_ms - then.cpu_ms) / longest_ms);
        EXPECT_LE(*now.percent, 100.0 * (now.cpu_ms - then.cpu_ms) / shortest_ms);
        if (!times_bound_readings) continue;
        // And the growth lies between the least and the most the test saw: the figure is the
        // share of the times Windows keeps, to their 15.625 ms steps.
        const double least_ms = now.cpu_before - then.cpu_after;
        const double most_ms = now.cpu_after - then.cpu_before;
        EXPECT_GT(least_ms, 0.0) << "the target did not spin";
        EXPECT_GE(*now.percent, 100.0 * least_ms / longest_ms);
        EXPECT_LE(*now.percent, 100.0 * most_ms / shortest_ms);
    }
    EXPECT_EQ(session.finish().exit_code, 0u);
}

}  // namespace
}  // namespace e2e
