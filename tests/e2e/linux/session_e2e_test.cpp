// `zul-process serve` against real processes: each answer the document the one-shot prints for
// the same words, many requests in one session, the ends of its input and output, the memory a
// line of megabytes takes and gives back, and the CPU percentage between two readings against
// the kernel's own counts read around them.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/sample_answer.hpp"

namespace {

using Words = std::vector<std::string>;

// The lines of `text`, each with its line feed.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start + 1));
    }
    if (start != text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string joined(const Words& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
    return line;
}

// A session whose standard input is this text, read from a file.
e2e::RunResult run_session(const std::string& input, e2e::RunOptions options = {}) {
    const e2e::TemporaryFolder folder{"zul-session"};
    options.input_file = folder.path() + "/input";
    std::ofstream{options.input_file, std::ios::binary} << input;
    return e2e::run_tool({"serve"}, options);
}

// How long the reading took is the one figure two runs may not share.
std::string without_windows(const std::string& document) {
    static const std::regex window{R"("windowMs":[0-9]+)"};
    return std::regex_replace(document, window, R"("windowMs":0)");
}

// What a session answers for words the one-shot runs with: its document, or its message as an
// error.
std::string one_shot_answer(const Words& words) {
    const e2e::RunResult run = e2e::run_tool(words);
    if (run.status == 0) return run.out;
    EXPECT_EQ(run.status, 1) << joined(words) << ": " << run.err;
    return R"({"error":")" + run.err.substr(0, run.err.size() - 1) + "\"}\n";
}

TEST(SessionE2e, AnswersAsTheOneShotPrintsTheSameWords) {
    const test_support::Child waiting;
    const test_support::Child other;
    const test_support::Child exited{test_support::Child::State::exited};
    const test_support::HalfExitedChild half_exited;
    const std::string nobody = test_support::pid_nobody_has();
    const std::string self = std::to_string(::getpid());
    const std::vector<Words> requests{
        {"sample", waiting.pid_text(), exited.pid_text(), half_exited.pid_text(), nobody},
        {"inspect", waiting.pid_text(), exited.pid_text(), half_exited.pid_text(), nobody, self},
        // Another process: a second reading of one would carry a rate, which the one-shot has
        // not.
        {"sample", "0" + other.pid_text(), nobody, other.pid_text()},
        {"inspect", self},
        {},
        {"sample"},
        {"Sample", self},
        {"inspect", self, "0"},
        {"sample", "99999999999"},
        {"sample", "-" + self},
        {"sample", "1\xff"},
    };
    std::string input;
    std::string expected;
    for (const Words& words : requests) {
        input += joined(words) + "\n";
        expected += one_shot_answer(words);
    }

    const e2e::RunResult session = run_session(input);

    EXPECT_EQ(session.status, 0) << session.err;
    EXPECT_EQ(session.err, "");
    const std::vector<std::string> answers = lines_of(without_windows(session.out));
    const std::vector<std::string> wanted = lines_of(without_windows(expected));
    ASSERT_EQ(answers.size(), requests.size()) << session.out;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(answers[i], wanted[i]) << joined(requests[i]);
    }
    // Found rows among them, and a first reading without a rate.
    EXPECT_NE(answers[0].find(R"("cpuPercent":null,"cpuSystemMs":0.0,)"), std::string::npos)
        << answers[0];
    EXPECT_NE(answers[3].find(R"("status":"found")"), std::string::npos) << answers[3];
}

TEST(SessionE2e, AnswersManyRequestsInOrder) {
    // Requests of every kind in turn, each naming its own ID: nobody has any of them.
    const std::uint64_t first = test_support::pid_max();
    constexpr std::size_t count = 20'000;
    std::string input;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string pid = std::to_string(first + i);
        input += i % 3 == 0 ? "sample " + pid + "\n"
                 : i % 3 == 1 ? "inspect\t" + pid + "\r\n"
                              : "sample " + pid + " x\n";
    }

    const e2e::RunResult session = run_session(input);

    ASSERT_EQ(session.status, 0) << session.err;
    const std::vector<std::string> answers = lines_of(session.out);
    ASSERT_EQ(answers.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string pid = std::to_string(first + i);
        const std::string expected =
            i % 3 == 0 ? R"({"samples":[{"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,)"
                         R"("peak":null,"pid":)" + pid +
                             R"(,"rssBytes":null,"status":"not_found","systemPeakBytes":null,)"
                             R"("unavailable":"PROCESS_NOT_FOUND"}]})" "\n"
            : i % 3 == 1 ? R"({"processes":[{"pid":)" + pid + R"(,"status":"not_found"}]})" "\n"
                         : R"({"error":"process IDs must be positive decimal integers"})" "\n";
        ASSERT_EQ(answers[i], expected) << "request " << i;
    }
}

TEST(SessionE2e, EndsWithItsInputAndWhenEitherStreamFails) {
    struct Case {
        const char* name;
        e2e::Output output;
        std::string input_file;  // empty: the input is "sample 1\n" and more
        int status;
        std::string err;
    };
    const std::vector<Case> cases{
        {"closed output", e2e::Output::closed_pipe, {}, 101,
         "failed printing to stdout: Broken pipe\n"},
        {"full output", e2e::Output::full_device, {}, 101,
         "failed printing to stdout: No space left on device\n"},
        {"input that cannot be read", e2e::Output::captured, "/", 101,
         "failed reading from stdin: Is a directory\n"},
        {"empty input", e2e::Output::captured, "/dev/null", 0, ""},
    };
    for (const Case& c : cases) {
        e2e::RunOptions options;
        options.output = c.output;
        options.input_file = c.input_file;
        const e2e::RunResult run = c.input_file.empty()
                                       ? run_session("sample 1\nsample 1\n", options)
                                       : e2e::run_tool({"serve"}, options);
        EXPECT_EQ(run.status, c.status) << c.name << ": " << run.err;
        EXPECT_EQ(run.err, c.err) << c.name;
        if (c.output == e2e::Output::captured) {
            EXPECT_EQ(run.out, "") << c.name;
        }
    }
    // Standard input closed altogether: as an empty one.
    const e2e::RunResult closed = e2e::run_tool({"serve"});
    EXPECT_EQ(closed.status, 0) << closed.err;
    EXPECT_EQ(closed.out + closed.err, "");
    // "serve" takes its option and no other word: the usage line, as for any other command
    // line it refuses, with nothing read.
    for (const Words& words : {Words{"serve", "1"}, Words{"serve", "--forget-after=0"},
                               Words{"serve", "--forget-after=86401"},
                               Words{"serve", "--forget-after=60", "1"}}) {
        const e2e::RunResult more = e2e::run_tool(words);
        EXPECT_EQ(more.status, 1) << joined(words);
        EXPECT_EQ(more.out, "") << joined(words);
        EXPECT_EQ(more.err, "usage: zul-process <inspect|sample> <pid> [pid...]\n") << joined(words);
    }
    for (const char* seconds : {"1", "86400"}) {
        e2e::RunOptions options;
        options.input_file = "/dev/null";
        const e2e::RunResult run = e2e::run_tool({"serve", std::string{"--forget-after="} + seconds},
                                                 options);
        EXPECT_EQ(run.status, 0) << seconds << ": " << run.err;
        EXPECT_EQ(run.out + run.err, "") << seconds;
    }
}

// A figure of /proc/<pid>/status in bytes, such as "VmRSS:".
std::uint64_t status_bytes(pid_t pid, const std::string& key) {
    std::ifstream status{"/proc/" + std::to_string(pid) + "/status"};
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + key.size(), nullptr, 10) * 1024;
    }
    return 0;
}

TEST(SessionE2e, ALineOfMegabytesCostsAFewTimesItsLengthAndItsAnswerThenIsGivenBack) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "AddressSanitizer keeps freed memory aside and adds its own to every block";
    }
    constexpr std::uint64_t mib = 1024 * 1024;
    const test_support::Child waiting;
    const std::uint64_t first_nobody = test_support::pid_max();
    struct Case {
        const char* label;
        std::string line;
    };
    std::string distinct = "sample " + waiting.pid_text();
    for (std::uint64_t pid = first_nobody; pid < first_nobody + 100'000; ++pid) {
        distinct += " " + std::to_string(pid);
    }
    std::string repeated = "sample";
    while (repeated.size() < 16 * mib) repeated += " " + waiting.pid_text();
    const std::vector<Case> cases{
        {"100,000 IDs", distinct + "\n"},
        {"one ID repeated over 16 MiB", repeated + "\n"},
        {"a refused word of 16 MiB", "inspect " + std::string(16 * mib, '7') + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        e2e::ToolSession session;
        ASSERT_TRUE(session.send("sample " + waiting.pid_text() + "\n"));
        ASSERT_FALSE(session.answer().empty());
        const std::uint64_t usual = status_bytes(session.pid(), "VmRSS:");

        ASSERT_TRUE(session.send(c.line));
        const std::string answer = session.answer();
        ASSERT_TRUE(answer.ends_with("}\n")) << answer.substr(0, 200);
        const std::uint64_t peak = status_bytes(session.pid(), "VmHWM:");
        ASSERT_TRUE(session.send("sample " + waiting.pid_text() + "\n"));
        ASSERT_FALSE(session.answer().empty());
        const std::uint64_t after = status_bytes(session.pid(), "VmRSS:");

        ASSERT_GT(usual, 0u);
        EXPECT_LE(peak, usual + 3 * (c.line.size() + answer.size()) + mib)
            << "peak " << peak / 1024 << " KiB for a line of " << c.line.size() / 1024
            << " KiB and an answer of " << answer.size() / 1024 << " KiB, from " << usual / 1024
            << " KiB";
        EXPECT_LE(after, usual + mib) << "from " << usual / 1024 << " KiB to " << after / 1024;
        EXPECT_EQ(session.finish().status, 0);
    }
}

// The kernel's user + kernel ticks of a process (fields 14 and 15 of its stat).
std::uint64_t kernel_ticks(pid_t pid) {
    const auto fields = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return fields.size() > 15 ? std::stoull(fields[14]) + std::stoull(fields[15]) : 0;
}

double ticks_to_ms(std::uint64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ms_of(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// One reading of the session, with the kernel's counts and the clock read just before and
// just after it: the tool's own reading lies between them.
struct Bracketed {
    std::uint64_t ticks_before = 0;
    std::uint64_t ticks_after = 0;
    std::chrono::steady_clock::time_point before;
    std::chrono::steady_clock::time_point after;
    double cpu_ms = 0.0;  // the row's user + kernel time
    std::optional<double> percent;
};

Bracketed read_bracketed(e2e::ToolSession& session, pid_t pid) {
    Bracketed reading;
    reading.before = std::chrono::steady_clock::now();
    reading.ticks_before = kernel_ticks(pid);
    EXPECT_TRUE(session.send("sample " + std::to_string(pid) + "\n"));
    const std::string answer = session.answer();
    reading.ticks_after = kernel_ticks(pid);
    reading.after = std::chrono::steady_clock::now();
    const auto figures = testing_support::one_found_sample(answer);
    if (!figures) {
        ADD_FAILURE() << "not one found row: " << answer;
        return reading;
    }
    reading.cpu_ms = figures->cpu_ms;
    reading.percent = figures->percent;
    return reading;
}

TEST(SessionE2e, CpuPercentIsTheKernelsShareBetweenTwoReadings) {
    e2e::AwkwardChild busy{{"share", "50"}};
    ASSERT_TRUE(busy.says("ready"));
    e2e::ToolSession session;
    std::vector<Bracketed> readings;
    for (int i = 0; i < 3; ++i) {
        if (i != 0) std::this_thread::sleep_for(std::chrono::milliseconds(700));
        readings.push_back(read_bracketed(session, busy.pid()));
    }
    EXPECT_EQ(readings[0].percent, std::nullopt) << "a first reading has no rate";
    for (std::size_t i = 0; i < readings.size(); ++i) {
        SCOPED_TRACE("reading " + std::to_string(i + 1));
        const Bracketed& now = readings[i];
        // Each figure is the kernel's, read between the test's two readings of it.
        EXPECT_GE(now.cpu_ms, ticks_to_ms(now.ticks_before));
        EXPECT_LE(now.cpu_ms, ticks_to_ms(now.ticks_after));
        if (i == 0) continue;
        const Bracketed& then = readings[i - 1];
        ASSERT_TRUE(now.percent.has_value());
        // The tool's interval lies between the test's shortest and longest view of it, and its
        // growth between the kernel's least and most: the figure is the kernel's share, to the
        // tick the kernel counts in and the time a request takes.
        const double shortest_ms = ms_of(now.before - then.after);
        const double longest_ms = ms_of(now.after - then.before);
        const double least_ms = ticks_to_ms(now.ticks_before - then.ticks_after);
        const double most_ms = ticks_to_ms(now.ticks_after - then.ticks_before);
        EXPECT_GT(least_ms, 0.0) << "the child did not burn";
        EXPECT_GE(*now.percent, 100.0 * least_ms / longest_ms);
        EXPECT_LE(*now.percent, 100.0 * most_ms / shortest_ms);
        // Over the rows' own figures: the growth of user + kernel time over the elapsed time.
        EXPECT_GE(*now.percent, 100.0 * (now.cpu_ms - then.cpu_ms) / longest_ms);
        EXPECT_LE(*now.percent, 100.0 * (now.cpu_ms - then.cpu_ms) / shortest_ms);
    }
    // The one-shot keeps no earlier reading.
    EXPECT_NE(e2e::run_tool({"sample", busy.pid_text()}).out.find(R"("cpuPercent":null)"),
              std::string::npos);
}

}  // namespace
