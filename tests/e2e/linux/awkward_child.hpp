#pragma once
// Starts the awkward processes of awkward_process.cpp and talks to them: waits for the word it
// says once it is in its state, and ends it.

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class AwkwardChild {
public:
    // Runs the helper (or, when `program` is given, a copy of it) with these arguments after
    // its own path.
    explicit AwkwardChild(const std::vector<std::string>& arguments, std::string program = {});
    ~AwkwardChild();
    AwkwardChild(const AwkwardChild&) = delete;
    AwkwardChild& operator=(const AwkwardChild&) = delete;

    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }

    // Reads the next line it says; false when it ended or said something else.
    bool says(const std::string& word);
    // Writes one byte to its standard input.
    void nudge();
    // Closes its standard input (the helper then ends), kills it and reaps it.
    void end();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

// The helper program's path.
std::string awkward_process_path();

}  // namespace e2e
