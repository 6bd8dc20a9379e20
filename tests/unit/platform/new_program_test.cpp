// The check for a new program where the reader may not trace what the process becomes, both as
// `nobody`: a process that executes a set-user-ID copy of a program (its new memory may not be
// read), and a child that shares its parent's memory and then executes an identical copy of
// the parent's program laid out alike (the parent's memory, which was noted, lives on).

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <optional>
#include <string>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/platform.hpp"
#include "support/linux_tasks.hpp"

namespace {

constexpr uid_t nobody = 65534;

// Changing credentials makes a process undumpable, which would hide it from nobody too: it is
// made dumpable again, as executing a program would.
bool become_nobody() {
    return ::setresgid(nobody, nobody, nobody) == 0 &&
           ::setresuid(nobody, nobody, nobody) == 0 && ::prctl(PR_SET_DUMPABLE, 1) == 0;
}

// A folder under /tmp that everyone may read, removed with what it holds.
class OpenFolder {
public:
    OpenFolder() {
        char name[] = "/tmp/zul-new-program-XXXXXX";
        if (::mkdtemp(name) != nullptr) path_ = name;
        ::chmod(path_.c_str(), 0755);
    }
    ~OpenFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    // A copy of `file` in the folder, with `mode`; empty when it cannot be made.
    std::string copy(const std::string& file, const std::string& name, mode_t mode) const {
        const std::string copied = path_ + "/" + name;
        std::error_code error;
        std::filesystem::copy_file(file, copied, error);
        if (error || ::chmod(copied.c_str(), mode) != 0) return {};
        return copied;
    }

private:
    std::string path_;
};

// What a reader that is `nobody` makes of a process: it identifies it as inspect does, lets it
// execute (`execute`, then `executed` until it says so), and rechecks the program.
enum class Verdict { same_program, new_program, could_not_read };

template <typename Execute, typename Executed>
Verdict read_as_nobody(pid_t pid, Execute execute, Executed executed) {
    int verdict[2];
    if (::pipe(verdict) != 0) return Verdict::could_not_read;
    const pid_t reader = ::fork();
    if (reader == 0) {
        ::close(verdict[0]);
        char answer = 'x';
        if (become_nobody()) {
            platform::Processes processes;
            const platform::Opened opened =
                platform::open_process(processes, static_cast<platform::Pid>(pid));
            platform::FileTime creation, kernel, user;
            if (opened.handle != nullptr && platform::liveness(processes, opened.handle) &&
                platform::process_times(processes, opened.handle, creation, kernel, user)) {
                platform::note_program(processes, opened.handle);
                if (platform::executable_path(processes, opened.handle)) {
                    execute();
                    for (int tries = 0; tries < 5000 && !executed(); ++tries) ::usleep(1000);
                    if (executed()) {
                        answer = platform::runs_noted_program(processes, opened.handle) ? 's'
                                                                                        : 'n';
                    }
                }
                platform::close_process(processes, opened.handle);
            }
        }
        (void)!::write(verdict[1], &answer, 1);
        ::_exit(0);
    }
    ::close(verdict[1]);
    char answer = 'x';
    (void)!::read(verdict[0], &answer, 1);
    ::close(verdict[0]);
    ::waitpid(reader, nullptr, 0);
    if (answer == 's') return Verdict::same_program;
    if (answer == 'n') return Verdict::new_program;
    return Verdict::could_not_read;
}

std::string cmdline_of(pid_t pid) {
    std::ifstream file{"/proc/" + std::to_string(pid) + "/cmdline"};
    return {std::istreambuf_iterator<char>{file}, {}};
}

TEST(NewProgram, ASetUserIdProgramWhoseMemoryMayNotBeReadIsANewProgram) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a set-user-ID copy and to be nobody";
    const OpenFolder folder;
    const std::string copy = folder.copy("/bin/sleep", "sleep-as-root", 04755);
    ASSERT_FALSE(copy.empty());

    // Nobody's shell-like process that executes the copy when a byte arrives; the end of the
    // close-on-exec pipe reads 0 bytes once it has.
    int request[2];
    int executed[2];
    int ready[2];
    ASSERT_EQ(::pipe(request), 0);
    ASSERT_EQ(::pipe2(executed, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t target = ::fork();
    if (target == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(request[1]);
        ::close(executed[0]);
        ::close(ready[0]);
        char byte;
        if (become_nobody() && ::write(ready[1], "r", 1) == 1 &&
            ::read(request[0], &byte, 1) == 1) {
            ::execl(copy.c_str(), "sleep", "30", static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::close(request[0]);
    ::close(executed[1]);
    ::close(ready[1]);
    char became = 0;
    ASSERT_EQ(::read(ready[0], &became, 1), 1) << "it did not become nobody";
    ::close(ready[0]);
    const int done = executed[0];
    const Verdict verdict = read_as_nobody(
        target, [&] { (void)!::write(request[1], "x", 1); },
        [&] {
            pollfd readable{done, POLLIN, 0};
            char ignored;
            return ::poll(&readable, 1, 0) == 1 && ::read(done, &ignored, 1) == 0;
        });
    ::close(request[1]);
    ::close(done);
    test_support::end_child(target);
    EXPECT_EQ(verdict, Verdict::new_program);
}

TEST(NewProgram, AChildSharingItsParentsMemoryThatExecutesACopyIsANewProgram) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to be nobody";
    // Two copies of the helper whose paths are as long as each other: the parent runs one with
    // the other's path for its word, the child the other with the first's, and neither has an
    // environment, so that the two programs' first stacks begin at the same address.
    const OpenFolder folder;
    const std::string original = folder.copy(ZUL_CLONE_VM_EXEC_PATH, "clone-vm-exec-one", 0755);
    const std::string copy = folder.copy(ZUL_CLONE_VM_EXEC_PATH, "clone-vm-exec-two", 0755);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(copy.empty());

    int to_child[2];
    int from_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    ASSERT_EQ(::pipe(from_child), 0);
    const pid_t parent = ::fork();
    if (parent == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(to_child[0], STDIN_FILENO);
        ::dup2(from_child[1], STDOUT_FILENO);
        for (const int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
        // Laid out alike each time: the layout alone cannot tell the copy from the original.
        ::personality(ADDR_NO_RANDOMIZE);
        if (become_nobody()) {
            char* const no_environment[] = {nullptr};
            ::execle(original.c_str(), original.c_str(), copy.c_str(), static_cast<char*>(nullptr),
                     no_environment);
        }
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    std::string line;
    char byte;
    while (::read(from_child[0], &byte, 1) == 1 && byte != '\n') line.push_back(byte);
    ::close(from_child[0]);
    ASSERT_FALSE(line.empty()) << "the child did not start";
    const pid_t child = static_cast<pid_t>(std::stol(line));

    const auto layout = [&] {
        const auto stat = test_support::stat_fields("/proc/" + std::to_string(child) + "/stat");
        return stat.size() > 28 ? stat[26] + " " + stat[27] + " " + stat[28] : std::string{};
    };
    const std::string before = layout();
    const Verdict verdict = read_as_nobody(
        child, [&] { (void)!::write(to_child[1], "x", 1); },
        [&] { return cmdline_of(child) == copy + '\0' + original + '\0'; });
    const std::string after = layout();
    ::close(to_child[1]);
    ::kill(child, SIGKILL);
    test_support::end_child(parent);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(after, before) << "laid out otherwise: the layout alone would tell";
    EXPECT_EQ(verdict, Verdict::new_program);
}

}  // namespace
