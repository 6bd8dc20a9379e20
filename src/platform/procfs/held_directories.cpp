#include "platform/procfs/held_directories.hpp"

#include <new>
#include <unordered_map>

namespace procfs {
namespace {

std::unordered_map<platform::Pid, int>& held() {
    static std::unordered_map<platform::Pid, int> directories;
    return directories;
}

}  // namespace

void hold_directory(platform::Pid pid, int directory) {
    try {
        held()[pid] = directory;
    } catch (const std::bad_alloc&) {
        // Only a shortcut is lost: the query then finds the process by its path.
    }
}

void release_directory(platform::Pid pid, int directory) {
    const auto found = held().find(pid);
    if (found != held().end() && found->second == directory) {
        held().erase(found);
    }
}

int held_directory(platform::Pid pid) {
    const auto found = held().find(pid);
    return found == held().end() ? -1 : found->second;
}

}  // namespace procfs
