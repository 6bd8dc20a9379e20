// A process that executes another program keeps its ID and its start time. One that does so
// between the look at its executable and the look at its command line must not come out as a
// row that joins the path of one program to the command line of the other.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

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

// A process that executes another program every few hundred microseconds, listed before some
// hundreds of stable ones so that much happens between the looks at it: each of its found rows
// names one program by both its path and its command line (or the row says that the process
// changed), and every stable process is found every time.
TEST(ExecutingProcess, FoundRowIsOneProgramNeverAMixOfTwo) {
    constexpr int runs = 20;
    constexpr std::size_t flippers = 3;
    constexpr std::size_t stable = 300;
    const FlipPrograms programs;
    ASSERT_TRUE(programs.made());
    std::vector<std::unique_ptr<e2e::AwkwardChild>> flipping;
    std::vector<std::string> arguments{"inspect"};
    for (std::size_t i = 0; i < flippers; ++i) {
        flipping.push_back(
            std::make_unique<e2e::AwkwardChild>(std::vector<std::string>{"flip", programs.b()},
                                                programs.a()));
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
}

}  // namespace
