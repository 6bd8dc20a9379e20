// The held directories by PID in one flat table: a process handle puts its directory in when
// it opens and takes it out when it closes; the command-line query asks in between.

#include "platform/procfs/held_directories.hpp"

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace procfs {
namespace {

// One flat table, open addressing with linear probing, at most half full; PID 0 (never a
// process) marks a free slot. A node-based map allocated, and missed the cache, once per
// process on the way in and again on the way out.
class HeldTable {
public:
    void insert(platform::Pid pid, HeldDirectory* held) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::size_t at = home(pid);
        while (slots_[at].pid != 0 && slots_[at].pid != pid) at = next(at);
        if (slots_[at].pid == 0) ++count_;
        slots_[at] = {pid, held};
    }

    void erase_if_held(platform::Pid pid, const HeldDirectory* held) {
        const std::size_t found = find(pid);
        if (found == npos || slots_[found].held != held) return;
        // Backward-shift deletion: later entries of the probe run move up, so no tombstones.
        std::size_t hole = found;
        for (std::size_t at = next(hole); slots_[at].pid != 0; at = next(at)) {
            const std::size_t wanted = home(slots_[at].pid);
            // Moves up when its home is not in the cyclic range (hole, at].
            const bool stays = hole < at ? (wanted > hole && wanted <= at)
                                         : (wanted > hole || wanted <= at);
            if (!stays) {
                slots_[hole] = slots_[at];
                hole = at;
            }
        }
        slots_[hole] = Slot{};
        --count_;
    }

    HeldDirectory* directory_of(platform::Pid pid) const {
        const std::size_t found = find(pid);
        return found == npos ? nullptr : slots_[found].held;
    }

private:
    struct Slot {
        platform::Pid pid = 0;
        HeldDirectory* held = nullptr;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    std::size_t home(platform::Pid pid) const {
        // Fibonacci hashing spreads runs of consecutive IDs over the table.
        return static_cast<std::size_t>((pid * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
    }
    std::size_t next(std::size_t at) const { return (at + 1) & (slots_.size() - 1); }

    std::size_t find(platform::Pid pid) const {
        if (slots_.empty() || pid == 0) return npos;
        for (std::size_t at = home(pid); slots_[at].pid != 0; at = next(at)) {
            if (slots_[at].pid == pid) return at;
        }
        return npos;
    }

    void grow() {
        std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size());
        old.swap(slots_);
        count_ = 0;
        for (const Slot& slot : old) {
            if (slot.pid != 0) insert(slot.pid, slot.held);
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

HeldTable& held() {
    static HeldTable table;
    return table;
}

}  // namespace

void hold_directory(platform::Pid pid, HeldDirectory* directory) {
    if (pid == 0) return;
    try {
        held().insert(pid, directory);
    } catch (const std::bad_alloc&) {
        // Only a shortcut is lost: the query then finds the process by its path.
    }
}

void release_directory(platform::Pid pid, const HeldDirectory* directory) {
    held().erase_if_held(pid, directory);
}

HeldDirectory* held_directory(platform::Pid pid) {
    return held().directory_of(pid);
}

}  // namespace procfs
