#include "fake/com.hpp"

#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>

// The fake's own COM object. Objects are kept until the next reset, so a pointer that was
// released stays recognisable and a second release is caught instead of touching freed memory.
struct platform::ComObject {
    std::string kind;  // "locator", "services", "enumerator" or "class object"
    int references = 1;
    fake::ClassObjectScript properties;
    std::size_t next_step = 0;  // enumerators: the next answer of the script
};

namespace fake {
namespace {

constexpr platform::HResult wbem_e_not_found = static_cast<platform::HResult>(0x80041002u);

struct BstrAllocation {
    std::unique_ptr<char16_t[]> units;
    std::uint32_t length = 0;
    bool live = true;
};

struct ComWorld {
    ComScript script;
    ComRecord record;
    ComCounters counters;
    std::vector<std::string> violations;
    std::vector<std::unique_ptr<platform::ComObject>> objects;
    // Never erased before a reset, so addresses are not reused and a double free is seen.
    std::unordered_map<const char16_t*, BstrAllocation> bstrs;
};

ComWorld& world() {
    static ComWorld instance;
    return instance;
}

void violation(std::string what) { world().violations.push_back(std::move(what)); }

void called(std::string name) { world().record.calls.push_back(std::move(name)); }

platform::ComObject* create_object(std::string kind) {
    auto object = std::make_unique<platform::ComObject>();
    object->kind = std::move(kind);
    world().objects.push_back(std::move(object));
    ++world().counters.live_objects;
    return world().objects.back().get();
}

// True when `object` is a live object of `kind`; records a violation otherwise.
bool usable(const platform::ComObject* object, const char* kind, const char* call) {
    for (const auto& owned : world().objects) {
        if (owned.get() != object) continue;
        if (owned->references <= 0) {
            violation(std::string(call) + " on a released " + owned->kind);
            return false;
        }
        if (owned->kind != kind) {
            violation(std::string(call) + " on a " + owned->kind + ", not a " + kind);
            return false;
        }
        return true;
    }
    violation(std::string(call) + " on an unknown object");
    return false;
}

void expect_null_out(platform::ComObject* const* out, const char* call) {
    if (out == nullptr || *out != nullptr)
        violation(std::string(call) + ": out pointer not preset to null");
}

platform::Bstr allocate_bstr(std::u16string_view text) {
    BstrAllocation allocation;
    allocation.units = std::make_unique<char16_t[]>(text.size() + 1);
    std::copy(text.begin(), text.end(), allocation.units.get());
    allocation.units[text.size()] = u'\0';
    allocation.length = static_cast<std::uint32_t>(text.size());
    platform::Bstr bstr = allocation.units.get();
    world().bstrs.emplace(bstr, std::move(allocation));
    ++world().counters.live_bstrs;
    return bstr;
}

// The text of a live BSTR; empty with a violation for an unknown or freed one.
std::u16string bstr_text(platform::Bstr bstr, const char* call) {
    if (bstr == nullptr) return {};
    const auto found = world().bstrs.find(bstr);
    if (found == world().bstrs.end() || !found->second.live) {
        violation(std::string(call) + " given an unknown or freed BSTR");
        return {};
    }
    return std::u16string(found->second.units.get(), found->second.length);
}

void free_bstr(platform::Bstr bstr, const char* call) {
    if (bstr == nullptr) return;
    const auto found = world().bstrs.find(bstr);
    if (found == world().bstrs.end() || !found->second.live) {
        violation(std::string(call) + " of an unknown or freed BSTR");
        return;
    }
    found->second.live = false;
    --world().counters.live_bstrs;
}

bool all_zero(const platform::Variant& value) {
    unsigned char zero[sizeof(platform::Variant)] = {};
    return std::memcmp(&value, zero, sizeof zero) == 0;
}

}  // namespace

void reset_com(ComScript script) {
    world() = ComWorld{};
    world().script = std::move(script);
}

ComScript& com_script() { return world().script; }
const ComRecord& com_record() { return world().record; }
const ComCounters& com_counters() { return world().counters; }
const std::vector<std::string>& com_violations() { return world().violations; }

ComProperty vt_i4(std::int32_t value) {
    ComProperty property;
    property.vt = platform::vt_i4;
    property.int32 = value;
    return property;
}

ComProperty vt_ui4(std::uint32_t value) {
    ComProperty property = vt_i4(static_cast<std::int32_t>(value));
    property.vt = platform::vt_ui4;
    return property;
}

ComProperty vt_bstr(std::u16string text) {
    ComProperty property = of_type(platform::vt_bstr);
    property.text = std::move(text);
    return property;
}

ComProperty vt_null() { return of_type(platform::vt_null); }

ComProperty null_bstr() {
    ComProperty property = of_type(platform::vt_bstr);
    property.null_bstr = true;
    return property;
}

ComProperty failing_get(platform::HResult result) {
    ComProperty property;
    property.get_result = result;
    return property;
}

ComProperty of_type(std::uint16_t vt) {
    ComProperty property;
    property.vt = vt;
    return property;
}

NextStep object_with(ComProperty process_id, ComProperty command_line) {
    NextStep step;
    step.object.properties.push_back({u"ProcessId", std::move(process_id)});
    step.object.properties.push_back({u"CommandLine", std::move(command_line)});
    return step;
}

NextStep no_object(platform::HResult result, std::uint32_t returned) {
    NextStep step;
    step.result = result;
    step.returned = returned;
    step.yields_object = false;
    return step;
}

NextStep process_object(std::uint32_t pid, ComProperty command_line) {
    return object_with(vt_ui4(pid), std::move(command_line));
}

NextStep process_object(std::uint32_t pid, std::u16string command_line) {
    return process_object(pid, vt_bstr(std::move(command_line)));
}

}  // namespace fake

namespace platform {

using fake::called;
using fake::violation;
using fake::world;

HResult co_initialize_ex(void* reserved, std::uint32_t coinit) {
    called("CoInitializeEx");
    world().record.coinit_flags.push_back(coinit);
    if (reserved != nullptr) violation("CoInitializeEx: reserved pointer not null");
    const HResult result = world().script.co_initialize;
    if (result >= 0) ++world().counters.initializations;
    return result;
}

void co_uninitialize() {
    called("CoUninitialize");
    if (world().counters.uninitializations >= world().counters.initializations) {
        violation("CoUninitialize without a matching successful CoInitializeEx");
    }
    ++world().counters.uninitializations;
}

HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator) {
    called("CoCreateInstance");
    world().record.class_contexts.push_back(class_context);
    fake::expect_null_out(locator, "CoCreateInstance");
    const HResult result = world().script.create_locator;
    if (result >= 0 && locator != nullptr) *locator = fake::create_object("locator");
    return result;
}

HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t flags,
                       ComObject** services) {
    called("ConnectServer");
    fake::usable(locator, "locator", "ConnectServer");
    world().record.namespaces.push_back(fake::bstr_text(name_space, "ConnectServer"));
    world().record.connect_flags.push_back(flags);
    fake::expect_null_out(services, "ConnectServer");
    const HResult result = world().script.connect;
    if (result >= 0 && services != nullptr) *services = fake::create_object("services");
    return result;
}

HResult set_proxy_blanket(ComObject* services, std::uint32_t authentication,
                          std::uint32_t authorization, std::uint32_t authentication_level,
                          std::uint32_t impersonation_level, std::uint32_t capabilities) {
    called("CoSetProxyBlanket");
    fake::usable(services, "services", "CoSetProxyBlanket");
    world().record.proxy_blankets.push_back(
        {authentication, authorization, authentication_level, impersonation_level, capabilities});
    return world().script.proxy_blanket;
}

HResult exec_query(ComObject* services, Bstr language, Bstr query, std::int32_t flags,
                   ComObject** enumerator) {
    called("ExecQuery");
    fake::usable(services, "services", "ExecQuery");
    world().record.query_languages.push_back(fake::bstr_text(language, "ExecQuery"));
    world().record.query_texts.push_back(fake::bstr_text(query, "ExecQuery"));
    world().record.query_flags.push_back(flags);
    fake::expect_null_out(enumerator, "ExecQuery");
    if (world().script.during_query) world().script.during_query();
    const HResult result = world().script.exec_query;
    if (result >= 0 && enumerator != nullptr) *enumerator = fake::create_object("enumerator");
    return result;
}

HResult enumerator_next(ComObject* enumerator, std::int32_t timeout_ms, std::uint32_t count,
                        ComObject** objects, std::uint32_t* returned) {
    called("Next");
    world().record.next_calls.push_back({timeout_ms, count});
    if (!fake::usable(enumerator, "enumerator", "Next")) return e_fail;
    fake::expect_null_out(objects, "Next");
    if (returned == nullptr || *returned != 0) violation("Next: returned count not preset to 0");
    if (objects == nullptr || returned == nullptr) return e_invalidarg;

    const auto& steps = world().script.next_steps;
    if (enumerator->next_step >= steps.size()) return wbem_s_false;
    const fake::NextStep& step = steps[enumerator->next_step++];
    *returned = step.returned;
    if (step.yields_object) {
        ComObject* object = fake::create_object("class object");
        object->properties = step.object;
        *objects = object;
    }
    return step.result;
}

HResult class_object_get(ComObject* object, const char16_t* name, std::int32_t flags,
                         Variant* value) {
    called("Get");
    const std::u16string property_name = name == nullptr ? std::u16string{} : std::u16string(name);
    world().record.get_calls.push_back({property_name, flags});
    if (!fake::usable(object, "class object", "Get")) return e_fail;
    if (value == nullptr) return e_invalidarg;
    if (!fake::all_zero(*value)) violation("Get into a VARIANT that is not zeroed");

    for (const auto& entry : object->properties.properties) {
        if (entry.name != property_name) continue;
        const fake::ComProperty& property = entry.property;
        if (property.get_result < 0) return property.get_result;
        value->vt = property.vt;
        if (property.vt == vt_bstr) {
            value->value.bstr = property.null_bstr ? nullptr : fake::allocate_bstr(property.text);
        } else {
            value->value.int32 = property.int32;
        }
        ++world().counters.variants_filled;
        return property.get_result;
    }
    return fake::wbem_e_not_found;
}

std::uint32_t release(ComObject* object) {
    for (const auto& owned : world().objects) {
        if (owned.get() != object) continue;
        called("Release(" + owned->kind + ")");
        if (owned->references <= 0) {
            violation("Release of a dead " + owned->kind);
            return 0;
        }
        if (--owned->references == 0) --world().counters.live_objects;
        return static_cast<std::uint32_t>(owned->references);
    }
    called("Release(unknown)");
    violation("Release of an unknown object");
    return 0;
}

Bstr sys_alloc_string(const char16_t* text) {
    called("SysAllocString");
    if (text == nullptr || world().script.sys_alloc_fails) return nullptr;
    return fake::allocate_bstr(std::u16string_view(text));
}

void sys_free_string(Bstr text) {
    called("SysFreeString");
    fake::free_bstr(text, "SysFreeString");
}

std::uint32_t sys_string_len(Bstr text) {
    if (text == nullptr) {
        violation("SysStringLen of a null BSTR");
        return 0;
    }
    return static_cast<std::uint32_t>(fake::bstr_text(text, "SysStringLen").size());
}

void variant_clear(Variant* value) {
    called("VariantClear");
    if (value == nullptr) return;
    if (value->vt == vt_bstr) fake::free_bstr(value->value.bstr, "VariantClear");
    *value = Variant{};
    ++world().counters.variants_cleared;
}

}  // namespace platform
