// `inspect` against real Windows processes.
//
// Wine's WMI gives a command line only for the process that runs the query, so a found row
// needs the tool to inspect itself: the test predicts the tool's PID from Wine's sequential
// PIDs and keeps the run where the prediction held.
//
// Process and thread IDs share one allocator in Wine. It hands out new IDs in sequence while
// its table has room; once the table is full it reuses freed IDs in the order they were freed,
// which after a few hundred runs of a kept session makes the next ID unpredictable. Parking
// idle threads until their IDs come out in sequence again makes the table grow, and with it
// the sequence return.

#include <gtest/gtest.h>

#include "launch.hpp"
#include "tool_output.hpp"

namespace e2e {
namespace {

constexpr DWORD unused_pid = 0x7FFFFFF0u;
// Under Wine, a single-threaded process takes two IDs (process and thread), four apart each.
constexpr DWORD pid_step = 8;

std::wstring decimal(DWORD pid) { return std::to_wstring(pid); }

// The tool copied into a folder whose name needs more than ASCII (and a blank, so the command
// line quotes the program).
class CopiedTool {
public:
    CopiedTool() {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"zul \u00E9\u00E8\u00FC \u4E2D\u6587 \U0001F600-" +
                  decimal(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\zul-process.exe";
        copied_ = CopyFileW(tool_path().c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~CopiedTool() {
        DeleteFileW(path_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    CopiedTool(const CopiedTool&) = delete;
    CopiedTool& operator=(const CopiedTool&) = delete;

    bool copied() const { return copied_; }
    const std::wstring& path() const { return path_; }

private:
    std::wstring folder_;
    std::wstring path_;
    bool copied_ = false;
};

// Idle threads of the test that hold IDs until the object goes.
class ParkedThreads {
public:
    ParkedThreads() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~ParkedThreads() {
        SetEvent(release_.get());
        for (const auto& thread : threads_) {
            WaitForSingleObject(thread.get(), e2e::hang_guard_ms);
        }
    }
    ParkedThreads(const ParkedThreads&) = delete;
    ParkedThreads& operator=(const ParkedThreads&) = delete;

    // Parks more threads until eight IDs in a row come out four apart; false if that never
    // happens. Threads stay parked, so freed IDs are used up rather than handed out again.
    bool until_ids_are_sequential() {
        DWORD previous = 0;
        int in_sequence = 0;
        while (threads_.size() < 6000 && in_sequence < 8) {
            DWORD id = 0;
            HANDLE thread = CreateThread(nullptr, 64 * 1024, wait_for_release, release_.get(),
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
            if (thread == nullptr) {
                return false;
            }
            threads_.emplace_back(thread);
            in_sequence = id == previous + 4 ? in_sequence + 1 : 0;
            previous = id;
        }
        return in_sequence >= 8;
    }

private:
    static DWORD WINAPI wait_for_release(void* event) {
        WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
        return 0;
    }

    OwnedHandle release_;
    std::vector<OwnedHandle> threads_;
};

// Runs `inspect` on the PID the tool itself is about to get; nullopt when no attempt hit it.
std::optional<ToolRun> inspect_own_pid(const std::wstring& program,
                                       std::wstring& command_line_used, std::string& misses) {
    ParkedThreads parked;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!parked.until_ids_are_sequential()) {
            misses += " (IDs never came in sequence)";
            continue;
        }
        DWORD predicted = 0;
        {
            auto throwaway = start_probe_target({L"exit", L"0"});
            if (!throwaway) {
                return std::nullopt;
            }
            predicted = throwaway->pid() + pid_step;
        }
        command_line_used = command_line(program, {L"inspect", decimal(predicted)});
        ToolRun run = run_command_line(program, command_line_used);
        if (run.pid == predicted) {
            return run;
        }
        misses.append(" ").append(std::to_string(predicted)).append("->");
        misses.append(std::to_string(run.pid));
    }
    return std::nullopt;
}

TEST(WindowsInspect, ToolInspectingItselfIsFoundWithItsIdentity) {
    if (!under_wine()) {
        GTEST_SKIP() << "relies on Wine handing out process IDs in sequence";
    }
    CopiedTool tool;
    ASSERT_TRUE(tool.copied());
    std::wstring line;
    std::string misses;
    const auto run = inspect_own_pid(tool.path(), line, misses);
    ASSERT_TRUE(run) << "the tool never got the predicted process ID:" << misses;

    ASSERT_EQ(run->exit_code, 0u) << run->err;
    EXPECT_EQ(run->err, "");
    EXPECT_EQ(run->out, R"({"processes":[)" +
                            found_inspect_row(run->pid, narrow(line), run->created_at,
                                              narrow(tool.path())) +
                            "]}\n");
}

TEST(WindowsInspect, MissingDeniedExitedAndUnqueryableProcessesGetTheirRows) {
    auto denied = start_probe_target({L"protect"});
    ASSERT_TRUE(denied);
    if (!denied_to_us(*denied)) {
        GTEST_SKIP() << "this account opens even a process that denies everyone";
    }
    auto exited = start_probe_target({L"exit", L"0"});
    ASSERT_TRUE(exited);
    ASSERT_TRUE(exited->wait_for_end());
    auto live = start_probe_target({L"wait"});
    ASSERT_TRUE(live);

    // The denied process's aliases are refused as it is, yet none of them is a process.
    const DWORD base = denied->pid();
    const ToolRun run = run_tool({L"inspect", decimal(unused_pid), decimal(base),
                                  decimal(base + 1), decimal(base + 2), decimal(base + 3),
                                  decimal(exited->pid()), decimal(live->pid())});

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string rows = not_found_inspect_row(unused_pid) + "," +
                             error_inspect_row(base, "OPEN_PROCESS") + "," +
                             not_found_inspect_row(base + 1) + "," +
                             not_found_inspect_row(base + 2) + "," +
                             not_found_inspect_row(base + 3) + "," +
                             not_found_inspect_row(exited->pid()) + ",";
    ASSERT_TRUE(run.out.starts_with(R"({"processes":[)" + rows)) << run.out;
    if (under_wine()) {
        // Wine's WMI has a null command line for every process but the one asking.
        EXPECT_EQ(run.out, R"({"processes":[)" + rows +
                               error_inspect_row(live->pid(), "WMI_COMMAND_LINE") + "]}\n");
    } else {
        EXPECT_NE(run.out.find(R"("pid":)" + std::to_string(live->pid()) + R"(,"status":"found"})"),
                  std::string::npos)
            << run.out;
    }
}

// Wine takes DLL overrides from the environment the whole Wine run started with, not from the
// environment a Windows parent hands its child, so ctest runs this test only as an entry of its
// own, with WINEDLLOVERRIDES holding wbemprox=d; the ordinary run leaves it out. On Windows
// itself it skips.
TEST(WindowsInspect, WithoutTheWmiProviderEveryLiveRowIsALocatorError) {
    wchar_t overrides[4096] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
    if (!under_wine() || std::wstring(overrides).find(L"wbemprox=d") == std::wstring::npos) {
        GTEST_SKIP() << "needs Wine started with WINEDLLOVERRIDES holding wbemprox=d";
    }
    auto first = start_probe_target({L"wait"});
    ASSERT_TRUE(first);
    auto second = start_probe_target({L"wait"});
    ASSERT_TRUE(second);

    const ToolRun run = run_tool(
        {L"inspect", decimal(first->pid()), decimal(unused_pid), decimal(second->pid())});

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.out, R"({"processes":[)" + error_inspect_row(first->pid(), "WMI_LOCATOR") + "," +
                           not_found_inspect_row(unused_pid) + "," +
                           error_inspect_row(second->pid(), "WMI_LOCATOR") + "]}\n");
}

}  // namespace
}  // namespace e2e
