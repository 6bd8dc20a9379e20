#pragma once
// The fake COM and WMI service: every call answers from a script and records what it was given.
//
// It keeps the books a real COM runtime keeps only in its head: live objects and their reference
// counts, live BSTRs, filled and cleared VARIANTs and the initialisation balance. Misuse (a
// release of a dead object, a free of an unknown BSTR, an uninitialisation without a matching
// initialisation, an out pointer not preset to null) is written to `violations` instead of
// crashing, so a test can assert that nothing of the sort happened.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/com_calls.hpp"

namespace fake {

// One property of a scripted class object, as IWbemClassObject::Get hands it out.
struct ComProperty {
    platform::HResult get_result = platform::s_ok;
    std::uint16_t vt = platform::vt_empty;
    std::int32_t int32 = 0;        // the value of a VT_I4 or VT_UI4
    std::u16string text;           // the value of a VT_BSTR
    bool null_bstr = false;        // a VT_BSTR whose string pointer is null
};

struct ComPropertyEntry {
    std::u16string name;
    ComProperty property;
};

// A Win32_Process result. Properties not listed answer Get with WBEM_E_NOT_FOUND.
struct ClassObjectScript {
    std::vector<ComPropertyEntry> properties;
};

// One answer of IEnumWbemClassObject::Next.
struct NextStep {
    platform::HResult result = platform::s_ok;
    std::uint32_t returned = 1;
    bool yields_object = true;  // false: the object pointer stays null
    ClassObjectScript object;
};

struct ComScript {
    platform::HResult co_initialize = platform::s_ok;
    platform::HResult create_locator = platform::s_ok;
    platform::HResult connect = platform::s_ok;
    platform::HResult proxy_blanket = platform::s_ok;
    platform::HResult exec_query = platform::s_ok;
    bool sys_alloc_fails = false;  // SysAllocString answers null
    // Runs inside ExecQuery, so a test can look at the rest of the world while the query runs.
    std::function<void()> during_query;
    // Answered in order; once they run out, Next reports the end (WBEM_S_FALSE, count 0).
    std::vector<NextStep> next_steps;
};

struct ProxyBlanketCall {
    std::uint32_t authentication = 0;
    std::uint32_t authorization = 0;
    std::uint32_t authentication_level = 0;
    std::uint32_t impersonation_level = 0;
    std::uint32_t capabilities = 0;
};

struct NextCall {
    std::int32_t timeout_ms = 0;
    std::uint32_t count = 0;
};

struct GetCall {
    std::u16string name;
    std::int32_t flags = 0;
};

// What the calls were given, in the order they came.
struct ComRecord {
    // Every call by its published name; releases name the object: "Release(locator)".
    std::vector<std::string> calls;
    std::vector<std::uint32_t> coinit_flags;
    std::vector<std::uint32_t> class_contexts;
    std::vector<std::u16string> namespaces;
    std::vector<std::int32_t> connect_flags;
    std::vector<ProxyBlanketCall> proxy_blankets;
    std::vector<std::u16string> query_languages;
    std::vector<std::u16string> query_texts;
    std::vector<std::int32_t> query_flags;
    std::vector<NextCall> next_calls;
    std::vector<GetCall> get_calls;
};

struct ComCounters {
    int live_objects = 0;
    int live_bstrs = 0;
    int variants_filled = 0;   // successful Gets
    int variants_cleared = 0;  // VariantClear calls
    int initializations = 0;   // CoInitializeEx calls that succeeded
    int uninitializations = 0;
};

// Replaces the script and forgets every record, counter and violation.
void reset_com(ComScript script = {});

ComScript& com_script();
const ComRecord& com_record();
const ComCounters& com_counters();
const std::vector<std::string>& com_violations();

// Scripting helpers.
ComProperty vt_i4(std::int32_t value);
ComProperty vt_ui4(std::uint32_t value);
ComProperty vt_bstr(std::u16string text);
ComProperty vt_null();
ComProperty null_bstr();
ComProperty failing_get(platform::HResult result);
ComProperty of_type(std::uint16_t vt);

// A result object with "ProcessId" as VT_UI4 and "CommandLine" as the given property.
NextStep process_object(std::uint32_t pid, ComProperty command_line);
NextStep process_object(std::uint32_t pid, std::u16string command_line);
NextStep object_with(ComProperty process_id, ComProperty command_line);
// An answer of Next that hands out no object.
NextStep no_object(platform::HResult result, std::uint32_t returned);

}  // namespace fake
