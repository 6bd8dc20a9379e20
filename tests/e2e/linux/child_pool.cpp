#include "e2e/linux/child_pool.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "support/linux_tasks.hpp"

namespace e2e {

using test_support::end_child;
using test_support::fork_waiting_child;

std::vector<std::string> as_arguments(const std::vector<pid_t>& pids) {
    std::vector<std::string> words;
    words.reserve(pids.size());
    for (const pid_t pid : pids) words.push_back(std::to_string(pid));
    return words;
}

ChildPool::ChildPool(std::size_t count) {
    children_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const pid_t pid = fork_waiting_child();
        if (pid > 0) children_.push_back(pid);
    }
}

ChildPool::~ChildPool() {
    stop_churn();
    for (const pid_t pid : children_) end_child(pid);
    for (const pid_t pid : zombies_) end_child(pid);
}

std::vector<pid_t> ChildPool::pids() const {
    const std::lock_guard lock{mutex_};
    std::vector<pid_t> alive;
    for (const pid_t pid : children_) {
        if (pid > 0) alive.push_back(pid);
    }
    return alive;
}

void ChildPool::start_churn() {
    if (churning_.exchange(true)) return;
    churner_ = std::thread{[this] { churn(); }};
}

void ChildPool::stop_churn() {
    if (!churning_.exchange(false)) return;
    churner_.join();
}

void ChildPool::mark() {
    const std::lock_guard lock{mutex_};
    churned_.clear();
}

std::set<pid_t> ChildPool::churned_since_mark() const {
    const std::lock_guard lock{mutex_};
    return churned_;
}

void ChildPool::note(pid_t pid) {
    const std::lock_guard lock{mutex_};
    churned_.insert(pid);
}

void ChildPool::churn() {
    std::minstd_rand random{12345};
    if (children_.empty()) return;
    while (churning_.load()) {
        std::size_t index = 0;
        pid_t victim = 0;
        {
            const std::lock_guard lock{mutex_};
            index = random() % children_.size();
            victim = children_[index];
            // The slot stays empty until the replacement runs: pids() never lists the victim.
            children_[index] = -1;
            churned_.insert(victim);
        }
        std::vector<pid_t> to_reap;
        {
            const std::lock_guard lock{mutex_};
            to_reap.swap(zombies_);
        }
        // A slot whose last fork failed holds -1, and kill(-1) would reach every process.
        if (victim > 0) {
            ::kill(victim, SIGKILL);
            const std::lock_guard lock{mutex_};
            (random() % 2 == 0 ? zombies_ : to_reap).push_back(victim);
        }
        for (const pid_t pid : to_reap) {
            note(pid);
            ::waitpid(pid, nullptr, 0);
        }
        const pid_t replacement = fork_waiting_child();
        {
            const std::lock_guard lock{mutex_};
            churned_.insert(replacement);
            children_[index] = replacement;
        }
        ++replaced_;
        // Hundreds of replacements a second, and a core left for the runs being churned.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace e2e
