#include "e2e/linux/stopped_shell.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

namespace e2e {

StoppedShell::StoppedShell(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"sh", "-c", "kill -STOP $$", "sh"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    char* no_environment[] = {nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv.data(), no_environment) != 0) {
        return;
    }
    // Stopped means it runs with these arguments, and stays so.
    int status = 0;
    if (::waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return;
    }
    pid_ = child;
}

StoppedShell::~StoppedShell() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace e2e
