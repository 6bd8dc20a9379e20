// The whole run over the fake platform, with everything the platform can answer chosen by the
// fuzzer: the command line, the diagnostics switch, each process's answers and failures
// (exit codes, creation times that change, image names of any UTF-16 units), every COM/WMI
// answer (failed calls, results of any type, duplicate or unknown IDs, command lines with
// unpaired surrogates) and failing output streams; sometimes a session instead, whose input
// lines are made of such command lines (blanks and line ends of every kind, any bytes), and
// whose input may fail.
//
// Properties:
// - status 0: nothing on standard error, and standard output is one compact document and a
//   line feed: it parses strictly, is valid UTF-8, holds "samples" or "processes" (and
//   "diagnostics" exactly when switched on) with one row per distinct ID in order, and each
//   row has a known status and, when an error, a known code;
// - status 1: nothing on standard output and one known message line on standard error;
// - status 101: only when a stream failed, and nothing on standard output;
// - a session: status 0 or 101 (101 only when a stream failed), and one answer a line of its
//   input, each the one that line's words call for: {"error":<message>} with the message of
//   the first word that fails, or a document as above;
// - whatever happened: every handle closed once, every COM object released, every BSTR freed,
//   every VARIANT cleared, COM uninitialised as often as initialised.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "fuzz_check.hpp"
#include "main/run.hpp"
#include "main/positive_pids.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

// The IDs the fuzzer scripts; others are unknown to the fake (not found).
constexpr std::uint32_t scripted_pids = 6;

class World {
public:
    explicit World(FuzzedDataProvider& input) : input_(input) {}

    // Once the bytes run out every choice reads as its minimum, so the rare case is the
    // maximum: a short input describes an ordinary world.
    bool rarely(int one_in) { return input_.ConsumeIntegralInRange(1, one_in) == one_in; }

    std::u16string units(std::size_t most) {
        std::u16string out(input_.ConsumeIntegralInRange<std::size_t>(0, most), u'\0');
        for (auto& unit : out) {
            // Mostly plain letters, sometimes any unit, surrogates included.
            unit = input_.ConsumeBool() ? char16_t(u'a' + input_.ConsumeIntegralInRange(0, 25))
                                        : input_.ConsumeIntegral<char16_t>();
        }
        return out;
    }

    fake::Failing failing() {
        switch (input_.ConsumeIntegralInRange(0, 3)) {
        case 2: return fake::always;
        case 3: return fake::from_call(input_.ConsumeIntegralInRange(1u, 4u));
        default: return fake::never;
        }
    }

    template <typename T>
    std::vector<T> sequence(const std::vector<T>& choices) {
        std::vector<T> out(input_.ConsumeIntegralInRange<std::size_t>(1, 3));
        for (auto& each : out) {
            each = choices[input_.ConsumeIntegralInRange<std::size_t>(0, choices.size() - 1)];
        }
        return out;
    }

    void script_process(fake::Process& process) {
        process.open_fails = failing();
        process.open_error = input_.PickValueInArray({5u, 87u, 31u});
        process.open_takes_nanos = input_.ConsumeIntegralInRange<std::uint64_t>(0, 5'000'000);
        process.exit_code_fails = failing();
        process.exit_codes = sequence<std::uint32_t>({fake::still_active, 0, 1});
        process.times_fail = failing();
        process.creation_ticks = sequence<std::uint64_t>(
            {133'000'000'000'000'000, 133'000'000'000'000'001, 0, UINT64_MAX});
        process.image_replaced = failing();
        process.kernel_ticks = input_.ConsumeIntegral<std::uint64_t>();
        process.user_ticks = input_.ConsumeIntegral<std::uint64_t>();
        process.memory_fails = failing();
        process.working_set = input_.ConsumeIntegral<std::uint64_t>();
        process.peak_working_set = input_.ConsumeIntegral<std::uint64_t>();
        process.image_name_fails = failing();
        if (rarely(16)) {
            process.image_name = std::u16string(fake::image_name_units, u'x');
        } else {
            process.image_name = rarely(8) ? units(40) : u"C:\\bin\\" + units(20);
        }
    }

    platform::HResult hresult() {
        return rarely(5)
                   ? input_.PickValueInArray({platform::e_fail, platform::rpc_e_changed_mode,
                                              platform::s_false, platform::wbem_e_invalid_query})
                   : platform::s_ok;
    }

    fake::ComProperty property(bool is_pid) {
        switch (input_.ConsumeIntegralInRange(0, 7)) {
        case 7: return fake::failing_get(
            input_.PickValueInArray<platform::HResult>({platform::e_fail, platform::e_invalidarg}));
        case 1: return fake::vt_null();
        case 2: return fake::null_bstr();
        case 3: return fake::of_type(input_.ConsumeIntegral<std::uint16_t>());
        case 4: return fake::vt_i4(input_.ConsumeIntegral<std::int32_t>());
        case 5: return fake::vt_bstr(units(30));
        default:
            if (is_pid) return fake::vt_ui4(input_.ConsumeIntegralInRange(1u, scripted_pids + 1));
            return fake::vt_bstr(units(30));
        }
    }

    fake::NextStep result_for(std::uint32_t pid) {
        fake::NextStep step;
        step.result = rarely(16) ? input_.PickValueInArray({platform::wbem_s_timedout,
                                                            platform::wbem_s_false,
                                                            platform::e_fail})
                                 : platform::s_ok;
        step.returned = rarely(16) ? 0 : 1;
        step.yields_object = !rarely(16);
        step.object.properties.push_back(
            {u"ProcessId", rarely(8) ? property(true) : fake::vt_ui4(pid)});
        step.object.properties.push_back(
            {u"CommandLine", rarely(6) ? property(false) : fake::vt_bstr(u"app " + units(30))});
        return step;
    }

    void script_com() {
        fake::ComScript script;
        script.co_initialize = hresult();
        script.create_locator = hresult();
        script.connect = hresult();
        script.proxy_blanket = hresult();
        script.exec_query = hresult();
        script.sys_alloc_fails = rarely(16);
        // Mostly one result per scripted process, as WMI answers; sometimes one missing, a
        // stray or repeated ID, a failed or empty step, or a property of another type.
        for (std::uint32_t pid = 1; pid <= scripted_pids; ++pid) {
            if (!rarely(8)) script.next_steps.push_back(result_for(pid));
        }
        const auto strays = input_.ConsumeIntegralInRange<std::size_t>(0, 2);
        for (std::size_t i = 0; i < strays; ++i) {
            script.next_steps.push_back(result_for(input_.ConsumeIntegralInRange(1u, 9u)));
        }
        fake::reset_com(std::move(script));
    }

    std::vector<std::string> arguments() {
        std::vector<std::string> out;
        switch (input_.ConsumeIntegralInRange(0, 15)) {
        case 14: break;
        case 15: out.push_back(input_.ConsumeRandomLengthString(8)); break;
        default: out.push_back(input_.ConsumeBool() ? "sample" : "inspect"); break;
        }
        const auto count = input_.ConsumeIntegralInRange<std::size_t>(0, 8);
        for (std::size_t i = 0; i < count; ++i) {
            if (rarely(16)) {
                out.push_back(input_.ConsumeRandomLengthString(12));
            } else {
                const auto pid = input_.ConsumeIntegralInRange(1u, scripted_pids + 2);
                out.push_back(std::string(input_.ConsumeIntegralInRange(0, 2), '0') +
                              std::to_string(pid));
            }
        }
        return out;
    }

    // Lines of command lines: each set of words joined by blanks, ended by LF or CR LF, the
    // last one sometimes not ended at all.
    std::string session_input() {
        std::string input;
        const auto lines = input_.ConsumeIntegralInRange<std::size_t>(0, 4);
        for (std::size_t line = 0; line < lines; ++line) {
            for (const std::string& word : arguments()) {
                input += input_.PickValueInArray({" ", "\t", " \t "});
                input += word;
            }
            if (line + 1 < lines || !rarely(4)) input += rarely(3) ? "\r\n" : "\n";
        }
        return input;
    }

    void streams(bool& out_fails, bool& err_fails) {
        out_fails = rarely(16);
        err_fails = rarely(16);
        if (out_fails) fake::fail_stream(platform::Stream::out, "No space left on device");
        if (err_fails) fake::fail_stream(platform::Stream::err, "Broken pipe");
    }

private:
    FuzzedDataProvider& input_;
};

bool is_one_line(const std::string& text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

const std::set<std::string_view> known_messages{
    "usage: zul-process <inspect|sample> <pid> [pid...]",
    app::messages::none_given,
    app::messages::not_decimal,
    app::messages::out_of_range,
    app::messages::zero,
};

const std::set<std::string_view> sample_codes{"OPEN_PROCESS", "PROCESS_STATE", "PROCESS_TIMES",
                                              "PROCESS_MEMORY"};

const std::set<std::string_view> inspect_codes{
    "OPEN_PROCESS",    "PROCESS_STATE",    "PROCESS_TIMES",     "PROCESS_PATH",
    "PROCESS_CHANGED", "WMI_MISSING",      "WMI_COMMAND_LINE",  "COM_INIT",
    "WMI_LOCATOR",     "WMI_CONNECT",      "WMI_PROXY",         "WMI_QUERY",
    "WMI_ENUMERATION", "WMI_PID",          "WMI_PID_TYPE",      "WMI_PROPERTY",
    "WMI_PROPERTY_TYPE", "WMI_DUPLICATE"};

void check_row(const JsonNode& row, std::uint32_t pid, bool is_sample) {
    FUZZ_CHECK(row.kind == JsonNode::Kind::object);
    const JsonNode* row_pid = row.find("pid");
    FUZZ_CHECK(row_pid && row_pid->text == std::to_string(pid));
    const JsonNode* status = row.find("status");
    FUZZ_CHECK(status && status->kind == JsonNode::Kind::string);
    const std::string& state = status->text;
    FUZZ_CHECK(state == "found" || state == "not_found" || state == "error");
    const JsonNode* code = row.find("code");
    FUZZ_CHECK((code != nullptr) == (state == "error"));
    if (code) {
        FUZZ_CHECK(code->kind == JsonNode::Kind::string);
        FUZZ_CHECK((is_sample ? sample_codes : inspect_codes).count(code->text) == 1);
    }
    if (is_sample) {
        // A rate only between two readings, and never below zero.
        const JsonNode* percent = row.find("cpuPercent");
        FUZZ_CHECK(percent != nullptr);
        FUZZ_CHECK(percent->kind == JsonNode::Kind::null ||
                   (state == "found" && percent->kind == JsonNode::Kind::number &&
                    percent->as_double() >= 0.0));
        const JsonNode* unavailable = row.find("unavailable");
        FUZZ_CHECK(unavailable != nullptr);
        if (state == "found") FUZZ_CHECK(unavailable->kind == JsonNode::Kind::null);
        if (state == "not_found") FUZZ_CHECK(unavailable->text == "PROCESS_NOT_FOUND");
        if (state == "error") FUZZ_CHECK(unavailable->text == code->text);
    } else if (state == "found") {
        for (const char* key : {"commandLine", "createdAt", "executablePath"}) {
            const JsonNode* field = row.find(key);
            FUZZ_CHECK(field && field->kind == JsonNode::Kind::string);
        }
    }
}

void check_document(const std::string& out, const std::vector<std::string>& arguments,
                    bool diagnostics_on) {
    // One line of valid UTF-8 in the writer's exact forms.
    const auto parsed = testing_support::read_json_line(out);
    FUZZ_CHECK(parsed.has_value() && parsed->kind == JsonNode::Kind::object);

    const bool is_sample = arguments[0] == "sample";
    const auto pids = std::get<std::vector<std::uint32_t>>(
        app::positive_pids(std::span<const std::string>(arguments).subspan(1)));
    FUZZ_CHECK(parsed->members.size() == (diagnostics_on ? 2u : 1u));
    FUZZ_CHECK((parsed->find("diagnostics") != nullptr) == diagnostics_on);
    const JsonNode* rows = parsed->find(is_sample ? "samples" : "processes");
    FUZZ_CHECK(rows && rows->kind == JsonNode::Kind::array && rows->items.size() == pids.size());
    for (std::size_t i = 0; i < pids.size(); ++i) check_row(rows->items[i], pids[i], is_sample);
}

// The words of a session's line, the line feed gone: its line, one CR at its end dropped,
// split at spaces and tabs.
std::vector<std::string> words_of_line(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    std::size_t start = 0;
    while ((start = line.find_first_not_of(" \t", start)) != std::string::npos) {
        const std::size_t end = line.find_first_of(" \t", start);
        words.push_back(line.substr(start, end - start));
        start = end;
    }
    return words;
}

// The refusal a session's words call for, if any.
std::optional<std::string_view> refusal_of(const std::vector<std::string>& words) {
    if (words.empty() || (words[0] != "sample" && words[0] != "inspect")) {
        return "usage: zul-process <inspect|sample> <pid> [pid...]";
    }
    const auto pids = app::positive_pids(std::span<const std::string>(words).subspan(1));
    if (const auto* message = std::get_if<app::PidMessage>(&pids)) return message->text;
    return std::nullopt;
}

void check_session(const std::string& input, const std::string& out, bool diagnostics_on) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        lines.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    std::size_t at = 0;
    for (const std::string& line : lines) {
        const std::size_t end = out.find('\n', at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string answer = out.substr(at, end + 1 - at);
        at = end + 1;
        const std::vector<std::string> words = words_of_line(line);
        if (const auto refusal = refusal_of(words)) {
            FUZZ_CHECK(answer == R"({"error":")" + std::string(*refusal) + "\"}\n");
        } else {
            check_document(answer, words, diagnostics_on);
        }
    }
    FUZZ_CHECK(at == out.size());
}

void check_balanced() {
    FUZZ_CHECK(fake::open_handles() == 0);
    for (const std::string& violation : fake::violations()) {
        std::fprintf(stderr, "handle misuse: %s\n", violation.c_str());
    }
    FUZZ_CHECK(fake::violations().empty());
    const fake::ComCounters& counters = fake::com_counters();
    FUZZ_CHECK(counters.live_objects == 0);
    FUZZ_CHECK(counters.live_bstrs == 0);
    FUZZ_CHECK(counters.variants_filled == counters.variants_cleared);
    FUZZ_CHECK(counters.initializations == counters.uninitializations);
    for (const std::string& violation : fake::com_violations()) {
        std::fprintf(stderr, "COM misuse: %s\n", violation.c_str());
    }
    FUZZ_CHECK(fake::com_violations().empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    World world(input);
    fake::reset_processes();
    fake::reset_runtime();
    // A session's lines are drawn first, while the input still has bytes to give.
    const bool session = world.rarely(4);
    const std::string session_input = session ? world.session_input() : std::string{};

    const auto arguments = world.arguments();
    fake::set_arguments(arguments);
    const bool diagnostics_on = world.rarely(4);
    if (diagnostics_on) fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
    fake::set_clock_step(input.ConsumeIntegralInRange<std::uint64_t>(0, 2'000'000));
    bool out_fails = false;
    bool err_fails = false;
    world.streams(out_fails, err_fails);
    world.script_com();
    for (std::uint32_t pid = 1; pid <= scripted_pids; ++pid) {
        world.script_process(fake::process(pid));
    }
    world.script_process(fake::self_process());
    bool input_fails = false;
    if (session) {
        fake::set_arguments({"serve"});
        fake::add_input(session_input);
        input_fails = world.rarely(8);
        if (input_fails) fake::fail_input("Input/output error");
    }

    const int status = app::run();
    const std::string& out = fake::captured(platform::Stream::out);
    const std::string& err = fake::captured(platform::Stream::err);

    if (session) {
        if (status == 0) {
            // An output that fails is not met by a session with nothing to answer.
            FUZZ_CHECK(!input_fails && (!out_fails || session_input.empty()));
            FUZZ_CHECK(err.empty());
            check_session(session_input, out, diagnostics_on);
        } else {
            FUZZ_CHECK(status == 101);
            FUZZ_CHECK(out_fails || input_fails);
        }
        check_balanced();
        return 0;
    }

    switch (status) {
    case 0:
        FUZZ_CHECK(!out_fails);
        FUZZ_CHECK(err.empty());
        check_document(out, arguments, diagnostics_on);
        break;
    case 1:
        FUZZ_CHECK(!err_fails);
        FUZZ_CHECK(out.empty());
        FUZZ_CHECK(is_one_line(err));
        FUZZ_CHECK(known_messages.count(std::string_view(err).substr(0, err.size() - 1)) == 1);
        break;
    case 101:
        FUZZ_CHECK(out_fails || err_fails);
        FUZZ_CHECK(out.empty());
        break;
    default:
        FUZZ_CHECK(status == 0 || status == 1 || status == 101);
    }
    check_balanced();
    return 0;
}
