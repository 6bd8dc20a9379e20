// Every figure of both commands against the kernel's own reading of the same processes, taken
// in this test from /proc with nothing of the tool's: processor times, resident and peak
// memory, creation time, executable and command line. The processes have spent known amounts
// of processor time, in one thread or in several, and then wait, so that their figures stand
// still while the tool reads them; the kernel is read before and after each run, and a run
// during which anything moved is made again.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using Kind = JsonNode::Kind;
using e2e::text_of;

// What the kernel shows of one process.
struct KernelReading {
    std::uint64_t user_ticks = 0;    // stat field 14, utime
    std::uint64_t system_ticks = 0;  // stat field 15, stime
    std::uint64_t threads = 0;       // stat field 20
    std::uint64_t start_ticks = 0;   // stat field 22, starttime: clock ticks after boot
    std::uint64_t boot_seconds = 0;  // btime of /proc/stat
    std::uint64_t resident_kb = 0;   // VmRSS of status
    std::uint64_t peak_kb = 0;       // VmHWM of status
    std::string executable;          // the exe link
    std::vector<std::string> arguments;  // cmdline, split at its zero bytes

    bool operator==(const KernelReading&) const = default;
};

std::uint64_t clock_ticks_per_second() {
    return static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
}

// The process's own directory, or, when its main thread has ended, that of a thread that still
// runs: only there does the kernel show its memory, executable and arguments.
std::string shown_through(pid_t pid) {
    const std::string own = "/proc/" + std::to_string(pid);
    if (test_support::state_of(pid) != 'Z') return own;
    std::string live = own;
    if (DIR* tasks = ::opendir((own + "/task").c_str())) {
        while (const dirent* entry = ::readdir(tasks)) {
            const std::string tid = entry->d_name;
            if (tid == "." || tid == ".." || tid == std::to_string(pid)) continue;
            const auto fields = test_support::stat_fields(own + "/task/" + tid + "/stat");
            if (fields.size() > 3 && fields[3] != "Z" && fields[3] != "X") {
                live = own + "/task/" + tid;
                break;
            }
        }
        ::closedir(tasks);
    }
    return live;
}

// The number after `key` on its line of `path`, such as "VmRSS:".
std::optional<std::uint64_t> keyed_number(const std::string& path, const std::string& key) {
    std::ifstream file{path};
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(key, 0) != 0) continue;
        return std::strtoull(line.c_str() + key.size(), nullptr, 10);
    }
    return std::nullopt;
}

std::optional<KernelReading> read_kernel(pid_t pid) {
    const std::string own = "/proc/" + std::to_string(pid);
    const auto stat = test_support::stat_fields(own + "/stat");
    const std::string shown = shown_through(pid);
    const auto resident = keyed_number(shown + "/status", "VmRSS:");
    const auto peak = keyed_number(shown + "/status", "VmHWM:");
    const std::uint64_t boot = test_support::boot_seconds();
    std::error_code failed;
    const auto executable = std::filesystem::read_symlink(shown + "/exe", failed);
    if (stat.size() <= 22 || !resident || !peak || boot == 0 || failed) return std::nullopt;

    KernelReading reading;
    reading.user_ticks = std::stoull(stat[14]);
    reading.system_ticks = std::stoull(stat[15]);
    reading.threads = std::stoull(stat[20]);
    reading.start_ticks = std::stoull(stat[22]);
    reading.boot_seconds = boot;
    reading.resident_kb = *resident;
    reading.peak_kb = *peak;
    reading.executable = executable.string();
    std::ifstream cmdline{shown + "/cmdline"};
    std::string argument;
    while (std::getline(cmdline, argument, '\0')) reading.arguments.push_back(argument);
    return reading;
}

// Milliseconds of processor time from clock ticks, as a double.
double milliseconds(std::uint64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(clock_ticks_per_second());
}

// The processes of the tests, all from one copy of the helper in a folder whose name needs no
// quotes, so that each command line is known to the byte.
class Processes {
public:
    Processes() {
        if (folder_.path().empty()) return;
        program_ = folder_.path() + "/busy";
        std::error_code failed;
        std::filesystem::copy_file(e2e::awkward_process_path(), program_, failed);
        if (failed) return;
        one_thread_ = start({"burn", "1", "two words", "", "it's", "plain-arg"});
        three_threads_ = start({"burn", "3"});
        half_exited_ = start({"half-exited"});
    }
    bool ready() const { return one_thread_ && three_threads_ && half_exited_; }
    const std::string& program() const { return program_; }
    const e2e::AwkwardChild& one_thread() const { return *one_thread_; }
    const e2e::AwkwardChild& three_threads() const { return *three_threads_; }
    const e2e::AwkwardChild& half_exited() const { return *half_exited_; }
    std::vector<pid_t> pids() const {
        return {one_thread_->pid(), three_threads_->pid(), half_exited_->pid()};
    }

private:
    std::unique_ptr<e2e::AwkwardChild> start(const std::vector<std::string>& arguments) {
        auto child = std::make_unique<e2e::AwkwardChild>(arguments, program_);
        if (!child->says("ready")) child.reset();
        return child;
    }

    // Declared first, so removed only once the children that run its program have ended.
    e2e::TemporaryFolder folder_{"zul-figures"};
    std::string program_;
    std::unique_ptr<e2e::AwkwardChild> one_thread_;
    std::unique_ptr<e2e::AwkwardChild> three_threads_;
    std::unique_ptr<e2e::AwkwardChild> half_exited_;
};

// One run of the tool over `pids` and the kernel's reading of each, unchanged from before the
// run to after it.
struct StillRun {
    std::vector<KernelReading> kernel;
    std::vector<JsonNode> rows;
};

std::optional<std::vector<KernelReading>> read_all(const std::vector<pid_t>& pids) {
    std::vector<KernelReading> readings;
    for (const pid_t pid : pids) {
        auto reading = read_kernel(pid);
        if (!reading) return std::nullopt;
        readings.push_back(std::move(*reading));
    }
    return readings;
}

std::optional<StillRun> run_while_still(const char* command, const char* array_key,
                                        const std::vector<pid_t>& pids) {
    std::vector<std::string> arguments{command};
    for (const pid_t pid : pids) arguments.push_back(std::to_string(pid));
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto before = read_all(pids);
        const e2e::RunResult run = e2e::run_tool(arguments);
        const auto after = read_all(pids);
        if (!before || !after) {
            ADD_FAILURE() << "the kernel's reading failed";
            return std::nullopt;
        }
        if (*before != *after) continue;
        EXPECT_EQ(run.out.rfind("{\"" + std::string{array_key} + "\":[", 0), 0u) << run.out;
        std::vector<JsonNode> rows = e2e::rows_of(run);
        if (rows.size() != pids.size()) {
            ADD_FAILURE() << "not " << pids.size() << " rows: " << run.out;
            return std::nullopt;
        }
        return StillRun{*after, std::move(rows)};
    }
    ADD_FAILURE() << "the processes' figures moved during every run";
    return std::nullopt;
}

double number_of(const JsonNode& row, const char* key) {
    const JsonNode* value = row.find(key);
    return value != nullptr && value->kind == Kind::number ? value->as_double() : -1.0;
}

class KernelFigures : public ::testing::Test {
protected:
    static void SetUpTestSuite() { processes_ = new Processes; }
    static void TearDownTestSuite() {
        delete processes_;
        processes_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(processes_->ready()) << "the helper did not start"; }

    static Processes* processes_;
};

Processes* KernelFigures::processes_ = nullptr;

TEST_F(KernelFigures, SampleRowsAreTheKernelsTimesAndMemory) {
    const auto run = run_while_still("sample", "samples", processes_->pids());
    ASSERT_TRUE(run.has_value());
    const char* const names[] = {"one thread", "three threads", "main thread ended"};
    for (std::size_t i = 0; i < run->rows.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const KernelReading& kernel = run->kernel[i];
        const JsonNode& row = run->rows[i];
        EXPECT_EQ(text_of(row, "pid"), std::to_string(processes_->pids()[i]));
        ASSERT_EQ(text_of(row, "status"), "found");
        EXPECT_EQ(number_of(row, "cpuUserMs"), milliseconds(kernel.user_ticks));
        EXPECT_EQ(number_of(row, "cpuSystemMs"), milliseconds(kernel.system_ticks));
        EXPECT_EQ(text_of(row, "rssBytes"), std::to_string(kernel.resident_kb * 1024));
        EXPECT_EQ(text_of(row, "systemPeakBytes"), std::to_string(kernel.peak_kb * 1024));
        ASSERT_NE(row.find("peak"), nullptr);
        EXPECT_EQ(text_of(*row.find("peak"), "rssBytes"), std::to_string(kernel.peak_kb * 1024));
    }
    // So that no swap or omission can pass: in the busy processes the two times differ, in
    // every process the peak lies well above what is resident (the one whose main thread has
    // ended too, whose figures only a thread that runs shows), and the process of three threads
    // counts the time of the two that did their share and ended.
    for (const std::size_t busy : {0u, 1u}) {
        const KernelReading& kernel = run->kernel[busy];
        EXPECT_NE(kernel.user_ticks, kernel.system_ticks);
    }
    for (const KernelReading& kernel : run->kernel) {
        EXPECT_GE(kernel.peak_kb, kernel.resident_kb + 16 * 1024);
    }
    EXPECT_EQ(run->kernel[1].threads, 3u);
    EXPECT_GT(run->kernel[1].user_ticks, 2 * run->kernel[0].user_ticks);
}

TEST_F(KernelFigures, InspectRowsAreTheKernelsStartExecutableAndArguments) {
    const auto run = run_while_still("inspect", "processes", processes_->pids());
    ASSERT_TRUE(run.has_value());
    const std::string& program = processes_->program();
    struct Expected {
        const char* name;
        std::vector<std::string> arguments;
        std::string command_line;  // as the platform notes say it is quoted
    };
    const std::vector<Expected> expected = {
        {"one thread",
         {program, "burn", "1", "two words", "", "it's", "plain-arg"},
         program + " burn 1 'two words' '' 'it'\\''s' plain-arg"},
        {"three threads", {program, "burn", "3"}, program + " burn 3"},
        {"main thread ended", {program, "half-exited"}, program + " half-exited"},
    };
    for (std::size_t i = 0; i < run->rows.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        const KernelReading& kernel = run->kernel[i];
        const JsonNode& row = run->rows[i];
        // What the kernel holds is what the test started.
        ASSERT_EQ(kernel.arguments, expected[i].arguments);
        ASSERT_EQ(kernel.executable, program);

        EXPECT_EQ(text_of(row, "pid"), std::to_string(processes_->pids()[i]));
        ASSERT_EQ(text_of(row, "status"), "found");
        EXPECT_EQ(text_of(row, "createdAt"),
                  std::to_string(test_support::ticks_since_1601(kernel.boot_seconds,
                                                                kernel.start_ticks)));
        EXPECT_EQ(text_of(row, "executablePath"), kernel.executable);
        EXPECT_EQ(text_of(row, "commandLine"), expected[i].command_line);
    }
}

}  // namespace
