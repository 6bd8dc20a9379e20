// Running out of memory, over the fake platform: the same path in the Linux and Windows builds
// (the real limits are tried on Linux, against the built tool).

#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <new>

#include "fake/runtime.hpp"
#include "main/output.hpp"
#include "platform/platform.hpp"
#include "support/sanitizers.hpp"

namespace {

// An allocation no system grants: operator new finds no memory and turns to its handler.
void allocate_more_than_there_is() {
    volatile std::size_t size = std::numeric_limits<std::size_t>::max() / 4;
    ::operator delete(::operator new(size));
}

TEST(OutOfMemory, EndsAtOnceWithOneLineAndStatus101) {
    if (test_support::address_sanitizer) {
        GTEST_SKIP() << "AddressSanitizer's operator new reports a failed allocation itself "
                        "and never calls the handler";
    }
    EXPECT_EXIT(
        {
            fake::reset_runtime();
            fake::echo_stream(platform::Stream::out);
            fake::echo_stream(platform::Stream::err);
            app::end_cleanly_when_memory_runs_out();
            allocate_more_than_there_is();
            platform::write(platform::Stream::out, "never reached\n");
        },
        ::testing::ExitedWithCode(101), "^out of memory\n$");
}

TEST(OutOfMemory, EndsWithStatus101WhenStandardErrorFailsToo) {
    if (test_support::address_sanitizer) {
        GTEST_SKIP() << "AddressSanitizer's operator new reports a failed allocation itself "
                        "and never calls the handler";
    }
    // The failing write's error text is itself an allocation: it must not loop or crash.
    EXPECT_EXIT(
        {
            fake::reset_runtime();
            fake::fail_stream(platform::Stream::err, "Bad file descriptor");
            app::end_cleanly_when_memory_runs_out();
            allocate_more_than_there_is();
        },
        ::testing::ExitedWithCode(101), "^$");
}

}  // namespace
