#include <cstdlib>

#include "platform/platform.hpp"
#include "text/utf.hpp"

namespace platform {

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || !text::is_valid_utf8(value)) {
        return std::nullopt;
    }
    return std::string{value};
}

}  // namespace platform
