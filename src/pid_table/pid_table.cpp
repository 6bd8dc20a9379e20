#include "pid_table/pid_table.hpp"

#include <chrono>

namespace pid_table {

std::uint64_t run_seed() {
    static const std::uint64_t seed = [] {
        // Nanoseconds of the monotonic clock, which nobody outside the run reads at the same
        // instant, and the places the system chose at random for this run's stack and for its
        // thread's own data.
        static thread_local int on_this_thread = 0;
        const int on_the_stack = 0;
        std::uint64_t seed = mix(static_cast<std::uint64_t>(
            std::chrono::steady_clock::now().time_since_epoch().count()));
        seed = mix(seed ^ reinterpret_cast<std::uintptr_t>(&on_the_stack));
        seed = mix(seed ^ reinterpret_cast<std::uintptr_t>(&on_this_thread));
        return seed;
    }();
    return seed;
}

}  // namespace pid_table
