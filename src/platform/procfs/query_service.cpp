// The query service the command-line query talks to, answered in the tool's own process: the
// COM calls of WMI, as far as that query uses them, with COM's rules for initialisation counts,
// reference counts and BSTRs. First the pieces (failure codes, objects, the apartment, BSTRs),
// then the calls in the order the query makes them, from CoInitializeEx to CoUninitialize.
// The rows themselves come from /proc (query_rows), the query text is read by wql_parser.

#include "platform/procfs/query_service.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/query_rows.hpp"
#include "platform/procfs/wql_parser.hpp"
#include "text/utf.hpp"

// ---- The objects handed out behind platform::ComObject: each is a small reference-counted
// object that Release frees when the count reaches zero, as COM does.

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
namespace {

// The failure codes the service answers with, beyond those of platform.hpp.
constexpr platform::HResult e_pointer = static_cast<platform::HResult>(0x80004003u);
constexpr platform::HResult co_e_notinitialized = static_cast<platform::HResult>(0x800401F0u);
constexpr platform::HResult regdb_e_classnotreg = static_cast<platform::HResult>(0x80040154u);
constexpr platform::HResult wbem_e_failed = static_cast<platform::HResult>(0x80041001u);
constexpr platform::HResult wbem_e_not_found = static_cast<platform::HResult>(0x80041002u);
constexpr platform::HResult wbem_e_invalid_parameter = static_cast<platform::HResult>(0x80041008u);
constexpr platform::HResult wbem_e_invalid_query_type = static_cast<platform::HResult>(0x80041018u);

struct Locator final : platform::ComObject {
    Locator() : ComObject(Kind::locator) {}
};

struct Services final : platform::ComObject {
    Services() : ComObject(Kind::services) {}
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

// Name comparison as WMI does it: without regard to ASCII case.
char16_t fold(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool equals_ignoring_case(std::u16string_view left, std::u16string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (fold(left[i]) != fold(right[i])) return false;
    }
    return true;
}

}  // namespace
}  // namespace procfs

// ---- The apartment: CoInitializeEx / CoUninitialize keep a count per thread. The first
// initialisation answers S_OK, every further one S_FALSE; each needs its own CoUninitialize.
// A thread may not switch its concurrency model while it is initialised.

namespace {

// The only flag that decides the concurrency model; the others are hints.
constexpr std::uint32_t coinit_apartmentthreaded = 0x2;

struct Apartment {
    std::uint32_t initializations = 0;
    std::uint32_t model = 0;
};

thread_local Apartment apartment;

}  // namespace

namespace procfs {
namespace {

// True between a successful initialisation on this thread and its balancing uninitialisation.
bool com_initialized_on_this_thread() { return apartment.initializations > 0; }

}  // namespace
}  // namespace procfs

// ---- BSTRs laid out as Windows lays them out: a 32-bit byte length, the UTF-16 units, one zero
// unit. The pointer handed out points at the units, so the length sits just before it.

namespace {

using LengthPrefix = std::uint32_t;

LengthPrefix* prefix_of(platform::Bstr text) {
    return reinterpret_cast<LengthPrefix*>(reinterpret_cast<unsigned char*>(text) -
                                           sizeof(LengthPrefix));
}

// A BSTR of `count` units, their terminating zero unit already written; null when the count
// is beyond what the length prefix holds. The service runs inside the tool, so its texts are
// the tool's own memory: taken through operator new, a shortage ends the run as any other does.
platform::Bstr allocate_bstr_units(std::size_t count) {
    constexpr std::size_t max_units =
        (std::numeric_limits<LengthPrefix>::max() - sizeof(LengthPrefix)) / sizeof(char16_t) - 1;
    if (count > max_units) return nullptr;
    const std::size_t bytes = count * sizeof(char16_t);
    void* block = ::operator new(sizeof(LengthPrefix) + bytes + sizeof(char16_t));
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

// ---- The calls, in the order the query makes them

namespace platform {

HResult co_initialize_ex(void* reserved, std::uint32_t coinit) {
    if (reserved != nullptr) return e_invalidarg;
    if (apartment.initializations == 0) {
        apartment.model = coinit & coinit_apartmentthreaded;
        apartment.initializations = 1;
        return s_ok;
    }
    if (apartment.model != (coinit & coinit_apartmentthreaded)) return rpc_e_changed_mode;
    ++apartment.initializations;
    return s_false;
}

Bstr sys_alloc_string(const char16_t* text) {
    if (text == nullptr) return nullptr;
    return procfs::allocate_bstr(std::u16string_view{text});
}

std::uint32_t sys_string_len(Bstr text) {
    if (text == nullptr) return 0;
    return *prefix_of(text) / sizeof(char16_t);
}

HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator) {
    if (locator == nullptr) return procfs::e_pointer;
    *locator = nullptr;
    if (!procfs::com_initialized_on_this_thread()) return procfs::co_e_notinitialized;
    // The service lives in the tool's own process, so only an in-process server is offered.
    if ((class_context & clsctx_inproc_server) == 0) return procfs::regdb_e_classnotreg;
    *locator = new procfs::Locator;
    return s_ok;
}

// The flags only bound the wait for a service that does not answer; this one answers at once.
HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t, ComObject** services) {
    if (services == nullptr) return procfs::wbem_e_invalid_parameter;
    *services = nullptr;
    if (procfs::as<procfs::Locator>(locator, ComObject::Kind::locator) == nullptr ||
        name_space == nullptr) {
        return procfs::wbem_e_invalid_parameter;
    }
    if (!procfs::equals_ignoring_case(procfs::bstr_text(name_space), u"ROOT\\CIMV2")) {
        return wbem_e_invalid_namespace;
    }
    *services = new procfs::Services;
    return s_ok;
}

HResult set_proxy_blanket(ComObject* services, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t) {
    // Nothing crosses a process boundary here, so the security settings have nothing to do.
    if (procfs::as<procfs::Services>(services, ComObject::Kind::services) == nullptr) {
        return e_invalidarg;
    }
    return s_ok;
}

HResult exec_query(ComObject* services, Bstr language, Bstr query, std::int32_t,
                   ComObject** enumerator) {
    if (enumerator == nullptr) return procfs::wbem_e_invalid_parameter;
    *enumerator = nullptr;
    if (procfs::as<procfs::Services>(services, ComObject::Kind::services) == nullptr ||
        language == nullptr || query == nullptr) {
        return procfs::wbem_e_invalid_parameter;
    }
    if (!procfs::equals_ignoring_case(procfs::bstr_text(language), u"WQL")) {
        return procfs::wbem_e_invalid_query_type;
    }
    std::optional<std::vector<Pid>> pids =
        procfs::parse_process_query(text::utf16_to_utf8(procfs::bstr_text(query)));
    if (!pids) return wbem_e_invalid_query;

    // One object per process, whatever the number of conditions naming it, in ascending order.
    std::sort(pids->begin(), pids->end());
    pids->erase(std::unique(pids->begin(), pids->end()), pids->end());
    *enumerator = new procfs::Enumerator(std::move(*pids));
    return s_ok;
}

HResult enumerator_next(ComObject* enumerator, std::int32_t, std::uint32_t count,
                        ComObject** objects, std::uint32_t* returned) {
    auto* walk = procfs::as<procfs::Enumerator>(enumerator, ComObject::Kind::enumerator);
    if (walk == nullptr || objects == nullptr || returned == nullptr) {
        return procfs::wbem_e_invalid_parameter;
    }
    *returned = 0;
    while (*returned < count && walk->next < walk->pids.size()) {
        procfs::ProcessLookup lookup = procfs::read_process_row(walk->pids[walk->next]);
        if (lookup.failed) {
            // Objects already handed out stand; the failing ID is asked again next time.
            return *returned == 0 ? procfs::wbem_e_failed : wbem_s_false;
        }
        ++walk->next;
        if (lookup.row) {
            objects[*returned] = new procfs::ClassObject(std::move(*lookup.row));
            ++*returned;
        }
    }
    return *returned == count ? s_ok : wbem_s_false;
}

HResult class_object_get(ComObject* object, const char16_t* name, std::int32_t,
                         Variant* value) {
    const auto* process =
        procfs::as<procfs::ClassObject>(object, ComObject::Kind::class_object);
    if (process == nullptr || name == nullptr || value == nullptr) {
        return procfs::wbem_e_invalid_parameter;
    }
    const std::u16string_view property{name};
    if (procfs::equals_ignoring_case(property, u"ProcessId")) {
        *value = Variant{};
        value->vt = vt_i4;
        value->value.int32 = static_cast<std::int32_t>(process->row.pid);
        return s_ok;
    }
    if (procfs::equals_ignoring_case(property, u"CommandLine")) {
        *value = Variant{};
        Bstr text = procfs::allocate_bstr_from_utf8(process->row.command_line);
        value->vt = vt_bstr;
        value->value.bstr = text;
        return s_ok;
    }
    return procfs::wbem_e_not_found;
}

void variant_clear(Variant* value) {
    if (value == nullptr) return;
    // Only an owned BSTR is freed; a VT_BYREF value points at memory the variant does not own.
    if (value->vt == vt_bstr) sys_free_string(value->value.bstr);
    *value = Variant{};
}

void sys_free_string(Bstr text) {
    if (text == nullptr) return;
    ::operator delete(prefix_of(text));
}

std::uint32_t release(ComObject* object) {
    if (object == nullptr) return 0;
    const std::uint32_t remaining = --object->references;
    if (remaining == 0) delete object;
    return remaining;
}

void co_uninitialize() {
    if (apartment.initializations > 0) --apartment.initializations;
}

}  // namespace platform
