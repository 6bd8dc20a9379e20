// A process that executes another program keeps its ID and its start time. One that does so
// between the look at its executable and the look at its command line must not come out as a
// row that joins the path of one program to the command line of the other. And only a new
// program is a change: a process that renames itself, toggles whether it may be traced, grows
// its heap, starts threads or ends its main thread is the same process running the same
// program.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using Clock = std::chrono::steady_clock;

// Two copies of the helper, each of which executes the other.
class FlipPrograms {
public:
    FlipPrograms() {
        namespace fs = std::filesystem;
        if (folder_.path().empty()) return;
        std::error_code failed;
        for (const char* name : {"flipA", "flipB"}) {
            const std::string path = folder_.path() + "/" + name;
            fs::copy_file(e2e::awkward_process_path(), path, failed);
            if (failed) return;
            paths_.push_back(path);
        }
    }
    bool made() const { return paths_.size() == 2; }
    const std::string& a() const { return paths_[0]; }
    const std::string& b() const { return paths_[1]; }
    // The command line each one runs with: its own path, "flip", and the other's path.
    std::string command_line_of(const std::string& path) const {
        return path + " flip " + (path == a() ? b() : a());
    }

private:
    e2e::TemporaryFolder folder_{"zul-flip"};
    std::vector<std::string> paths_;
};

// Runs inspect over three processes that execute flipA and flipB by turns, started after the
// `launcher` words, and some hundreds of stable ones.
void check_no_row_mixes_two_programs(const std::vector<std::string>& launcher) {
    constexpr int runs = 10;
    constexpr std::size_t flippers = 3;
    constexpr std::size_t stable = 300;
    const FlipPrograms programs;
    ASSERT_TRUE(programs.made());
    std::vector<std::unique_ptr<test_support::WaitingProgram>> flipping;
    std::vector<std::string> arguments{"inspect"};
    for (std::size_t i = 0; i < flippers; ++i) {
        std::vector<std::string> words = launcher;
        words.insert(words.end(), {programs.a(), "flip", programs.b()});
        flipping.push_back(std::make_unique<test_support::WaitingProgram>(words[0], words));
        ASSERT_GT(flipping.back()->pid(), 0);
        arguments.push_back(flipping.back()->pid_text());
    }
    const e2e::ChildPool pool{stable};
    for (const std::string& pid : e2e::as_arguments(pool.pids())) arguments.push_back(pid);
    ASSERT_EQ(arguments.size(), 1 + flippers + stable);

    std::vector<std::string> mixed;
    std::map<std::string, int> flipper_outcomes;
    std::vector<std::string> stable_misses;
    for (int run = 0; run < runs; ++run) {
        const std::vector<JsonNode> rows = e2e::rows_of(e2e::run_tool(arguments));
        ASSERT_EQ(rows.size(), arguments.size() - 1);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string outcome = e2e::outcome_of(rows[i]);
            if (i >= flippers) {
                if (outcome != "found") stable_misses.push_back(outcome);
                continue;
            }
            ++flipper_outcomes[outcome];
            const std::string path = e2e::text_of(rows[i], "executablePath");
            if (outcome == "found" &&
                e2e::text_of(rows[i], "commandLine") != programs.command_line_of(path)) {
                mixed.push_back(path + " ran " + e2e::text_of(rows[i], "commandLine"));
            }
        }
    }
    EXPECT_TRUE(mixed.empty()) << mixed.size() << " mixed rows, such as: " << mixed.front();
    // Found with its own command line, or changed since its identity was read.
    for (const auto& [outcome, count] : flipper_outcomes) {
        EXPECT_TRUE(outcome == "found" || outcome == "PROCESS_CHANGED") << count << "× " << outcome;
    }
    EXPECT_TRUE(stable_misses.empty()) << testing::PrintToString(stable_misses);

    // Once they stop executing, each is found as the program it runs now, by the kernel's own
    // link to its executable: a process that once executed is no changed process for ever.
    std::vector<std::string> stopped{"inspect"};
    for (const auto& flipper : flipping) {
        flipper->nudge();
        ASSERT_TRUE(flipper->says("stopped"));
        stopped.push_back(flipper->pid_text());
    }
    const std::vector<JsonNode> rows = e2e::rows_of(e2e::run_tool(stopped));
    ASSERT_EQ(rows.size(), flippers);
    for (std::size_t i = 0; i < flippers; ++i) {
        std::error_code unreadable;
        const std::string path =
            std::filesystem::read_symlink("/proc/" + flipping[i]->pid_text() + "/exe", unreadable);
        ASSERT_FALSE(unreadable) << unreadable.message();
        EXPECT_EQ(e2e::outcome_of(rows[i]), "found");
        EXPECT_EQ(e2e::text_of(rows[i], "executablePath"), path);
        EXPECT_EQ(e2e::text_of(rows[i], "commandLine"), programs.command_line_of(path));
    }
}

// A process that executes another program every few milliseconds, listed before some hundreds
// of stable ones so that much happens between the looks at it: each of its found rows names one
// program by both its path and its command line (or the row says that the process changed),
// and every stable process is found every time. With address-space randomisation off
// (setarch -R) the two programs, copies of one static program, lie at the same addresses with
// their stacks at the same place: only the executable's identity tells them apart.
TEST(ExecutingProcess, FoundRowIsOneProgramNeverAMixOfTwo) {
    for (const bool randomised : {true, false}) {
        SCOPED_TRACE(randomised ? "addresses randomised" : "setarch -R");
        const std::vector<std::string> launcher =
            randomised ? std::vector<std::string>{}
                       : std::vector<std::string>{"/usr/bin/setarch", "-R"};
        check_no_row_mixes_two_programs(launcher);
    }
}

// What the title helper's argument area holds while one of its two titles is copied over the
// other: each byte from the one or the other, the length theirs.
bool is_title_mid_copy(const std::string& line) {
    const std::string one = "restless: one";
    const std::string two = "restless: two";
    if (line.size() != one.size()) return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != one[i] && line[i] != two[i]) return false;
    }
    return true;
}

// Each kind of change that is no new program, in a process of its own that makes it over and
// over (a few times a millisecond), and a process that ends its main thread at a different
// moment of each run: every row is found, with one of the command lines the process has.
TEST(ExecutingProcess, ChangesThatAreNoNewProgramChangeNoRow) {
    const std::string helper = e2e::awkward_process_path();
    struct Restless {
        std::vector<std::string> arguments;
        std::set<std::string> command_lines;
    };
    const std::vector<Restless> kinds = {
        {{"rename"}, {helper + " rename", "renamed by prctl"}},
        {{"restless", "heap"}, {helper + " restless heap"}},
        {{"restless", "threads"}, {helper + " restless threads"}},
        {{"restless", "name"}, {helper + " restless name"}},
        {{"restless", "title"}, {"restless: one", "restless: two"}},
    };
    std::vector<std::unique_ptr<e2e::AwkwardChild>> children;
    std::vector<std::string> arguments{"inspect"};
    for (const Restless& kind : kinds) {
        children.push_back(std::make_unique<e2e::AwkwardChild>(kind.arguments));
        ASSERT_TRUE(children.back()->says("ready")) << kind.arguments[0];
        arguments.push_back(children.back()->pid_text());
    }
    // How long one run takes here, so that a main thread can end anywhere inside one.
    std::vector<long> durations;
    for (int i = 0; i < 5; ++i) {
        const auto before = Clock::now();
        e2e::run_tool(arguments);
        durations.push_back(static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before)
                .count()));
    }
    std::sort(durations.begin(), durations.end());
    const long run_micros = durations[durations.size() / 2];

    std::minstd_rand random{20261211};
    std::map<std::string, int> wrong;
    int runs = 0;
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (runs < 20 || Clock::now() < end) {
        ++runs;
        const std::string delay = std::to_string(random() % (2 * run_micros + 1));
        e2e::AwkwardChild ending{{"end-main-thread-in", delay}};
        ASSERT_TRUE(ending.says("ready"));
        std::vector<std::string> with_ending = arguments;
        with_ending.push_back(ending.pid_text());
        const std::vector<JsonNode> rows = e2e::rows_of(e2e::run_tool(with_ending));
        ASSERT_EQ(rows.size(), kinds.size() + 1);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::set<std::string> command_lines =
                i < kinds.size() ? kinds[i].command_lines
                                 : std::set<std::string>{helper + " end-main-thread-in " + delay};
            std::string name = "main thread ends";
            if (i < kinds.size()) {
                name.clear();
                for (const std::string& word : kinds[i].arguments) name += word + " ";
            }
            const std::string outcome = e2e::outcome_of(rows[i]);
            if (outcome != "found") {
                ++wrong[name + ": " + outcome];
            } else if (const std::string line = e2e::text_of(rows[i], "commandLine");
                       command_lines.count(line) == 0 &&
                       !(command_lines.count("restless: one") != 0 && is_title_mid_copy(line))) {
                ++wrong[name + ": ran " + e2e::text_of(rows[i], "commandLine")];
            }
        }
    }
    EXPECT_TRUE(wrong.empty()) << "in " << runs << " runs: " << testing::PrintToString(wrong);
}

// A process that may and may not be traced by turns, looked at by a caller of its own user
// (nobody): what the caller may not see is unknown, never a sign of a new program. Its row is
// found, or "PROCESS_PATH" when its executable was hidden at the first look.
TEST(ExecutingProcess, ADumpableToggleIsNoNewProgram) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may run the tool and the helper as nobody";
    const e2e::ToolCopy tool;
    const e2e::ToolCopy helper{e2e::awkward_process_path()};
    ASSERT_FALSE(tool.path().empty());
    ASSERT_FALSE(helper.path().empty());
    std::vector<std::string> words = e2e::as_nobody;
    words.insert(words.end(), {helper.path(), "toggle-dumpable"});
    test_support::WaitingProgram toggling{words[0], words};
    ASSERT_TRUE(toggling.says("ready"));

    e2e::RunOptions options;
    options.launcher = e2e::as_nobody;
    options.program = tool.path();
    std::map<std::string, int> outcomes;
    int runs = 0;
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (runs < 30 || Clock::now() < end) {
        ++runs;
        const std::vector<JsonNode> rows =
            e2e::rows_of(e2e::run_tool({"inspect", toggling.pid_text()}, options));
        ASSERT_EQ(rows.size(), 1u);
        const std::string outcome = e2e::outcome_of(rows[0]);
        if (outcome == "found" &&
            e2e::text_of(rows[0], "commandLine") != helper.path() + " toggle-dumpable") {
            ++outcomes["found, running " + e2e::text_of(rows[0], "commandLine")];
        } else {
            ++outcomes[outcome];
        }
    }
    EXPECT_GT(outcomes["found"], 0) << testing::PrintToString(outcomes);
    for (const auto& [outcome, count] : outcomes) {
        EXPECT_TRUE(outcome == "found" || outcome == "PROCESS_PATH")
            << count << " of " << runs << " runs: " << outcome;
    }
}

}  // namespace
