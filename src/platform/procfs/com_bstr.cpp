// BSTRs laid out as Windows lays them out: a 32-bit byte length, the UTF-16 units, one zero
// unit. The pointer handed out points at the units, so the length sits just before it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/platform.hpp"
#include "platform/procfs/com_bstr.hpp"

namespace {

using LengthPrefix = std::uint32_t;

LengthPrefix* prefix_of(platform::Bstr text) {
    return reinterpret_cast<LengthPrefix*>(reinterpret_cast<unsigned char*>(text) -
                                           sizeof(LengthPrefix));
}

}  // namespace

namespace procfs {

platform::Bstr allocate_bstr(std::u16string_view text) {
    constexpr std::size_t max_units =
        (std::numeric_limits<LengthPrefix>::max() - sizeof(LengthPrefix)) / sizeof(char16_t) - 1;
    if (text.size() > max_units) return nullptr;
    const std::size_t bytes = text.size() * sizeof(char16_t);
    void* block = std::malloc(sizeof(LengthPrefix) + bytes + sizeof(char16_t));
    if (block == nullptr) return nullptr;
    auto* prefix = static_cast<LengthPrefix*>(block);
    *prefix = static_cast<LengthPrefix>(bytes);
    auto* units = reinterpret_cast<char16_t*>(prefix + 1);
    if (bytes != 0) std::memcpy(units, text.data(), bytes);
    units[text.size()] = u'\0';
    return units;
}

std::u16string_view bstr_text(platform::Bstr text) {
    if (text == nullptr) return {};
    return {text, platform::sys_string_len(text)};
}

}  // namespace procfs

namespace platform {

Bstr sys_alloc_string(const char16_t* text) {
    if (text == nullptr) return nullptr;
    return procfs::allocate_bstr(std::u16string_view{text});
}

void sys_free_string(Bstr text) {
    if (text == nullptr) return;
    std::free(prefix_of(text));
}

std::uint32_t sys_string_len(Bstr text) {
    if (text == nullptr) return 0;
    return *prefix_of(text) / sizeof(char16_t);
}

void variant_clear(Variant* value) {
    if (value == nullptr) return;
    // Only an owned BSTR is freed; a VT_BYREF value points at memory the variant does not own.
    if (value->vt == vt_bstr) sys_free_string(value->value.bstr);
    *value = Variant{};
}

}  // namespace platform
