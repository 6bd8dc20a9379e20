// A session from its first line to the end of its input: each line read, split into words,
// answered, and its room given back.
#include "main/session.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "diagnostics/registry.hpp"
#include "diagnostics/timing_scope.hpp"
#include "main/output.hpp"
#include "main/request.hpp"
#include "main/request_lines.hpp"
#include "platform/platform.hpp"
#include "rows/cpu_percent.hpp"

namespace app {
namespace {

int answer_line(platform::Processes& processes, std::string_view line, SessionCarry& carry);

// The block of an answer is kept for the next up to this size, a monitor's answers of a few
// thousand rows; a larger one goes back once written, so that a session's memory returns to
// its usual size after every request.
constexpr std::size_t kept_answer_room = 1 << 20;

}  // namespace

std::optional<Serve> serve_command(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] != "serve") return std::nullopt;
    if (arguments.size() == 1) return Serve{};
    constexpr std::string_view option = "--forget-after=";
    if (arguments.size() != 2 || !arguments[1].starts_with(option)) return std::nullopt;
    const std::string_view digits = std::string_view{arguments[1]}.substr(option.size());
    if (digits.empty()) return std::nullopt;
    std::uint64_t seconds = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') return std::nullopt;
        seconds = 10 * seconds + static_cast<std::uint64_t>(digit - '0');
        if (seconds > longest_forget_after_seconds) return std::nullopt;
    }
    if (seconds == 0) return std::nullopt;
    return Serve{seconds};
}

int serve(const Serve& options) {
    // Requests that read the same processes again and again are what a session is for.
    platform::Processes processes{platform::Processes::Keeping::between_requests};
    RequestLines lines;
    // What was kept for processes that ended goes within seconds, whether or not requests come.
    lines.while_waiting([&] { return platform::forget_idle_processes(processes); });
    SessionCarry carry{rows::EarlierReadings{options.forget_after_seconds}, {}};
    for (;;) {
        const RequestLines::Next next = lines.next();
        if (next.kind == RequestLines::Next::Kind::end) return exit_success;
        if (next.kind == RequestLines::Next::Kind::read_failed) {
            return fail_reading_input(next.error);
        }
        if (const int status = answer_line(processes, next.line, carry); status != exit_success) {
            return status;
        }
        lines.give_back_room();
        if (carry.answer_room.capacity() > kept_answer_room) std::string{}.swap(carry.answer_room);
    }
}

namespace {

// The words of a line, one at a time: what lies between blanks (spaces and tabs). Any other
// byte belongs to a word, a NUL as much as a carriage return inside the line. Bytes that are
// not UTF-8 stay as they are: the one-shot reads them as U+FFFD, and either way a word that
// holds them is neither a command word nor an ID, so the answer is the same.
class LineWords {
public:
    explicit LineWords(std::string_view line) : rest_(line) {}

    std::optional<std::string_view> operator()() {
        constexpr std::string_view blanks = " \t";
        const std::size_t begin = rest_.find_first_not_of(blanks);
        if (begin == std::string_view::npos) return std::nullopt;
        rest_.remove_prefix(begin);
        const std::string_view word = rest_.substr(0, rest_.find_first_of(blanks));
        rest_.remove_prefix(word.size());
        return word;
    }

private:
    std::string_view rest_;
};

// Each request is measured on its own: its answer's diagnostics start from an empty registry,
// and its "main" from the moment its line was read.
int answer_line(platform::Processes& processes, std::string_view line, SessionCarry& carry) {
    diagnostics::clear_registry();
    const platform::Instant start = platform::monotonic_now();
    platform::begin_request(processes);
    // The environment cannot change within a request: its switch is read once.
    const diagnostics::HeldSwitch held;
    LineWords words{line};
    const auto request = read_request(words);
    if (const auto* refused = std::get_if<Refusal>(&request)) return print_refusal(*refused);
    return answer(processes, std::get<Request>(request), start, &carry);
}

}  // namespace

}  // namespace app
