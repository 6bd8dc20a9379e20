// A process opened through the platform layer as the probes open it, for the tests of the
// platform's calls.
#pragma once

#include <optional>

#include "platform/platform.hpp"

namespace test_support {

// What the tests read processes through: one for the whole test program, as a one-shot run
// has one for its whole run.
inline platform::Processes& processes() {
    static platform::Processes one;
    return one;
}

// Opened as the probes open a process (through `through`, or the test program's one-shot
// Processes); closed on scope exit.
class Opened {
public:
    explicit Opened(platform::Pid pid, platform::Processes& through = processes())
        : processes_(through), opened_(platform::open_process(through, pid)) {}
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    ~Opened() { platform::close_process(processes_, opened_.handle); }

    platform::Handle get() const { return opened_.handle; }
    platform::OpenFailure failure() const { return opened_.failure; }

private:
    platform::Processes& processes_;
    platform::Opened opened_;
};

inline std::optional<platform::Liveness> liveness_of(platform::Handle handle) {
    return platform::liveness(processes(), handle);
}

}  // namespace test_support
