#include "diagnostics/internal_fault.hpp"

#include <cstdlib>
#include <string>

#include "platform/platform.hpp"

namespace diagnostics {

void internal_fault(std::string_view message) {
    std::string line(message);
    line.push_back('\n');
    // Best effort: the process ends whether or not the message got out.
    (void)platform::write(platform::Stream::err, line);
    std::abort();
}

}  // namespace diagnostics
