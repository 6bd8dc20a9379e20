#include "platform/procfs/com_text.hpp"

namespace procfs {

namespace {

char16_t fold(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

}  // namespace

bool equals_ignoring_case(std::u16string_view left, std::u16string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (fold(left[i]) != fold(right[i])) return false;
    }
    return true;
}

}  // namespace procfs
