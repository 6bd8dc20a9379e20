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
