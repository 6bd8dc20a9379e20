// What a session keeps of the processes it read, against real processes: the table itself
// (lent and handed back, bounded, forgotten when idle, let go of), then the process calls
// once a session keeps, which read a kept process through what was kept and read an ended one
// as the one-shot would. Descriptors are counted in /proc/self/fd, never timed.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/kept_processes.hpp"
#include "support/descriptor_limit.hpp"
#include "support/linux_tasks.hpp"
#include "unit/platform/opened_process.hpp"

namespace {

using procfs::KeptProcesses;
using test_support::Child;
using test_support::Opened;

platform::Pid pid_of(const Child& child) { return static_cast<platform::Pid>(child.pid()); }

// This process's descriptors that name /proc/<pid> or a file under it.
std::size_t descriptors_of(pid_t pid) { return test_support::descriptors_naming(::getpid(), pid); }

int open_directory(const Child& child) {
    return ::open(("/proc/" + child.pid_text()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The kernel's start of a task, in clock ticks after boot (field 22 of its stat).
std::uint64_t start_ticks(pid_t pid) {
    const auto fields = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return fields.size() > 22 ? std::stoull(fields[22]) : 0;
}

platform::Instant at(std::uint64_t seconds, std::uint32_t nanos = 0) { return {seconds, nanos}; }

// What the table rereads kept files into.
procfs::Reader reader;

// Two handles' identities: any two addresses.
char first_handle;
char second_handle;

TEST(KeptProcesses, LendsWhatItKeptUntilTheProcessIsReaped) {
    Child child;
    KeptProcesses kept{8, 10};
    kept.hand_back(pid_of(child), &first_handle, open_directory(child), at(100));
    EXPECT_EQ(descriptors_of(child.pid()), 3u) << "the directory, stat and status";
    EXPECT_TRUE(kept.keeps(pid_of(child)));

    // A child that has just started may still be running on its way to its wait.
    while (test_support::state_of(child.pid()) != 'S') ::usleep(1000);
    auto lent = kept.lend(reader, pid_of(child), &second_handle);
    ASSERT_TRUE(lent.has_value());
    EXPECT_EQ(lent->stat.start_ticks, start_ticks(child.pid()));
    EXPECT_EQ(lent->stat.state, 'S');
    EXPECT_FALSE(kept.keeps(pid_of(child)));
    EXPECT_FALSE(kept.lend(reader, pid_of(child), &first_handle).has_value()) << "lent already";
    EXPECT_GE(kept.stat_file(pid_of(child), &second_handle), 0);
    EXPECT_GE(kept.status_file(pid_of(child), &second_handle), 0);
    EXPECT_EQ(kept.stat_file(pid_of(child), &first_handle), -1) << "lent to another handle";
    kept.hand_back(pid_of(child), &second_handle, lent->directory, at(101));
    EXPECT_EQ(descriptors_of(child.pid()), 3u);

    // Killed, not yet reaped: still the same process, ended.
    ASSERT_EQ(::kill(child.pid(), SIGKILL), 0);
    while (test_support::state_of(child.pid()) != 'Z') ::usleep(1000);
    lent = kept.lend(reader, pid_of(child), &first_handle);
    ASSERT_TRUE(lent.has_value());
    EXPECT_EQ(lent->stat.state, 'Z');
    kept.hand_back(pid_of(child), &first_handle, lent->directory, at(102));

    // Reaped: nothing reads through what was kept, and it is closed.
    const pid_t pid = child.pid();
    child.end();
    EXPECT_FALSE(kept.lend(reader, static_cast<platform::Pid>(pid), &first_handle).has_value());
    EXPECT_EQ(descriptors_of(pid), 0u);
    EXPECT_EQ(kept.size(), 0u);
}

TEST(KeptProcesses, KeepsAtMostItsShareAndForgetsWhatWasNotReadForAWhile) {
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 5; ++i) children.push_back(std::make_unique<Child>());
    const auto pid = [&](int i) { return pid_of(*children[static_cast<std::size_t>(i)]); };
    const auto held = [&](int i) {
        return descriptors_of(children[static_cast<std::size_t>(i)]->pid());
    };
    KeptProcesses kept{3, 10};

    for (int i = 0; i < 4; ++i) {
        const Child& child = *children[static_cast<std::size_t>(i)];
        kept.hand_back(pid(i), &first_handle, open_directory(child), at(100));
    }
    EXPECT_EQ(kept.size(), 3u);
    EXPECT_EQ(held(3), 0u) << "no room: closed";

    // Read again at 106; at 110.5 what was last handed back at 100 is forgotten, what was read
    // at 106 is not, and another process finds room.
    const auto lent = kept.lend(reader, pid(1), &first_handle);
    ASSERT_TRUE(lent.has_value());
    kept.hand_back(pid(1), &first_handle, lent->directory, at(106));
    kept.forget_idle(at(109, 400'000'000));
    EXPECT_EQ(kept.size(), 3u) << "not yet 10 s";
    kept.forget_idle(at(110, 500'000'000));
    kept.hand_back(pid(4), &first_handle, open_directory(*children[4]), at(110, 500'000'000));
    EXPECT_EQ(kept.size(), 2u);
    const std::vector<std::size_t> expected{0, 3, 0, 0, 3};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(held(i), expected[static_cast<std::size_t>(i)]) << i;

    // A process lent to a handle is never forgotten under it, however long the handle holds it.
    const auto held_long = kept.lend(reader, pid(1), &second_handle);
    ASSERT_TRUE(held_long.has_value());
    kept.forget_idle(at(130));
    EXPECT_GE(kept.status_file(pid(1), &second_handle), 0);
    EXPECT_EQ(held(4), 0u) << "idle since 110.5";
    kept.hand_back(pid(1), &second_handle, held_long->directory, at(131));
    EXPECT_EQ(held(1), 3u);
}

TEST(KeptProcesses, LettingGoClosesEverythingLentOrNot) {
    Child idle_child;
    Child lent_child;
    KeptProcesses kept{8, 10};
    kept.hand_back(pid_of(idle_child), &first_handle, open_directory(idle_child), at(100));
    kept.hand_back(pid_of(lent_child), &first_handle, open_directory(lent_child), at(100));
    const auto lent = kept.lend(reader, pid_of(lent_child), &second_handle);
    ASSERT_TRUE(lent.has_value());

    EXPECT_TRUE(kept.let_go());
    EXPECT_EQ(descriptors_of(idle_child.pid()), 0u);
    EXPECT_EQ(descriptors_of(lent_child.pid()), 1u) << "only the directory its handle holds";
    EXPECT_EQ(kept.stat_file(pid_of(lent_child), &second_handle), -1);

    // Handed back, it is kept again with its files opened anew.
    kept.hand_back(pid_of(lent_child), &second_handle, lent->directory, at(101));
    EXPECT_EQ(descriptors_of(lent_child.pid()), 3u);
    EXPECT_TRUE(kept.let_go());
    EXPECT_FALSE(kept.let_go()) << "nothing left";
    EXPECT_EQ(descriptors_of(lent_child.pid()), 0u);
}

TEST(KeptProcesses, ThreeDescriptorsEachInAQuarterOfTheLimit) {
    const std::vector<std::pair<std::uint64_t, std::size_t>> cases{
        {11, 0}, {12, 1}, {1024, 85}, {20000, 1666}, {1'048'576, KeptProcesses::max_kept}};
    for (const auto& [limit, most] : cases) {
        EXPECT_EQ(procfs::kept_under_limit(limit), most) << limit;
    }
}

TEST(KeptProcesses, HiddenProcessesAreSeenInTheLastProcMount) {
    const std::string plain = "21 27 0:20 / /proc rw,relatime shared:12 - proc proc rw\n";
    const std::string hiding =
        "67 66 0:41 / /proc rw,relatime - proc proc rw,hidepid=invisible,gid=4\n";
    const struct {
        const char* name;
        std::string mountinfo;
        bool hides;
    } cases[] = {
        {"no hidepid", plain, false},
        {"hidepid=invisible", hiding, true},
        {"hidepid=2", "30 1 0:5 / /proc rw - proc proc rw,hidepid=2", true},
        {"hidepid=noaccess", "30 1 0:5 / /proc rw - proc none rw,hidepid=noaccess\n", true},
        {"hidepid=off", "30 1 0:5 / /proc rw - proc proc rw,hidepid=off\n", false},
        {"hidepid=0", "30 1 0:5 / /proc rw - proc proc rw,hidepid=0\n", false},
        {"a hiding mount covered by a plain one", hiding + plain, false},
        {"a plain mount covered by a hiding one", plain + hiding, true},
        {"another file system on /proc", "30 1 0:5 / /proc rw - tmpfs tmpfs rw,hidepid=2\n",
         false},
        {"a mount below /proc",
         plain + "40 21 0:33 / /proc/sys/fs/binfmt_misc rw - proc proc rw,hidepid=2\n", false},
        {"nothing", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(procfs::mounts_hide_processes(c.mountinfo), c.hides) << c.name;
    }
}

// ---- The process calls once a session keeps

// What a sample reads, as the probe asks for it; the liveness first, as the probe does.
struct Reading {
    std::optional<platform::Liveness> liveness;
    std::uint64_t creation = 0;
    platform::MemoryCounters memory;
};

// nullopt when a call failed. Asserts nothing, so that it can run under a descriptor limit
// that leaves the test framework itself no room.
std::optional<Reading> try_read_all(platform::Processes& processes, platform::Handle handle) {
    Reading reading;
    platform::FileTime creation, kernel, user;
    reading.liveness = platform::liveness(processes, handle);
    if (!reading.liveness || !platform::process_times(processes, handle, creation, kernel, user) ||
        !platform::process_memory(processes, handle, reading.memory)) {
        return std::nullopt;
    }
    reading.creation = (std::uint64_t{creation.high} << 32) | creation.low;
    return reading;
}

Reading read_all(platform::Processes& processes, platform::Handle handle) {
    const std::optional<Reading> reading = try_read_all(processes, handle);
    EXPECT_TRUE(reading.has_value());
    return reading.value_or(Reading{});
}

class ProcfsKeeping : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream mounts{"/proc/self/mountinfo"};
        const std::string text{std::istreambuf_iterator<char>{mounts}, {}};
        if (procfs::mounts_hide_processes(text)) GTEST_SKIP() << "/proc hides processes here";
    }

    platform::Processes session{platform::Processes::Keeping::between_requests};
};

TEST_F(ProcfsKeeping, AProcessReadAgainIsReadThroughWhatWasKeptAndAsTheKernelSaysNow) {
    Child child;
    ASSERT_TRUE(test_support::settled(child.pid()));
    Reading first;
    {
        Opened process{pid_of(child), session};
        ASSERT_NE(process.get(), nullptr);
        first = read_all(session, process.get());
    }
    EXPECT_EQ(descriptors_of(child.pid()), 3u);

    Opened again{pid_of(child), session};
    ASSERT_NE(again.get(), nullptr);
    const Reading second = read_all(session, again.get());
    EXPECT_EQ(descriptors_of(child.pid()), 3u) << "nothing opened beyond what was kept";
    EXPECT_EQ(second.liveness, platform::Liveness::running);
    EXPECT_EQ(second.creation, first.creation);
    EXPECT_EQ(second.creation, test_support::ticks_since_1601(test_support::boot_seconds(),
                                                             start_ticks(child.pid())));
    EXPECT_EQ(second.memory.working_set, test_support::status_bytes(child.pid(), "VmRSS:"));
    EXPECT_EQ(second.memory.peak_working_set, test_support::status_bytes(child.pid(), "VmHWM:"));
}

TEST_F(ProcfsKeeping, AKeptProcessThatEndedIsAsTheOneShotWouldFindIt) {
    for (const bool reaped : {false, true}) {
        SCOPED_TRACE(reaped ? "reaped" : "a zombie");
        Child child;
        const pid_t pid = child.pid();
        {
            Opened process{pid_of(child), session};
            ASSERT_NE(process.get(), nullptr);
            read_all(session, process.get());
        }
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        while (test_support::state_of(pid) != 'Z') ::usleep(1000);
        if (reaped) child.end();

        Opened ended{static_cast<platform::Pid>(pid), session};
        if (reaped) {
            EXPECT_EQ(ended.get(), nullptr);
            EXPECT_EQ(ended.failure(), platform::OpenFailure::no_such_process);
            EXPECT_EQ(descriptors_of(pid), 0u);
        } else {
            ASSERT_NE(ended.get(), nullptr);
            EXPECT_EQ(platform::liveness(session, ended.get()), platform::Liveness::exited);
        }
    }
}

TEST_F(ProcfsKeeping, AReadingThatRunsShortLetsGoOfWhatIsKept) {
    std::vector<std::unique_ptr<Child>> kept;
    for (int i = 0; i < 10; ++i) {
        kept.push_back(std::make_unique<Child>());
        Opened process{pid_of(*kept.back()), session};
        ASSERT_NE(process.get(), nullptr);
        read_all(session, process.get());
    }
    // One of them is open again while the reading runs short: its handle keeps working.
    ASSERT_TRUE(test_support::settled(kept.front()->pid()));
    Opened lent{pid_of(*kept.front()), session};
    ASSERT_NE(lent.get(), nullptr);
    Child newcomer;

    test_support::TightDescriptorLimit tight;  // not one descriptor more
    ASSERT_TRUE(tight.applied());
    std::optional<Reading> newcomer_reading;
    platform::OpenFailure open_failure = platform::OpenFailure::other;
    {
        Opened process{pid_of(newcomer), session};
        open_failure = process.failure();
        if (process.get() != nullptr) newcomer_reading = try_read_all(session, process.get());
    }
    const std::optional<Reading> lent_reading = try_read_all(session, lent.get());
    tight.lift();

    EXPECT_EQ(open_failure, platform::OpenFailure::none);
    ASSERT_TRUE(newcomer_reading.has_value());
    EXPECT_EQ(newcomer_reading->liveness, platform::Liveness::running);
    ASSERT_TRUE(lent_reading.has_value());
    EXPECT_EQ(lent_reading->liveness, platform::Liveness::running);
    EXPECT_EQ(lent_reading->memory.working_set,
              test_support::status_bytes(kept.front()->pid(), "VmRSS:"));
    EXPECT_EQ(descriptors_of(kept.front()->pid()), 1u) << "its handle's directory alone";
    for (std::size_t i = 1; i < kept.size(); ++i) EXPECT_EQ(descriptors_of(kept[i]->pid()), 0u);
}

}  // namespace
