#pragma once
// A table keyed by process ID in one flat block: open addressing with linear probing, at most
// half full, 0 (never a process ID) marking a free slot, and removal by shifting the later
// entries of a run back, so no tombstones pile up. A node-based map would allocate, and miss
// the cache, once per ID.
//
// Where an ID's run of probes starts comes from a hash with a seed of the run: IDs picked so
// that they share slots, each then probing past all that came before it, would have to be
// picked knowing a seed that nothing outside the run sees.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pid_table {

// This run's seed: the monotonic clock and addresses the system placed at random for this
// process, mixed. Made once.
std::uint64_t run_seed();

// Every bit of the result depends on every bit of `word`, and no two words give the same result.
constexpr std::uint64_t mix(std::uint64_t word) {
    word ^= word >> 33;
    word *= 0xFF51AFD7ED558CCDull;
    word ^= word >> 33;
    word *= 0xC4CEB9FE1A85EC53ull;
    word ^= word >> 33;
    return word;
}

// The value of a table used as a set.
struct Nothing {};

template <typename Mapped = Nothing>
class PidTable {
public:
    explicit PidTable(std::uint64_t seed = run_seed()) : seed_(seed) {}

    struct Inserted {
        Mapped& value;
        bool added;  // false: the ID was there already, with this value
    };

    // The entry of `pid` (not 0), added with a default value when it was not there.
    Inserted insert(std::uint32_t pid) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::size_t at = home(pid);
        for (;; at = next(at)) {
            ++probes_;
            if (slots_[at].pid == pid) return {slots_[at].value, false};
            if (slots_[at].pid == 0) break;
        }
        slots_[at].pid = pid;
        ++count_;
        return {slots_[at].value, true};
    }

    Mapped* find(std::uint32_t pid) {
        const std::size_t at = find_slot(pid);
        return at == npos ? nullptr : &slots_[at].value;
    }
    const Mapped* find(std::uint32_t pid) const {
        const std::size_t at = find_slot(pid);
        return at == npos ? nullptr : &slots_[at].value;
    }

    void erase(std::uint32_t pid) {
        const std::size_t at = find_slot(pid);
        if (at != npos) erase_slot(at);
    }

    // Erases every entry for which `erase(pid, value)` is true, in one walk of the slots; how
    // many. `erase` may be asked twice about an entry that the removal of another moved past
    // the walk (it must answer the same), never about one erased.
    template <typename Erase>
    std::size_t erase_if(Erase erase) {
        std::size_t erased = 0;
        for (std::size_t at = 0; at < slots_.size();) {
            Slot& slot = slots_[at];
            if (slot.pid != 0 && erase(slot.pid, slot.value)) {
                // A later entry of the run may have moved into this slot: looked at again.
                erase_slot(at);
                ++erased;
            } else {
                ++at;
            }
        }
        return erased;
    }

    std::size_t size() const { return count_; }

    // `visit(pid, value)` for every entry, in the order of the slots.
    template <typename Visit>
    void for_each(Visit visit) const {
        for (const Slot& slot : slots_) {
            if (slot.pid != 0) visit(slot.pid, slot.value);
        }
    }

    // Slots looked at so far, by every insert, find and erase: what IDs chosen to collide
    // would drive up.
    std::size_t probes() const { return probes_; }

private:
    struct Slot {
        std::uint32_t pid = 0;
        [[no_unique_address]] Mapped value{};
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    static constexpr std::size_t first_size = 16;

    void erase_slot(std::size_t hole) {
        // The entries after the hole that would no longer be found move up into it.
        for (std::size_t at = next(hole); slots_[at].pid != 0; at = next(at)) {
            ++probes_;
            const std::size_t wanted = home(slots_[at].pid);
            // Stays when its home lies in the cyclic range (hole, at].
            const bool stays = hole < at ? (wanted > hole && wanted <= at)
                                         : (wanted > hole || wanted <= at);
            if (!stays) {
                slots_[hole] = std::move(slots_[at]);
                hole = at;
            }
        }
        slots_[hole] = Slot{};
        --count_;
    }

    // The top bits of the mixed ID, as many as the table has slots.
    std::size_t home(std::uint32_t pid) const {
        return static_cast<std::size_t>(mix(pid ^ seed_) >> shift_);
    }
    std::size_t next(std::size_t at) const { return (at + 1) & (slots_.size() - 1); }

    std::size_t find_slot(std::uint32_t pid) const {
        if (slots_.empty() || pid == 0) return npos;
        for (std::size_t at = home(pid);; at = next(at)) {
            ++probes_;
            if (slots_[at].pid == pid) return at;
            if (slots_[at].pid == 0) return npos;
        }
    }

    void grow() {
        const std::size_t size = slots_.empty() ? first_size : 2 * slots_.size();
        std::vector<Slot> old(size);
        old.swap(slots_);
        shift_ = 64 - std::countr_zero(size);
        count_ = 0;
        for (Slot& slot : old) {
            if (slot.pid != 0) insert(slot.pid).value = std::move(slot.value);
        }
    }

    std::vector<Slot> slots_;
    std::uint64_t seed_;
    int shift_ = 64;
    std::size_t count_ = 0;
    mutable std::size_t probes_ = 0;
};

// Opens at most once a second of the monotonic clock it is shown ({seconds, nanos}), the first
// time at once: a sweep of a table walks all its slots, and a request should pay for one no more
// than a second's readings do.
class SweepGate {
public:
    template <typename Instant>
    bool open(const Instant& now) {
        if (now.seconds < next_seconds_ ||
            (now.seconds == next_seconds_ && now.nanos < next_nanos_)) {
            return false;
        }
        next_seconds_ = now.seconds + 1;
        next_nanos_ = now.nanos;
        return true;
    }

private:
    std::uint64_t next_seconds_ = 0;
    std::uint32_t next_nanos_ = 0;
};

}  // namespace pid_table
