#include "windows/filetime.hpp"

#include "diagnostics/timing_scope.hpp"

namespace windows {

std::uint64_t filetime(platform::FileTime time) {
    diagnostics::TimingScope scope{"windows::filetime"};
    return (std::uint64_t{time.high} << 32) | time.low;
}

}  // namespace windows
