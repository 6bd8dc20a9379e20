// A session over the fake platform: each line answered as the one-shot answers the same words
// (a refusal as an error), lines however the input is cut, the end and the failures of either
// stream, the diagnostics of each request alone, COM for each inspect request, and the CPU
// percentage between a session's readings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "main/request_lines.hpp"
#include "main/run.hpp"
#include "support/strict_json.hpp"
#include "unit/platform_test.hpp"

namespace {

using platform::Stream;
using testing_support::JsonNode;
using Words = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome finish(int status) {
    return Outcome{status, fake::captured(Stream::out), fake::captured(Stream::err)};
}

// The one-shot, given these words as its arguments.
Outcome one_shot(const Words& words) {
    fake::reset_runtime();
    fake::set_arguments(words);
    return finish(app::run());
}

// What a session is to answer for these words: the one-shot's document, or its message as an
// error.
std::string expected_answer(const Words& words) {
    const Outcome run = one_shot(words);
    if (run.status == 0) return run.out;
    EXPECT_EQ(run.status, 1) << ::testing::PrintToString(words);
    EXPECT_TRUE(run.err.ends_with('\n'));
    return R"({"error":")" + run.err.substr(0, run.err.size() - 1) + "\"}\n";
}

// Starts a session's script: "serve" on the command line, the clock at zero.
void start_session(bool diagnostics = false) {
    fake::reset_runtime();
    fake::set_arguments(Words{"serve"});
    if (diagnostics) fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
}

// A session fed these pieces, one read each.
Outcome session(const std::vector<std::string>& pieces) {
    start_session();
    for (const std::string& piece : pieces) fake::add_input(piece);
    return finish(app::run());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start + 1));
    }
    EXPECT_EQ(start, text.size()) << "the output does not end with a line feed";
    return lines;
}

// The COM answers for one query over process 12.
fake::ComScript query_of_twelve() {
    fake::ComScript script;
    script.next_steps.push_back(fake::process_object(12, u"app --flag"));
    return script;
}

class SessionTest : public testing_support::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        fake::Process& twelve = fake::process(12);
        twelve.user_ticks = 156250;
        twelve.kernel_ticks = 312500;
        twelve.working_set = 4096;
        twelve.peak_working_set = 8192;
        fake::process(9).open_fails = fake::always;  // access denied
    }
};

struct LineCase {
    std::string line;
    Words words;  // the one-shot's arguments for the same request
};

TEST_F(SessionTest, AnswersEveryLineAsTheOneShotAnswersItsWords) {
    const std::string not_utf8 = "\xff\xfe";
    const std::vector<LineCase> cases{
        {"sample 12 7 012 9 12", {"sample", "12", "7", "012", "9", "12"}},
        {"inspect 12 7 9", {"inspect", "12", "7", "9"}},
        {" \t sample\t\t12   7 \t", {"sample", "12", "7"}},
        {"", {}},
        {" \t ", {}},
        {"Sample 12", {"Sample", "12"}},
        {"sample", {"sample"}},
        {"inspect 12 0", {"inspect", "12", "0"}},
        {"sample 4294967296 x", {"sample", "4294967296", "x"}},
        {"sample 12 -5", {"sample", "12", "-5"}},
        {"sample 1\r2", {"sample", "1\r2"}},
        {"sample 12\v", {"sample", "12\v"}},
        {std::string("sample 1\0", 9), {"sample", std::string("1\0", 2)}},
        {std::string("sample\0 12", 10), {std::string("sample\0", 7), "12"}},
        // What the one-shot makes of bytes that are not UTF-8: U+FFFD.
        {"sample 12" + not_utf8, {"sample", "12\uFFFD"}},
        {not_utf8 + "sample 12", {"\uFFFDsample", "12"}},
        {"sample 0 " + not_utf8, {"sample", "0", "\uFFFD"}},
    };
    std::string input;
    std::string expected;
    for (const LineCase& c : cases) {
        fake::reset_com(query_of_twelve());
        input += c.line + "\n";
        expected += expected_answer(c.words);
    }
    fake::reset_com(query_of_twelve());

    const Outcome run = session({input});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> answers = lines_of(run.out);
    const std::vector<std::string> wanted = lines_of(expected);
    ASSERT_EQ(answers.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(answers[i], wanted[i]) << ::testing::PrintToString(cases[i].line);
    }
    // The refusals and the documents are the ones the one-shot gives, not all of one kind.
    EXPECT_THAT(answers[0], ::testing::StartsWith(R"({"samples":[{"cpuPercent":null,)"));
    EXPECT_EQ(answers[3], "{\"error\":\"usage: zul-process <inspect|sample> <pid> [pid...]\"}\n");
}

TEST_F(SessionTest, ALineEndsAtItsLineFeedHoweverTheInputIsCut) {
    const std::string twelve = expected_answer({"sample", "12"});
    const std::string seven = expected_answer({"sample", "7"});
    const std::string not_decimal = expected_answer({"sample", "7\r"});
    const std::string usage = expected_answer({});
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        std::string out;
    };
    const std::vector<Case> cases{
        {"one read", {"sample 12\nsample 7\n"}, twelve + seven},
        {"cut inside a word", {"sam", "ple 1", "2\nsample", " 7\n"}, twelve + seven},
        {"one byte a read", {"s", "a", "m", "p", "l", "e", " ", "7", "\n"}, seven},
        {"CR LF", {"sample 12\r\n", "sample 7\r", "\n"}, twelve + seven},
        {"only one CR is the line's end", {"sample 7\r\r\n"}, not_decimal},
        {"a line of CR alone", {"\r\n"}, usage},
        {"the last line without a line feed", {"sample 12\nsample 7"}, twelve + seven},
        {"the last line without a line feed, with a CR", {"sample 7\r"}, seven},
        {"empty lines", {"\n\n"}, usage + usage},
        {"writes of no bytes", {"", "sample 7", "", "\n", ""}, seven},
        {"no input", {}, ""},
    };
    for (const Case& c : cases) {
        const Outcome run = session(c.pieces);
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.err, "") << c.name;
    }
}

TEST_F(SessionTest, EachAnswerIsOneWriteMadeBeforeTheNextLineIsRead) {
    const std::string seven = expected_answer({"sample", "7"});
    start_session();
    // Three lines in one piece: all three answered before the input is read again.
    fake::add_input("sample 7\nsample 7\nsample 7\n");
    fake::add_input("sample 7\n", [&] {
        EXPECT_EQ(fake::captured(Stream::out), seven + seven + seven);
        EXPECT_EQ(fake::writes(Stream::out), 3u);
        EXPECT_EQ(fake::input_reads(), 2u);
    });
    fake::add_input("nope\n", [&] {
        EXPECT_EQ(fake::writes(Stream::out), 4u);
    });

    EXPECT_EQ(app::run(), 0);
    EXPECT_EQ(fake::writes(Stream::out), 5u);
    EXPECT_EQ(fake::writes(Stream::err), 0u);
    // The last read is the one that finds the end.
    EXPECT_EQ(fake::input_reads(), 4u);
}

TEST_F(SessionTest, ServeTakesOnlyItsOptionAndIsNoRequest) {
    const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]";
    const std::string option = "--forget-after=";
    for (const Words& words :
         {Words{"serve", "12"}, Words{"serve", ""}, Words{"Serve"}, Words{"serve", "serve"},
          Words{"serve", option + "0"}, Words{"serve", option + "000"},
          Words{"serve", option + "86401"}, Words{"serve", option + "99999999999999999999999"},
          Words{"serve", option}, Words{"serve", option + "+5"}, Words{"serve", option + "-5"},
          Words{"serve", option + "5s"}, Words{"serve", option + " 5"},
          Words{"serve", option + "5", option + "5"}, Words{"serve", option + "5", "12"},
          Words{"serve", "--forget-after", "5"}, Words{"serve", "--Forget-after=5"},
          Words{"serve", "-forget-after=5"}, Words{option + "5", "serve"}}) {
        fake::reset_runtime();
        fake::set_arguments(words);
        fake::add_input("sample 7\n");
        EXPECT_EQ(app::run(), 1) << ::testing::PrintToString(words);
        EXPECT_EQ(fake::captured(Stream::err), usage + "\n");
        EXPECT_EQ(fake::captured(Stream::out), "");
        EXPECT_EQ(fake::input_reads(), 0u);
    }
    // Inside a session, a session is no request.
    const Outcome run = session({"serve\nserve 7\n"});
    EXPECT_EQ(run.out, "{\"error\":\"" + usage + "\"}\n{\"error\":\"" + usage + "\"}\n");
}

TEST_F(SessionTest, AnUnwritableOutputEndsTheSessionAtOnce) {
    for (const char* line : {"sample 7\n", "nope\n"}) {
        start_session();
        fake::fail_stream(Stream::out, "No space left on device");
        fake::add_input(std::string(line) + "sample 7\n");
        fake::add_input("sample 7\n");
        EXPECT_EQ(app::run(), 101) << line;
        EXPECT_EQ(fake::captured(Stream::err), "failed printing to stdout: No space left on device\n");
        EXPECT_EQ(fake::writes(Stream::out), 1u);
        EXPECT_EQ(fake::input_reads(), 1u);
    }
}

TEST_F(SessionTest, AnUnreadableInputEndsTheSessionAfterTheLinesBeforeIt) {
    const std::string answered = expected_answer({"sample", "7"}) + expected_answer({"sample", "12"});
    start_session();
    fake::add_input("sample 7\nsample 12\nsamp");
    fake::fail_input("Input/output error");
    EXPECT_EQ(app::run(), 101);
    // The line cut short by the failure is not answered: it may be only the start of one.
    EXPECT_EQ(fake::captured(Stream::out), answered);
    EXPECT_EQ(fake::captured(Stream::err), "failed reading from stdin: Input/output error\n");

    // And when standard error fails too, only the status tells.
    start_session();
    fake::fail_input("Input/output error");
    fake::fail_stream(Stream::err, "Bad file descriptor");
    EXPECT_EQ(app::run(), 101);
}

// The function rows of one answer, by name.
std::uint64_t calls_in(const JsonNode& answer, std::string_view name) {
    const JsonNode* functions = answer.find("diagnostics")->find("functions");
    for (const JsonNode& row : functions->items) {
        if (row.find("name")->text == name) return row.find("calls")->as_unsigned();
    }
    return 0;
}

TEST_F(SessionTest, EachAnswerCarriesTheDiagnosticsOfItsOwnRequest) {
    fake::process(1);
    start_session(true);
    fake::set_clock_step(1000);  // a microsecond a reading
    fake::add_input("sample 1 2 3\n");
    // Between the requests a long wait: a request measured from anywhere before its own line
    // would count it.
    const auto wait = [] { fake::advance_clock(1'000'000'000'000); };
    fake::add_input("sample 1\n", wait);
    fake::add_input("nope\n", wait);
    fake::add_input("sample 4\n", wait);

    ASSERT_EQ(app::run(), 0);
    const std::vector<std::string> lines = lines_of(fake::captured(Stream::out));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], expected_answer({"nope"}));  // a refusal carries no diagnostics
    struct Expected {
        std::size_t line;
        std::uint64_t readings;
    };
    for (const Expected& e : {Expected{0, 3}, Expected{1, 1}, Expected{3, 1}}) {
        SCOPED_TRACE(lines[e.line]);
        const auto answer = testing_support::read_json_line(lines[e.line]);
        ASSERT_TRUE(answer && answer->find("diagnostics"));
        EXPECT_EQ(calls_in(*answer, "main"), 1u);
        EXPECT_EQ(calls_in(*answer, "positive_pids"), 1u);
        EXPECT_EQ(calls_in(*answer, "sample::collect"), 1u);
        EXPECT_EQ(calls_in(*answer, "sample::read_sample"), e.readings);
        EXPECT_EQ(calls_in(*answer, "sample::cpu_percent"), e.readings);
        EXPECT_EQ(calls_in(*answer, "diagnostics::function_rows"), 1u);
        const JsonNode* functions = answer->find("diagnostics")->find("functions");
        EXPECT_EQ(functions->items.front().find("name")->text, "diagnostics::enabled");
        const JsonNode* resources = answer->find("diagnostics")->find("resources");
        EXPECT_LT(resources->find("windowMs")->as_unsigned(), 1000u);
        for (const JsonNode& row : functions->items) {
            EXPECT_LT(row.find("totalMs")->as_double(), 1000.0) << row.find("name")->text;
        }
    }
}

TEST_F(SessionTest, EachInspectRequestInitialisesAndReleasesCom) {
    fake::reset_com(query_of_twelve());
    const std::string found = expected_answer({"inspect", "12"});
    const std::string none = expected_answer({"inspect", "7"});
    ASSERT_THAT(found, ::testing::HasSubstr(R"("commandLine":"app --flag")"));
    fake::ComScript script = query_of_twelve();
    script.next_steps.push_back(fake::no_object(platform::wbem_s_false, 0));
    script.next_steps.push_back(fake::process_object(12, u"app --flag"));
    fake::reset_com(script);

    const Outcome run = session({"inspect 12\ninspect 7\ninspect 12\n"});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, found + none + found);
    // None for the request that found nothing to ask about.
    EXPECT_EQ(fake::com_counters().initializations, 2);
    EXPECT_EQ(fake::com_record().query_texts.size(), 2u);
}

// The row of process `pid` in the answer to a sample request.
const JsonNode& row_of(const JsonNode& answer, std::uint32_t pid) {
    for (const JsonNode& row : answer.find("samples")->items) {
        if (row.find("pid")->as_unsigned() == pid) return row;
    }
    static const JsonNode none;
    ADD_FAILURE() << "no row for " << pid;
    return none;
}

TEST_F(SessionTest, CpuPercentBetweenTheReadingsOfTheSession) {
    fake::Process& reused = fake::process(13);
    start_session();
    fake::add_input("sample 12 13 7\n");
    // Two seconds later process 12 has spent another 600 ms in user and 400 ms in kernel mode,
    // and ID 13 is another process's.
    fake::add_input("sample 12 13\n", [&] {
        fake::advance_clock(2'000'000'000);
        fake::process(12).user_ticks += 6'000'000;
        fake::process(12).kernel_ticks += 4'000'000;
        reused.creation_ticks = {reused.creation_ticks.front() + 1};
    });
    // Half a second later: 12 idle, 13 busy.
    fake::add_input("sample 12 13\n", [&] {
        fake::advance_clock(500'000'000);
        reused.user_ticks += 1'000'000;
    });
    // Straight after, without the clock moving: no rate.
    fake::add_input("sample 12\n");

    ASSERT_EQ(app::run(), 0);
    const std::vector<std::string> lines = lines_of(fake::captured(Stream::out));
    ASSERT_EQ(lines.size(), 4u);
    std::vector<JsonNode> answers;
    for (const std::string& line : lines) {
        auto answer = testing_support::read_json_line(line);
        ASSERT_TRUE(answer) << line;
        answers.push_back(std::move(*answer));
    }
    const auto percent = [&](std::size_t answer, std::uint32_t pid) {
        const JsonNode* value = row_of(answers[answer], pid).find("cpuPercent");
        return value->kind == JsonNode::Kind::null ? "null" : value->text;
    };
    EXPECT_EQ(percent(0, 12), "null");
    EXPECT_EQ(percent(0, 13), "null");
    EXPECT_EQ(percent(0, 7), "null");
    EXPECT_EQ(percent(1, 12), "50.0");
    EXPECT_EQ(percent(1, 13), "null");
    EXPECT_EQ(percent(2, 12), "0.0");
    EXPECT_EQ(percent(2, 13), "20.0");
    EXPECT_EQ(percent(3, 12), "null");
    // A session reads the creation time with the times; the one-shot has one reading, so no
    // rate, and does not.
    EXPECT_EQ(fake::creation_times_asked(), 7u);
    const auto alone = testing_support::read_json_line(one_shot({"sample", "12"}).out);
    ASSERT_TRUE(alone);
    EXPECT_EQ(row_of(*alone, 12).find("cpuPercent")->kind, JsonNode::Kind::null);
    EXPECT_EQ(fake::creation_times_asked(), 7u);
}

// The CPU percentage of process 12 in the second of two requests `apart` nanoseconds apart, in
// a session started with these words; nullopt for null.
std::optional<double> percent_after(const Words& command_line, std::uint64_t apart) {
    fake::reset_runtime();
    fake::set_arguments(command_line);
    fake::add_input("sample 12\n");
    fake::add_input("sample 12\n", [&] {
        fake::advance_clock(apart);
        fake::process(12).user_ticks += apart / 10'000;  // 1 % of the time between
    });
    EXPECT_EQ(app::run(), 0);
    const std::vector<std::string> lines = lines_of(fake::captured(Stream::out));
    EXPECT_EQ(lines.size(), 2u);
    const auto answer = lines.size() == 2 ? testing_support::read_json_line(lines[1]) : std::nullopt;
    if (!answer) return -1.0;
    const JsonNode* value = row_of(*answer, 12).find("cpuPercent");
    if (value->kind == JsonNode::Kind::null) return std::nullopt;
    return value->as_double();
}

TEST_F(SessionTest, AReadingIsKeptForTheTimeTheCommandLineGives) {
    constexpr std::uint64_t second = 1'000'000'000;
    constexpr std::uint64_t milli = 1'000'000;
    const struct {
        Words command_line;
        std::uint64_t apart;
        std::optional<double> percent;
    } cases[] = {
        {{"serve"}, 300 * second, 1.0},  // a monitor reading every five minutes
        {{"serve"}, 600 * second - milli, 1.0},
        {{"serve"}, 600 * second, std::nullopt},
        {{"serve", "--forget-after=1"}, second - milli, 1.0},
        {{"serve", "--forget-after=1"}, second, std::nullopt},
        {{"serve", "--forget-after=60"}, 61 * second, std::nullopt},
        {{"serve", "--forget-after=0060"}, 59 * second, 1.0},
        {{"serve", "--forget-after=86400"}, 86'399 * second, 1.0},
        {{"serve", "--forget-after=86400"}, 86'400 * second, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.command_line) + ", " + std::to_string(c.apart) +
                     " ns apart");
        SetUp();
        const std::optional<double> percent = percent_after(c.command_line, c.apart);
        ASSERT_EQ(percent.has_value(), c.percent.has_value());
        if (percent) {
            EXPECT_NEAR(*percent, *c.percent, 1e-9);
        }
    }
}

// When the open tells that the process the ID named at the last reading has been reaped since,
// the reading is a first one, even with the creation time of the one before (a process that
// took the ID within the same clock tick); the next reading has a rate again.
TEST_F(SessionTest, AProcessReapedSinceTheLastReadingHasNoRate) {
    fake::process(12).earlier_process_gone = {false, true, false};
    start_session();
    const auto later = [] {
        fake::advance_clock(1'000'000'000);
        fake::process(12).user_ticks += 1'000'000;
    };
    fake::add_input("sample 12\n");
    fake::add_input("sample 12\n", later);
    fake::add_input("sample 12\n", later);
    ASSERT_EQ(app::run(), 0);
    const std::vector<std::string> lines = lines_of(fake::captured(Stream::out));
    ASSERT_EQ(lines.size(), 3u);
    std::vector<std::string> percents;
    for (const std::string& line : lines) {
        const auto answer = testing_support::read_json_line(line);
        ASSERT_TRUE(answer) << line;
        const JsonNode* value = row_of(*answer, 12).find("cpuPercent");
        percents.push_back(value->kind == JsonNode::Kind::null ? "null" : value->text);
    }
    EXPECT_EQ(percents, (std::vector<std::string>{"null", "null", "10.0"}));
}

// While no line comes, the session asks the platform to let go of idle processes each time a
// wait for input passes with nothing, until nothing is kept; then it waits in the read alone.
// The answers are those of a session that never waited.
TEST_F(SessionTest, AnIdleSessionLetsGoOfWhatItKeptUntilNothingIsKept) {
    const struct {
        unsigned quiet_waits;
        unsigned kept_for;
        std::size_t forget_calls;
        std::uint64_t waits;
    } cases[] = {
        // Wait, read; wait (quiet), look: kept, twice, then nothing; read; wait, read the end.
        {5, 2, 3, 1 + 3 + 1},
        // Nothing kept after the first look: no more waiting until the next line.
        {5, 0, 1, 1 + 1 + 1},
        // The line comes before the wait ends: nothing to let go of yet.
        {0, 2, 0, 1 + 1 + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.quiet_waits) + " quiet waits, kept for " +
                     std::to_string(c.kept_for) + " looks");
        // The same requests with as much time between them as the quiet waits took.
        SetUp();
        start_session();
        fake::add_input("sample 12\n");
        fake::add_input("sample 12 7\n", [&] {
            fake::advance_clock(c.forget_calls * std::uint64_t{app::RequestLines::wait_milliseconds} *
                                1'000'000);
        });
        ASSERT_EQ(app::run(), 0);
        const std::string straight = fake::captured(Stream::out);

        SetUp();
        start_session();
        fake::keep_between_requests(c.kept_for);
        fake::add_input("sample 12\n");
        fake::add_quiet_waits(c.quiet_waits);
        fake::add_input("sample 12 7\n");
        EXPECT_EQ(app::run(), 0);
        EXPECT_EQ(fake::captured(Stream::out), straight);
        EXPECT_EQ(fake::forget_idle_calls(), c.forget_calls);
        EXPECT_EQ(fake::input_waits(), c.waits);
    }
}

}  // namespace
