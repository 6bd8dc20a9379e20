// The table of held /proc directories against a plain map: holds, releases (only of the
// directory still held) and look-ups in a long mixed run, through growth and wrap-around.

#include "platform/procfs/held_directories.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>

namespace {

TEST(HeldDirectories, AgreeWithAMapThroughGrowthAndRemoval) {
    std::map<platform::Pid, procfs::HeldDirectory*> expected;
    procfs::HeldDirectory directories[4];
    std::mt19937 random(7);
    // Few distinct IDs, dense and spread, so that probe runs collide and wrap.
    std::uniform_int_distribution<platform::Pid> pick(1, 3000);
    for (int step = 0; step < 20000; ++step) {
        const platform::Pid pid = (step % 3 == 0) ? pick(random) * 65537u : pick(random);
        procfs::HeldDirectory* const directory = &directories[random() % 4];
        switch (random() % 3) {
            case 0:
                procfs::hold_directory(pid, directory);
                expected[pid] = directory;
                break;
            default: {
                procfs::release_directory(pid, directory);
                const auto found = expected.find(pid);
                if (found != expected.end() && found->second == directory) expected.erase(found);
                break;
            }
        }
        const platform::Pid probe = pick(random);
        const auto found = expected.find(probe);
        ASSERT_EQ(procfs::held_directory(probe), found == expected.end() ? nullptr : found->second)
            << "step " << step << ", ID " << probe;
    }
    for (const auto& [pid, directory] : expected) {
        ASSERT_EQ(procfs::held_directory(pid), directory);
        procfs::release_directory(pid, directory);
        ASSERT_EQ(procfs::held_directory(pid), nullptr);
    }
}

}  // namespace
