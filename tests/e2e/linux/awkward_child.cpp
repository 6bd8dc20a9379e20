#include "e2e/linux/awkward_child.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {

std::string awkward_process_path() { return ZUL_AWKWARD_PROCESS_PATH; }

AwkwardChild::AwkwardChild(const std::vector<std::string>& arguments, std::string program) {
    if (program.empty()) program = awkward_process_path();
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
}

AwkwardChild::~AwkwardChild() {
    end();
    if (output_ >= 0) ::close(output_);
}

bool AwkwardChild::says(const std::string& word) {
    std::string line;
    char byte = 0;
    while (::read(output_, &byte, 1) == 1 && byte != '\n') line.push_back(byte);
    return byte == '\n' && line == word;
}

void AwkwardChild::nudge() {
    const char byte = 1;
    (void)!::write(input_, &byte, 1);
}

void AwkwardChild::end() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace e2e
