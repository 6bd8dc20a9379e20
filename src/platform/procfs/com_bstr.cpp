// BSTRs laid out as Windows lays them out: a 32-bit byte length, the UTF-16 units, one zero
// unit. The pointer handed out points at the units, so the length sits just before it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/platform.hpp"
#include "platform/procfs/com_bstr.hpp"
#include "text/utf.hpp"

namespace {

using LengthPrefix = std::uint32_t;

LengthPrefix* prefix_of(platform::Bstr text) {
    return reinterpret_cast<LengthPrefix*>(reinterpret_cast<unsigned char*>(text) -
                                           sizeof(LengthPrefix));
}

// A BSTR of `count` units, their terminating zero unit already written; null when the count
// is beyond what the length prefix holds or memory runs out.
platform::Bstr allocate_bstr_units(std::size_t count) {
    constexpr std::size_t max_units =
        (std::numeric_limits<LengthPrefix>::max() - sizeof(LengthPrefix)) / sizeof(char16_t) - 1;
    if (count > max_units) return nullptr;
    const std::size_t bytes = count * sizeof(char16_t);
    void* block = std::malloc(sizeof(LengthPrefix) + bytes + sizeof(char16_t));
    if (block == nullptr) return nullptr;
    auto* prefix = static_cast<LengthPrefix*>(block);
    *prefix = static_cast<LengthPrefix>(bytes);
    auto* units = reinterpret_cast<char16_t*>(prefix + 1);
    units[count] = u'\0';
    return units;
}

}  // namespace

namespace procfs {

platform::Bstr allocate_bstr(std::u16string_view text) {
    platform::Bstr units = allocate_bstr_units(text.size());
    if (units != nullptr && !text.empty()) {
        std::memcpy(units, text.data(), text.size() * sizeof(char16_t));
    }
    return units;
}

platform::Bstr allocate_bstr_from_utf8(std::string_view text) {
    platform::Bstr units = allocate_bstr_units(text::utf16_length(text));
    if (units != nullptr) text::utf8_to_utf16(text, units);
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
