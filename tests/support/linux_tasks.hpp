// Tasks of this test program that the Linux tests look at: a second thread (its ID names a
// thread, not a process) and a child whose main thread has ended while another runs on.
#pragma once

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace test_support {

// A second thread of this test program, parked until the object is destroyed.
class ParkedThread {
public:
    ParkedThread()
        : thread_([this] {
              tid_.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
              release_.get_future().wait();
          }) {}
    ~ParkedThread() {
        release_.set_value();
        thread_.join();
    }
    ParkedThread(const ParkedThread&) = delete;
    ParkedThread& operator=(const ParkedThread&) = delete;

    pid_t tid() { return tid_future_.valid() ? (tid_value_ = tid_future_.get()) : tid_value_; }
    std::string tid_text() { return std::to_string(tid()); }

private:
    std::promise<pid_t> tid_;
    std::future<pid_t> tid_future_ = tid_.get_future();
    pid_t tid_value_ = -1;
    std::promise<void> release_;
    std::thread thread_;
};

// A child whose main thread has ended while a second thread runs on: the leader shows as a
// zombie, and its own directory has no executable and no command line any more.
class HalfExitedChild {
public:
    HalfExitedChild() {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::thread{[] { ::pause(); }}.detach();
            ::syscall(SYS_exit, 0);  // ends this thread only
        }
        for (int tries = 0; tries < 5000 && state() != 'Z'; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~HalfExitedChild() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    HalfExitedChild(const HalfExitedChild&) = delete;
    HalfExitedChild& operator=(const HalfExitedChild&) = delete;

    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }
    // The leader's state letter in stat, '?' when it cannot be read.
    char state() const {
        std::ifstream stat{"/proc/" + std::to_string(pid_) + "/stat"};
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
    }

private:
    pid_t pid_ = -1;
};

}  // namespace test_support
