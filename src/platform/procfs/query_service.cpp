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

// One process's row. The command line is kept as the BSTR that Get hands out, made once from
// the row's text, which is let go of at once: at no time is the text there in three forms.
struct ClassObject final : platform::ComObject {
    explicit ClassObject(ProcessRow process_row)
        : ComObject(Kind::class_object),
          pid(process_row.pid),
          command_line(allocate_bstr_from_utf8(process_row.command_line)) {}
    ~ClassObject() override { platform::sys_free_string(command_line); }
    platform::Pid pid;
    platform::Bstr command_line;
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
// unit; the pointer handed out points at the units, so the length sits just before it. Before
// the length, a count of holders: the service runs in the tool's own process, so a text it
// hands out can be the very block it keeps, not a copy (a command line of megabytes would
// otherwise be there twice while the caller converts it). SysFreeString lets go of one hold
// and frees the block with the last. Holders only read the text.

namespace {

struct BstrHeader {
    std::uint32_t holders;
    std::uint32_t bytes;  // the length prefix
};

BstrHeader* header_of(platform::Bstr text) {
    return reinterpret_cast<BstrHeader*>(reinterpret_cast<unsigned char*>(text) -
                                         sizeof(BstrHeader));
}

// A BSTR of `count` units, their terminating zero unit already written; null when the count
// is beyond what the length prefix holds. The service runs inside the tool, so its texts are
// the tool's own memory: taken through operator new, a shortage ends the run as any other does.
platform::Bstr allocate_bstr_units(std::size_t count) {
    constexpr std::size_t max_units =
        std::numeric_limits<std::uint32_t>::max() / sizeof(char16_t) - 1;
    if (count > max_units) return nullptr;
    const std::size_t bytes = count * sizeof(char16_t);
    auto* header =
        static_cast<BstrHeader*>(::operator new(sizeof(BstrHeader) + bytes + sizeof(char16_t)));
    header->holders = 1;
    header->bytes = static_cast<std::uint32_t>(bytes);
    auto* units = reinterpret_cast<char16_t*>(header + 1);
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

platform::Bstr share_bstr(platform::Bstr text) {
    if (text != nullptr) ++header_of(text)->holders;
    return text;
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
    return header_of(text)->bytes / sizeof(char16_t);
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
        value->value.int32 = static_cast<std::int32_t>(process->pid);
        return s_ok;
    }
    if (procfs::equals_ignoring_case(property, u"CommandLine")) {
        *value = Variant{};
        value->vt = vt_bstr;
        value->value.bstr = procfs::share_bstr(process->command_line);
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
    BstrHeader* header = header_of(text);
    if (--header->holders == 0) ::operator delete(header);
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
