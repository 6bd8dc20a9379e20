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
              started_.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
              release_.get_future().wait();
          }),
          tid_(started_.get_future().get()) {}
    ~ParkedThread() {
        release_.set_value();
        thread_.join();
    }
    ParkedThread(const ParkedThread&) = delete;
    ParkedThread& operator=(const ParkedThread&) = delete;

    pid_t tid() const { return tid_; }
    std::string tid_text() const { return std::to_string(tid_); }

private:
    std::promise<pid_t> started_;
    std::promise<void> release_;
    std::thread thread_;
    pid_t tid_;
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
