#include "platform/procfs/startup_arguments.hpp"

#include "platform/platform.hpp"
#include "text/utf.hpp"

namespace procfs {
namespace {

int argument_count = 0;
char** argument_values = nullptr;

}  // namespace

void remember_arguments(int argc, char** argv) {
    argument_count = argc;
    argument_values = argv;
}

}  // namespace procfs

namespace platform {

std::vector<std::string> arguments() {
    std::vector<std::string> list;
    for (int index = 1; index < procfs::argument_count; ++index) {
        list.push_back(text::sanitize_utf8(procfs::argument_values[index]));
    }
    return list;
}

}  // namespace platform
