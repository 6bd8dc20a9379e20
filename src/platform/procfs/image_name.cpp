#include "platform/procfs/image_name.hpp"

#include <array>
#include <string_view>
#include <unistd.h>

#include "text/utf.hpp"

namespace procfs {

bool read_image_name(int directory, const char* link, char16_t* buffer, std::uint32_t& size) {
    // The kernel writes the path into one page; anything that fills this buffer was cut short.
    std::array<char, 8192> target;
    const auto length = ::readlinkat(directory, link, target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
        return false;
    }
    // Measured, then converted straight into the caller's buffer.
    const std::string_view path{target.data(), static_cast<std::size_t>(length)};
    const std::size_t units = text::utf16_length(path);
    if (units >= size) {
        return false;
    }
    text::utf8_to_utf16(path, buffer);
    buffer[units] = u'\0';
    size = static_cast<std::uint32_t>(units);
    return true;
}

}  // namespace procfs
