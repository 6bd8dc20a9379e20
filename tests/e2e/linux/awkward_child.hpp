#pragma once
// Starts the awkward processes of awkward_process.cpp and talks to them: waits for the word it
// says once it is in its state, and ends it.

#include <string>
#include <vector>

#include "support/linux_tasks.hpp"

namespace e2e {

class AwkwardChild : public test_support::WaitingProgram {
public:
    // Runs the helper (or, when `program` is given, a copy of it) with these arguments after
    // its own path.
    explicit AwkwardChild(const std::vector<std::string>& arguments, std::string program = {});
};

// The helper program's path.
std::string awkward_process_path();

}  // namespace e2e
