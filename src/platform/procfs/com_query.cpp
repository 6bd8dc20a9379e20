// The query itself: IWbemServices::ExecQuery, IEnumWbemClassObject::Next and
// IWbemClassObject::Get, answered from /proc.

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/com_bstr.hpp"
#include "platform/procfs/com_hresults.hpp"
#include "platform/procfs/com_object.hpp"
#include "platform/procfs/com_process_source.hpp"
#include "platform/procfs/com_text.hpp"
#include "platform/procfs/wql_parser.hpp"
#include "text/utf.hpp"

namespace platform {

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
        if (text == nullptr) return procfs::wbem_e_out_of_memory;
        value->vt = vt_bstr;
        value->value.bstr = text;
        return s_ok;
    }
    return procfs::wbem_e_not_found;
}

}  // namespace platform
