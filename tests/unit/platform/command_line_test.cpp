// Linux's command line of an opened process against the real /proc: the text of a live process,
// a kernel thread's empty one, one read through another thread once the first has ended, and
// the answers for processes that end while held and for a tool that runs short.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "platform/command_line.hpp"
#include "platform/platform.hpp"
#include "platform/procfs/proc_text.hpp"
#include "support/descriptor_limit.hpp"
#include "support/linux_tasks.hpp"
#include "support/sanitizers.hpp"
#include "unit/platform/opened_process.hpp"

namespace {

using platform::CommandLine;
using platform::Pid;
using test_support::Opened;
using test_support::processes;

// A /bin/sh that waits on its standard input, with the words chosen by the test; it ends when
// the test closes its input.
class WaitingShell : public test_support::WaitingProgram {
public:
    explicit WaitingShell(std::vector<std::string> words)
        : WaitingProgram("/bin/sh", std::move(words)) {}
    Pid id() const { return static_cast<Pid>(pid()); }
};

std::string own_command_line() {
    std::ifstream cmdline{"/proc/self/cmdline"};
    const std::string raw{std::istreambuf_iterator<char>{cmdline}, {}};
    return procfs::command_line_from_cmdline(raw).value_or("<empty>");
}

CommandLine command_line_of(const Opened& process) {
    return platform::command_line(processes(), process.get());
}

TEST(CommandLine, LiveProcessesAreReadAsAShellWouldTakeThemBack) {
    WaitingShell shell{
        {"/bin/sh", "-c", "read line", "two words", "it's", "caf\xc3\xa9 \xf0\x9f\x98\x80"}};
    ASSERT_GT(shell.pid(), 0);
    const Opened opened{shell.id()};
    ASSERT_NE(opened.get(), nullptr);
    const CommandLine line = command_line_of(opened);
    EXPECT_EQ(line.read, CommandLine::Read::text);
    EXPECT_EQ(line.text,
              "/bin/sh -c 'read line' 'two words' 'it'\\''s' 'caf\xc3\xa9 \xf0\x9f\x98\x80'");

    const Opened self{static_cast<Pid>(::getpid())};
    EXPECT_EQ(command_line_of(self).text, own_command_line());

    // A kernel thread shows none: an empty text, which is its own row's error.
    if (test_support::is_kernel_thread(2)) {
        const Opened kernel_thread{2};
        ASSERT_NE(kernel_thread.get(), nullptr);
        const CommandLine none = command_line_of(kernel_thread);
        EXPECT_EQ(none.read, CommandLine::Read::text);
        EXPECT_EQ(none.text, "");
    }
}

// Read through the directory the handle holds: a process that ended since it was opened is
// gone, whether reaped or not, and one whose first thread ended is read through another thread.
TEST(CommandLine, ProcessesThatEndWhileHeldAreGone) {
    // Forked first: a fork made later would keep the shells' input pipes open.
    test_support::HalfExitedChild leaderless;
    ASSERT_EQ(leaderless.state(), 'Z');
    WaitingShell zombie{{"/bin/sh", "-c", "read line"}};
    WaitingShell reaped{{"/bin/sh", "-c", "read line"}};
    const Opened opened_leaderless{static_cast<Pid>(leaderless.pid())};
    const Opened opened_zombie{zombie.id()};
    const Opened opened_reaped{reaped.id()};
    ASSERT_NE(opened_leaderless.get(), nullptr);
    ASSERT_NE(opened_zombie.get(), nullptr);
    ASSERT_NE(opened_reaped.get(), nullptr);
    zombie.close_input();
    zombie.wait_until_exited();
    reaped.end();

    EXPECT_EQ(command_line_of(opened_zombie).read, CommandLine::Read::gone);
    EXPECT_EQ(command_line_of(opened_reaped).read, CommandLine::Read::gone);
    const CommandLine through_thread = command_line_of(opened_leaderless);
    EXPECT_EQ(through_thread.read, CommandLine::Read::text);
    EXPECT_EQ(through_thread.text, own_command_line());
}

// With no descriptor left the command line is unknown, never "gone" nor empty: the process
// is read again once descriptors are back.
TEST(CommandLine, RunningOutOfDescriptorsIsAShortage) {
    if (test_support::address_sanitizer) {
        // UBSan's type check probes memory through a pipe; with no descriptor left it cannot,
        // and reports every object it checks as invalid.
        GTEST_SKIP() << "needs free descriptors under the sanitizers";
    }
    const Opened self{static_cast<Pid>(::getpid())};
    ASSERT_NE(self.get(), nullptr);
    test_support::TightDescriptorLimit tight;
    ASSERT_TRUE(tight.applied());
    const CommandLine starved = command_line_of(self);
    tight.lift();
    EXPECT_EQ(starved.read, CommandLine::Read::shortage);
    EXPECT_EQ(command_line_of(self).text, own_command_line());
}

}  // namespace
