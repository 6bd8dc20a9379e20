// The arguments after the program name, from wmain's vector. A lone surrogate becomes U+FFFD,
// so the argument is refused by the command line's own rules, in order.

#include "platform/platform.hpp"
#include "platform/win32/startup.hpp"
#include "text/utf.hpp"

namespace platform::win32 {
namespace {

int kept_count = 0;
wchar_t** kept_vector = nullptr;

}  // namespace

void keep_arguments(int argc, wchar_t** argv) {
    kept_count = argc;
    kept_vector = argv;
}

}  // namespace platform::win32

namespace platform {

std::vector<std::string> arguments() {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
    std::vector<std::string> result;
    for (int index = 1; index < win32::kept_count; ++index) {
        const auto* units = reinterpret_cast<const char16_t*>(win32::kept_vector[index]);
        result.push_back(text::utf16_to_utf8(units));
    }
    return result;
}

}  // namespace platform
