// Processes built to be awkward, as real software makes them, for the Linux end-to-end tests.
// Each mode says "ready" on standard output once it is in the state it stands for, then waits
// until its standard input is closed (or it is killed).
//
//   awkward_process retitle TITLE PADDING...
//       rewrites its argument area the way servers set their title: TITLE, the rest of the
//       area zero bytes.
//   awkward_process overflow-title spaces|zeros TITLE
//       writes TITLE, each % in it replaced by its own path, over its arguments and on into its
//       environment, which the kernel lays right after them, as daemons set a title longer
//       than their arguments: then a zero byte, and the rest of both areas spaces but for a
//       last zero byte (as Perl's $0 does) or zero bytes (as nginx does).
//   awkward_process rename
//       moves its argument area, once a millisecond, between its own arguments and the vector
//       "renamed" "by" "prctl" in its memory, with prctl(PR_SET_MM_MAP), as service managers
//       rename the processes they start; says "ready" once it has moved it twice.
//   awkward_process toggle-dumpable
//       makes itself not dumpable and dumpable again, over and over, so that a caller of the
//       same user may and may not trace it by turns.
//   awkward_process restless heap|threads|name|title
//       changes itself over and over, each time in one way that is no new program: grows its
//       heap and gives it back, starts a thread that ends, renames its thread (PR_SET_NAME),
//       or writes "restless: one" or "restless: two" over its argument area, zero-padded (a
//       reader may catch it between the two, with the first bytes of one and the rest of the
//       other).
//   awkward_process flip OTHER
//       waits 5 ms, then executes OTHER with the arguments "flip" and its own path, which
//       does the same with this program, and so on, until a byte arrives on standard input:
//       then it stays the program it is, says "stopped" and waits.
//   awkward_process threads COUNT
//       runs COUNT threads in all, the main thread among them.
//   awkward_process burn COUNT [WORD...]
//       spends at least 200 ms of processor time in user mode and 100 ms in kernel mode in
//       each of COUNT threads, the main thread among them; the others then end, and as many new
//       ones wait in their place (the process's times include those of threads that ended).
//       Then grows its memory by 32 MiB and gives that back, so that its peak stays well above
//       what is resident. The WORDs are ignored: they give the command line what a test needs.
//   awkward_process share PERCENT
//       keeps one processor busy PERCENT per cent of the time in a thread of its own: busy for
//       that share of every 10 ms, asleep for the rest.
//   awkward_process empty-arguments
//       empties its own argument range, so that its cmdline reads empty.
//   awkward_process half-exited [empty-arguments]
//       grows its memory by 32 MiB and gives that back, so that its peak stays well above what
//       is resident, then ends its main thread while a second one runs on; first empties its
//       own argument range when asked.
//   awkward_process end-main-thread-in MICROSECONDS
//       says "ready" at once, and ends its main thread that long after, while a second one
//       runs on.
//   awkward_process zombie-threads COUNT
//       starts COUNT threads, says "threads", and once a byte arrives on standard input (a
//       tracer that never reaps them has seized them) lets them end; then starts one more
//       thread, listed after them, and ends its main thread.
//   awkward_process trace PID
//       seizes every thread of PID but its first with ptrace, never waits for them (so those
//       that end stay zombies), says "seized" and waits until it is killed.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/prctl.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/processor_time.hpp"

namespace {

void say(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}

// Until standard input is closed; then the whole process ends.
[[noreturn]] void wait_for_end() {
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) != 0) {
        if (errno == EINTR) continue;
    }
    std::exit(0);
}

// Ends the calling thread only; the process lives on while another thread runs.
[[noreturn]] void end_this_thread() {
    for (;;) ::syscall(SYS_exit, 0);
}

// Fields of a stat line, numbered as proc(5) numbers them: the state letter as its byte, 0 where
// a field is not a number.
std::vector<std::uint64_t> stat_fields(const std::string& path) {
    std::ifstream stat{path};
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    std::vector<std::uint64_t> field(4, 0);
    if (close == std::string::npos || close + 4 > line.size()) return field;
    field[3] = static_cast<unsigned char>(line[close + 2]);  // the state letter
    std::istringstream rest{line.substr(close + 4)};
    std::string word;
    while (rest >> word) {
        field.push_back(word.find_first_not_of("0123456789") == std::string::npos
                            ? std::stoull(word)
                            : 0);
    }
    return field;
}

char state_of(pid_t pid, pid_t tid) {
    const auto field = stat_fields("/proc/" + std::to_string(pid) + "/task/" +
                                   std::to_string(tid) + "/stat");
    return static_cast<char>(field[3]);
}

// Until the thread is a zombie, or gone (reaped: nobody keeps it).
void wait_until_ended(pid_t tid) {
    for (char state = state_of(::getpid(), tid); state != 'Z' && state != '\0';
         state = state_of(::getpid(), tid)) {
        ::usleep(5000);
    }
}

std::vector<pid_t> threads_of(pid_t pid) {
    std::vector<pid_t> tids;
    DIR* tasks = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (tasks == nullptr) return tids;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            tids.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
        }
    }
    ::closedir(tasks);
    return tids;
}

// Writes `title` over the argument area [start, end), the rest zero bytes.
void write_title(char* start, char* end, const char* title) {
    const std::size_t length = std::min(std::strlen(title), static_cast<std::size_t>(end - start));
    std::memset(start, 0, static_cast<std::size_t>(end - start));
    std::memcpy(start, title, length);
}

int retitle(int argc, char** argv) {
    // The argument strings lie one after the other; the area ends after the last one's zero.
    char* const start = argv[0];
    char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
    const std::string title = argv[2];
    if (title.size() + 2 > static_cast<std::size_t>(end - start)) return 2;
    write_title(start, end, title.c_str());
    say("ready");
    wait_for_end();
}

extern "C" char** environ;

int overflow_title(int argc, char** argv) {
    const bool spaces = std::strcmp(argv[2], "spaces") == 0;
    std::string title;
    for (const char* at = argv[3]; *at != '\0'; ++at) {
        if (*at == '%') {
            title.append(argv[0]);
        } else {
            title.push_back(*at);
        }
    }
    // The environment's strings follow the arguments' in one block, which ends after the last.
    char* const start = argv[0];
    char* end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (*entry == end) end += std::strlen(*entry) + 1;
    }
    if (title.size() + 2 > static_cast<std::size_t>(end - start)) return 2;
    std::memcpy(start, title.data(), title.size());
    start[title.size()] = '\0';
    std::memset(start + title.size() + 1, spaces ? ' ' : '\0',
                static_cast<std::size_t>(end - start) - title.size() - 1);
    end[-1] = '\0';
    say("ready");
    wait_for_end();
}

int flip(char** argv) {
    // Two hundred programs a second still change under a run many times; executing without a
    // pause, three of these would take the whole machine from the tool and the tests.
    ::usleep(5000);
    pollfd input{.fd = STDIN_FILENO, .events = POLLIN, .revents = 0};
    char byte = 0;
    if (::poll(&input, 1, 0) == 1 && ::read(STDIN_FILENO, &byte, 1) == 1) {
        say("stopped");
        wait_for_end();
    }
    char* next[] = {argv[2], argv[1], argv[0], nullptr};
    ::execv(argv[2], next);
    return 127;
}

int threads(int count) {
    for (int i = 1; i < count; ++i) std::thread{[] { ::pause(); }}.detach();
    while (static_cast<int>(threads_of(::getpid()).size()) < count) ::usleep(5000);
    say("ready");
    wait_for_end();
}

// Grows by 32 MiB and gives that back: the peak stays well above what is resident.
bool grow_and_shrink() {
    constexpr std::size_t grown = 32u << 20;
    void* block = ::mmap(nullptr, grown, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                         -1, 0);
    if (block == MAP_FAILED) return false;
    for (std::size_t at = 0; at < grown; at += 4096) static_cast<volatile char*>(block)[at] = 1;
    ::munmap(block, grown);
    return true;
}

// Spends processor time in this thread until the kernel has counted at least 200 ms of it in
// user mode and 100 ms in kernel mode.
void burn_in_this_thread() {
    using std::chrono::milliseconds;
    test_support::burn_processor_time(milliseconds{200}, milliseconds{100});
}

int burn(int count) {
    std::vector<std::thread> burners;
    for (int i = 1; i < count; ++i) burners.emplace_back(burn_in_this_thread);
    burn_in_this_thread();
    for (std::thread& burner : burners) burner.join();
    // The burners have ended; threads that wait take their place, so the count holds.
    for (int i = 1; i < count; ++i) std::thread{[] { ::pause(); }}.detach();
    while (static_cast<int>(threads_of(::getpid()).size()) < count) ::usleep(5000);

    if (!grow_and_shrink()) return 7;
    say("ready");
    wait_for_end();
}

// PR_SET_MM_MAP with the argument area moved to [start, end) and all else as it stands.
bool move_own_arguments(std::uint64_t start, std::uint64_t end) {
    const auto field = stat_fields("/proc/self/stat");
    if (field.size() <= 51) return false;
    prctl_mm_map map{};
    map.start_code = field[26];
    map.end_code = field[27];
    map.start_stack = field[28];
    map.start_data = field[45];
    map.end_data = field[46];
    map.start_brk = field[47];
    map.brk = reinterpret_cast<std::uint64_t>(::sbrk(0));
    map.arg_start = start;
    map.arg_end = end;
    map.env_start = field[50];
    map.env_end = field[51];
    map.exe_fd = static_cast<std::uint32_t>(-1);  // keep the executable
    return ::prctl(PR_SET_MM, PR_SET_MM_MAP, &map, sizeof map, 0) == 0;
}

// The arguments' start moved to their end: cmdline reads empty from then on.
bool empty_own_arguments() {
    const auto field = stat_fields("/proc/self/stat");
    return field.size() > 51 && move_own_arguments(field[49], field[49]);
}

int rename_again_and_again() {
    // In anonymous memory, as the arguments on the stack are: the kernel reads a cmdline from
    // nothing else.
    static constexpr char vector[] = "renamed\0by\0prctl";
    void* const page =
        ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return 3;
    std::memcpy(page, vector, sizeof vector);
    const auto field = stat_fields("/proc/self/stat");
    if (field.size() <= 51) return 3;
    const std::uint64_t own_start = field[48];
    const std::uint64_t own_end = field[49];
    const auto other_start = reinterpret_cast<std::uint64_t>(page);
    const auto other_end = other_start + sizeof vector;
    for (int move = 0; move < 2; ++move) {
        if (!move_own_arguments(move == 0 ? other_start : own_start,
                                move == 0 ? other_end : own_end)) {
            return 3;
        }
    }
    std::thread{[=] {
        for (bool other = true;; other = !other) {
            move_own_arguments(other ? other_start : own_start, other ? other_end : own_end);
            ::usleep(1000);
        }
    }}.detach();
    say("ready");
    wait_for_end();
}

int toggle_dumpable() {
    std::thread{[] {
        for (int dumpable = 0;; dumpable = 1 - dumpable) {
            ::prctl(PR_SET_DUMPABLE, dumpable, 0, 0, 0);
            ::usleep(300);
        }
    }}.detach();
    say("ready");
    wait_for_end();
}

int restless(int argc, char** argv) {
    const std::string kind = argv[2];
    char* const start = argv[0];
    char* const end = argv[argc - 1] + std::strlen(argv[argc - 1]) + 1;
    std::thread{[kind, start, end] {
        for (std::uint64_t turn = 0;; ++turn) {
            if (kind == "heap") {
                constexpr std::intptr_t grown = 1 << 20;
                void* const block = ::sbrk(grown);
                if (block != reinterpret_cast<void*>(-1)) {
                    for (std::intptr_t at = 0; at < grown; at += 4096) {
                        static_cast<volatile char*>(block)[at] = 1;
                    }
                    ::sbrk(-grown);
                }
            } else if (kind == "threads") {
                std::thread{[] {}}.join();
            } else if (kind == "name") {
                ::prctl(PR_SET_NAME, turn % 2 == 0 ? "restless-one" : "restless-two", 0, 0, 0);
            } else if (kind == "title") {
                // The titles have one length: after the first, each is copied over the other,
                // so a reader never finds the area emptied, only (mid-copy) a mix of the two.
                const char* const title = turn % 2 == 0 ? "restless: one" : "restless: two";
                if (turn == 0) {
                    write_title(start, end, title);
                } else {
                    std::memcpy(start, title, std::strlen(title));
                }
            }
            ::usleep(500);
        }
    }}.detach();
    say("ready");
    wait_for_end();
}


// Ends the main thread; a new thread says "ready" once it is a zombie, then waits.
[[noreturn]] void end_main_thread() {
    const pid_t leader = ::getpid();
    std::thread{[leader] {
        wait_until_ended(leader);
        say("ready");
        wait_for_end();
    }}.detach();
    end_this_thread();
}

int empty_arguments() {
    if (!empty_own_arguments()) return 3;
    say("ready");
    wait_for_end();
}

int half_exited(bool empty_arguments) {
    if (empty_arguments && !empty_own_arguments()) return 3;
    if (!grow_and_shrink()) return 7;
    end_main_thread();
}

int end_main_thread_in(long microseconds) {
    std::thread{[] { wait_for_end(); }}.detach();
    say("ready");
    ::usleep(static_cast<useconds_t>(microseconds));
    end_this_thread();
}

int zombie_threads(int count) {
    int release[2];
    if (::pipe(release) != 0) return 4;
    for (int i = 0; i < count; ++i) {
        std::thread{[read_end = release[0]] {
            char byte;
            while (::read(read_end, &byte, 1) < 0 && errno == EINTR) {
            }
            end_this_thread();
        }}.detach();
    }
    while (static_cast<int>(threads_of(::getpid()).size()) < count + 1) ::usleep(5000);
    say("threads");
    char go;
    if (::read(STDIN_FILENO, &go, 1) != 1) return 5;
    ::close(release[1]);  // every waiting thread reads the end of the pipe and ends
    for (const pid_t tid : threads_of(::getpid())) {
        if (tid != ::getpid()) wait_until_ended(tid);
    }
    end_main_thread();
}

int trace(pid_t pid) {
    // A tracer that ignores SIGCHLD would have its tracees reaped at once.
    ::signal(SIGCHLD, SIG_DFL);
    for (const pid_t tid : threads_of(pid)) {
        if (tid != pid && ::ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) return 6;
    }
    say("seized");
    for (;;) ::pause();
}

}  // namespace

// Busy for `percent` of every 10 ms of the monotonic clock, asleep for the rest, in a thread of
// its own, while the main thread waits for the end.
int share(int percent) {
    if (percent < 1 || percent > 100) return 2;
    std::thread{[percent] {
        constexpr std::int64_t period = 10'000'000;
        const auto now = [] {
            timespec time{};
            ::clock_gettime(CLOCK_MONOTONIC, &time);
            return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
        };
        volatile std::uint64_t sink = 0;
        for (std::int64_t start = now();; start += period) {
            while (now() < start + period * percent / 100) sink = sink + 1;
            const std::int64_t rest = start + period - now();
            if (rest > 0) {
                ::usleep(static_cast<useconds_t>(rest / 1000));
            } else {
                start = now() - period;  // fell behind: the share counts from now on
            }
        }
    }}.detach();
    say("ready");
    wait_for_end();
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "retitle" && argc >= 3) return retitle(argc, argv);
    if (mode == "overflow-title" && argc == 4) return overflow_title(argc, argv);
    if (mode == "rename" && argc == 2) return rename_again_and_again();
    if (mode == "toggle-dumpable" && argc == 2) return toggle_dumpable();
    if (mode == "restless" && argc == 3) return restless(argc, argv);
    if (mode == "end-main-thread-in" && argc == 3) return end_main_thread_in(std::atol(argv[2]));
    if (mode == "flip" && argc == 3) return flip(argv);
    if (mode == "threads" && argc == 3) return threads(std::atoi(argv[2]));
    if (mode == "burn" && argc >= 3) return burn(std::atoi(argv[2]));
    if (mode == "share" && argc == 3) return share(std::atoi(argv[2]));
    if (mode == "empty-arguments" && argc == 2) return empty_arguments();
    if (mode == "half-exited") {
        return half_exited(argc == 3 && std::string{argv[2]} == "empty-arguments");
    }
    if (mode == "zombie-threads" && argc == 3) return zombie_threads(std::atoi(argv[2]));
    if (mode == "trace" && argc == 3) return trace(static_cast<pid_t>(std::atoi(argv[2])));
    return 2;
}
