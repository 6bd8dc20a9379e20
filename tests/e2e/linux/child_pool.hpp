#pragma once
// Live child processes for the scale, churn and valgrind tests: forked copies of the test that
// wait until they are killed, optionally killed and replaced all the time by a second thread.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class ChildPool {
public:
    explicit ChildPool(std::size_t count);
    ~ChildPool();
    ChildPool(const ChildPool&) = delete;
    ChildPool& operator=(const ChildPool&) = delete;

    // The children alive right now, in pool order.
    std::vector<pid_t> pids() const;

    // Starts killing one child after another and starting a new one in its place. Half of the
    // killed children are reaped at once; the others stay zombies until the next kill. The
    // replacements die with the churning thread, so stop only at the end of a test.
    void start_churn();
    void stop_churn();

    // Forgets the PIDs churned so far; from now on every PID that is killed, reaped or handed
    // to a new child is remembered.
    void mark();
    // The PIDs churned since the last mark.
    std::set<pid_t> churned_since_mark() const;
    // How many children have been replaced so far.
    std::size_t replaced() const { return replaced_.load(); }

private:
    void churn();
    void note(pid_t pid);

    mutable std::mutex mutex_;
    std::vector<pid_t> children_;
    std::vector<pid_t> zombies_;
    std::set<pid_t> churned_;
    std::atomic<bool> churning_{false};
    std::atomic<std::size_t> replaced_{0};
    std::thread churner_;
};

std::vector<std::string> as_arguments(const std::vector<pid_t>& pids);

}  // namespace e2e
