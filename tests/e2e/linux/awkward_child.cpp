#include "e2e/linux/awkward_child.hpp"

namespace e2e {
namespace {

std::vector<std::string> words_of(const std::string& program,
                                  const std::vector<std::string>& arguments) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return words;
}

}  // namespace

std::string awkward_process_path() { return ZUL_AWKWARD_PROCESS_PATH; }

AwkwardChild::AwkwardChild(const std::vector<std::string>& arguments, std::string program)
    : WaitingProgram(program.empty() ? awkward_process_path() : program,
                     words_of(program.empty() ? awkward_process_path() : program, arguments)) {}

}  // namespace e2e
