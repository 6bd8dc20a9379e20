#pragma once
// Processor time spent on purpose, for the tests that hold a reading of it to the kernel's:
// user time in a loop of arithmetic, kernel time in reads of /dev/zero (the kernel clears the
// buffer, and counts that as its own work). Linux only.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace test_support {

// Spends processor time in the calling thread until the kernel has counted at least `user` of
// it in user mode and `system` in kernel mode. Gives up after 20 s of processor time in all,
// which only a kernel that counts no time would need.
inline void burn_processor_time(std::chrono::milliseconds user, std::chrono::milliseconds system) {
    const auto micros = [](const timeval& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000u +
               static_cast<std::uint64_t>(time.tv_usec);
    };
    const auto user_target = static_cast<std::uint64_t>(user.count()) * 1000u;
    const auto system_target = static_cast<std::uint64_t>(system.count()) * 1000u;
    constexpr std::uint64_t most = 20000000;
    const int zero = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(1 << 16);
    volatile std::uint64_t sink = 0;
    for (;;) {
        rusage used{};
        ::getrusage(RUSAGE_THREAD, &used);
        const std::uint64_t user_spent = micros(used.ru_utime);
        const std::uint64_t system_spent = micros(used.ru_stime);
        if (user_spent >= user_target && system_spent >= system_target) break;
        if (user_spent + system_spent >= most) break;
        if (user_spent < user_target) {
            for (int i = 0; i < 1000000; ++i) sink = sink * 31 + static_cast<std::uint64_t>(i);
        } else if (zero >= 0) {
            for (int i = 0; i < 16; ++i) (void)!::read(zero, buffer.data(), buffer.size());
        }
    }
    if (zero >= 0) ::close(zero);
}

}  // namespace test_support
