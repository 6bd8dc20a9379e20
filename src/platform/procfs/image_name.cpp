#include "platform/procfs/image_name.hpp"

#include <algorithm>
#include <array>
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
    const auto units =
        text::utf8_to_utf16(std::string_view{target.data(), static_cast<std::size_t>(length)});
    if (units.size() >= size) {
        return false;
    }
    std::copy(units.begin(), units.end(), buffer);
    buffer[units.size()] = u'\0';
    size = static_cast<std::uint32_t>(units.size());
    return true;
}

}  // namespace procfs
