#pragma once
// The COM objects the procfs backend hands out behind platform::ComObject: each is a small
// reference-counted object that Release frees when the count reaches zero, as COM does.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

struct ComObject {
    enum class Kind { locator, services, enumerator, class_object };

    explicit ComObject(Kind object_kind) : kind(object_kind) {}
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    const Kind kind;
    std::atomic<std::uint32_t> references{1};
};

}  // namespace platform

namespace procfs {

struct Locator final : platform::ComObject {
    Locator() : ComObject(Kind::locator) {}
};

struct Services final : platform::ComObject {
    Services() : ComObject(Kind::services) {}
};

// One Win32_Process row: its ID and its command line, empty when /proc has none to give. The
// text is kept as UTF-8, half the size of UTF-16, and made UTF-16 only in the BSTR handed out.
struct ProcessRow {
    platform::Pid pid = 0;
    std::string command_line;
};

// Walks the queried IDs lazily, so each row reflects /proc at the moment Next asks for it.
struct Enumerator final : platform::ComObject {
    explicit Enumerator(std::vector<platform::Pid> ascending_pids)
        : ComObject(Kind::enumerator), pids(std::move(ascending_pids)) {}
    std::vector<platform::Pid> pids;
    std::size_t next = 0;
};

struct ClassObject final : platform::ComObject {
    explicit ClassObject(ProcessRow process_row)
        : ComObject(Kind::class_object), row(std::move(process_row)) {}
    ProcessRow row;
};

// The object as the kind the caller needs, or null when it is another kind (or null).
template <typename Wanted>
Wanted* as(platform::ComObject* object, platform::ComObject::Kind kind) {
    if (object == nullptr || object->kind != kind) return nullptr;
    return static_cast<Wanted*>(object);
}

}  // namespace procfs
