#pragma once
// A tight limit of open descriptors for the calling process, for the tests of what a run does
// when it has none left to open. Linux only.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace test_support {

// Lowers the soft limit of open descriptors (RLIMIT_NOFILE) so that exactly `room` more can be
// opened: the limit becomes the lowest free descriptor plus `room`. The limit before comes back
// at lift() or when the object goes. applied() is false when the limit could not be changed
// (and then nothing is to be lifted).
class TightDescriptorLimit {
public:
    explicit TightDescriptorLimit(int room = 0) {
        if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
        const int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (lowest_free < 0) return;
        ::close(lowest_free);
        rlimit tight = saved_;
        tight.rlim_cur = static_cast<rlim_t>(lowest_free + room);
        applied_ = ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }
    ~TightDescriptorLimit() { lift(); }
    TightDescriptorLimit(const TightDescriptorLimit&) = delete;
    TightDescriptorLimit& operator=(const TightDescriptorLimit&) = delete;

    bool applied() const { return applied_; }
    // The limit as it was, before the object goes (say, to read what a test saw with room again).
    void lift() {
        if (applied_) ::setrlimit(RLIMIT_NOFILE, &saved_);
        applied_ = false;
    }

private:
    rlimit saved_{};
    bool applied_ = false;
};

}  // namespace test_support
