// The table of process IDs: it agrees with a plain map through growth, wrap-around and removal,
// and its cost per operation stays a few probes for lists of IDs that a fixed hash piles into
// one run of slots.

#include "pid_table/pid_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using pid_table::PidTable;

// Seeds chosen here, so that a failure can be run again, and the run's own.
const std::vector<std::uint64_t> seeds = {0, 1, 0x9E3779B97F4A7C15ull, pid_table::run_seed()};

TEST(PidTable, AgreesWithAMapThroughGrowthWrapAroundAndRemoval) {
    for (const std::uint64_t seed : seeds) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        PidTable<int> table{seed};
        std::map<std::uint32_t, int> expected;
        std::mt19937 random(7);
        // Few distinct IDs, dense and spread, so that runs of probes meet and wrap around.
        std::uniform_int_distribution<std::uint32_t> pick(1, 3000);
        for (int step = 0; step < 30000; ++step) {
            const std::uint32_t pid = (step % 3 == 0) ? pick(random) * 65537u : pick(random);
            if (random() % 2 == 0) {
                const auto inserted = table.insert(pid);
                EXPECT_EQ(inserted.added, !expected.contains(pid));
                inserted.value = step;
                expected[pid] = step;
            } else {
                table.erase(pid);
                expected.erase(pid);
            }
            const std::uint32_t probe = pick(random);
            const int* found = table.find(probe);
            const auto wanted = expected.find(probe);
            ASSERT_EQ(found == nullptr, wanted == expected.end()) << "step " << step;
            if (found != nullptr) {
                ASSERT_EQ(*found, wanted->second) << "step " << step;
            }
            ASSERT_EQ(table.size(), expected.size());
        }
        for (const auto& [pid, value] : expected) {
            ASSERT_NE(table.find(pid), nullptr);
            EXPECT_EQ(*table.find(pid), value);
            table.erase(pid);
            EXPECT_EQ(table.find(pid), nullptr);
        }
        EXPECT_EQ(table.size(), 0u);
        EXPECT_EQ(table.find(0), nullptr);
    }
}

// erase_if walks the slots once, erasing as it goes: the removal of an entry moves later ones
// of its run back, into the slot just looked at or, where the run wraps around the end, past
// the walk. Small tables of dense IDs make such runs often.
TEST(PidTable, EraseIfErasesExactlyTheChosenEntriesAndAsksOnceAboutEach) {
    for (const std::uint64_t seed : seeds) {
        std::mt19937 random(11);
        for (int trial = 0; trial < 400; ++trial) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial));
            PidTable<std::uint32_t> table{seed};
            std::map<std::uint32_t, std::uint32_t> expected;
            const int count = 1 + trial % 60;
            std::uniform_int_distribution<std::uint32_t> pick(1, 200);
            for (int i = 0; i < count; ++i) {
                const std::uint32_t pid = pick(random);
                table.insert(pid).value = pid * 3;
                expected[pid] = pid * 3;
            }
            const std::uint32_t modulus = 2 + static_cast<std::uint32_t>(trial % 4);
            std::map<std::uint32_t, int> asked;
            const std::size_t erased =
                table.erase_if([&](std::uint32_t pid, std::uint32_t& value) {
                    EXPECT_EQ(value, pid * 3) << pid;
                    ++asked[pid];
                    return pid % modulus == 0;
                });

            std::size_t wanted_erased = 0;
            for (const auto& [pid, value] : expected) {
                EXPECT_GE(asked[pid], 1) << pid << " never looked at";
                if (pid % modulus == 0) {
                    ++wanted_erased;
                    EXPECT_EQ(asked[pid], 1) << pid << " asked about after it was erased";
                    EXPECT_EQ(table.find(pid), nullptr) << pid;
                } else {
                    ASSERT_NE(table.find(pid), nullptr) << pid;
                    EXPECT_EQ(*table.find(pid), value);
                }
            }
            EXPECT_EQ(erased, wanted_erased);
            EXPECT_EQ(table.size(), expected.size() - wanted_erased);
        }
    }
}

TEST(SweepGate, OpensAtOnceThenOnceASecondOfTheClockItIsShown) {
    struct Instant {
        std::uint64_t seconds;
        std::uint32_t nanos;
    };
    pid_table::SweepGate gate;
    const struct {
        Instant now;
        bool opens;
    } steps[] = {
        {{5, 500'000'000}, true},   // the first time
        {{5, 500'000'000}, false},  // the same instant
        {{6, 499'999'999}, false},  // a nanosecond short of a second
        {{6, 500'000'000}, true},   // a second on
        {{6, 900'000'000}, false},
        {{9, 0}, true},             // later than due: the next second counts from now
        {{9, 999'999'999}, false},
        {{10, 0}, true},
        {{3, 0}, false},            // a clock read earlier than the last opening
    };
    for (const auto& step : steps) {
        EXPECT_EQ(gate.open(step.now), step.opens) << step.now.seconds << "." << step.now.nanos;
    }
}

// A fixed hash, the kind a table without a seed must use: Fibonacci hashing, the slot taken
// from bits 32 and up of the product, in a table sized for the ID list of 100,000 arguments
// (2^18 slots). Anyone can work out IDs that collide under it, which is what the seed prevents.
constexpr std::uint64_t fibonacci = 0x9E3779B97F4A7C15ull;
constexpr int fixed_slot_bits = 18;
constexpr std::uint64_t product_modulus = std::uint64_t{1} << (32 + fixed_slot_bits);

std::uint32_t fixed_home(std::uint32_t pid) {
    return static_cast<std::uint32_t>((pid * fibonacci) >> 32) & ((1u << fixed_slot_bits) - 1);
}

// IDs a step apart whose fixed homes drift by a small fraction of a slot per step: the step is
// the largest denominator of a convergent of the continued fraction of multiplier / 2^50 that
// keeps `count` steps within 32 bits. Run through the table, they pile into one long run of
// slots, each probing past nearly all before it.
std::vector<std::uint32_t> crafted_against_a_fixed_hash(std::uint32_t count) {
    const std::uint64_t limit = (std::uint64_t{1} << 32) / count;
    std::uint64_t previous = 0;
    std::uint64_t step = 1;
    std::uint64_t dividend = product_modulus;
    std::uint64_t divisor = fibonacci % product_modulus;
    while (divisor != 0) {
        const std::uint64_t next = dividend / divisor * step + previous;
        if (next > limit) break;
        previous = std::exchange(step, next);
        dividend = std::exchange(divisor, dividend % divisor);
    }
    std::vector<std::uint32_t> pids;
    for (std::uint32_t i = 0; i < count; ++i) pids.push_back(static_cast<std::uint32_t>(1 + i * step));
    return pids;
}

struct Pattern {
    const char* label;
    std::vector<std::uint32_t> pids;
};

std::vector<std::uint32_t> each(std::uint32_t count, std::uint32_t (*id)(std::uint32_t)) {
    std::vector<std::uint32_t> pids;
    for (std::uint32_t i = 0; i < count; ++i) pids.push_back(id(i));
    return pids;
}

// Each ID added, then each asked for again (found), as the ID list does with a repeated
// argument, then each removed, as closing handles does: a few probes apiece on average
// whatever the IDs, where a fixed hash can be made to probe past every ID already there.
TEST(PidTable, CostsAFewProbesPerIdEvenForIdsCraftedToCollide) {
    const std::vector<std::uint32_t> crafted = crafted_against_a_fixed_hash(100'000);
    std::vector<std::uint32_t> fixed_homes;
    for (const std::uint32_t pid : crafted) fixed_homes.push_back(fixed_home(pid));
    std::sort(fixed_homes.begin(), fixed_homes.end());
    fixed_homes.erase(std::unique(fixed_homes.begin(), fixed_homes.end()), fixed_homes.end());
    ASSERT_LT(fixed_homes.size(), crafted.size() / 16) << "the crafting itself failed";

    const std::vector<Pattern> patterns = {
        {"crafted against a fixed hash", crafted},
        {"consecutive", each(100'000, [](std::uint32_t i) { return i + 1; })},
        {"every 7th from 4e9 down", each(100'000, [](std::uint32_t i) { return 4'000'000'000u - 7 * i; })},
        {"upper bits only", each(65'535, [](std::uint32_t i) { return (i + 1) << 16; })},
        {"upper bits and the largest",
         each(65'535, [](std::uint32_t i) { return 4294967295u - (i << 16); })},
    };
    for (const Pattern& pattern : patterns) {
        for (const std::uint64_t seed : seeds) {
            SCOPED_TRACE(std::string{pattern.label} + ", seed " + std::to_string(seed));
            PidTable<> table{seed};
            for (const std::uint32_t pid : pattern.pids) ASSERT_TRUE(table.insert(pid).added);
            for (const std::uint32_t pid : pattern.pids) ASSERT_FALSE(table.insert(pid).added);
            for (const std::uint32_t pid : pattern.pids) table.erase(pid);
            EXPECT_EQ(table.size(), 0u);
            // Three operations per ID, the moves of growth included.
            EXPECT_LE(table.probes(), 4 * 3 * pattern.pids.size());
        }
    }
}

}  // namespace
