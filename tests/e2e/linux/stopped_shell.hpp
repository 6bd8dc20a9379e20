#pragma once
// A /bin/sh that stops itself as soon as it starts, run with arguments the test chooses: its
// command line stays exactly as given for as long as the test keeps it. Killed and reaped at
// the end.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

class StoppedShell {
public:
    // The shell's own words, which the tool shows before the quoted arguments.
    static constexpr std::string_view shown_words = "sh -c 'kill -STOP $$' sh";

    // Started with an empty environment, which leaves the most room for long arguments.
    explicit StoppedShell(const std::vector<std::string>& arguments);
    ~StoppedShell();
    StoppedShell(const StoppedShell&) = delete;
    StoppedShell& operator=(const StoppedShell&) = delete;

    // -1 when it could not be started or did not stop.
    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }

private:
    pid_t pid_ = -1;
};

}  // namespace e2e
