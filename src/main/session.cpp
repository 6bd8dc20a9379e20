// A session from its first line to the end of its input: each line read, split into words,
// answered, and its room given back.
#include "main/session.hpp"

#include <optional>
#include <string_view>
#include <variant>

#include "diagnostics/registry.hpp"
#include "main/output.hpp"
#include "main/request.hpp"
#include "main/request_lines.hpp"
#include "platform/platform.hpp"
#include "rows/cpu_percent.hpp"

namespace app {
namespace {

int answer_line(platform::Processes& processes, std::string_view line,
                rows::EarlierReadings& earlier);

}  // namespace

int serve() {
    // Requests that read the same processes again and again are what a session is for.
    platform::Processes processes{platform::Processes::Keeping::between_requests};
    RequestLines lines;
    rows::EarlierReadings earlier;
    for (;;) {
        const RequestLines::Next next = lines.next();
        if (next.kind == RequestLines::Next::Kind::end) return exit_success;
        if (next.kind == RequestLines::Next::Kind::read_failed) {
            return fail_reading_input(next.error);
        }
        if (const int status = answer_line(processes, next.line, earlier); status != exit_success) {
            return status;
        }
        lines.give_back_room();
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
int answer_line(platform::Processes& processes, std::string_view line,
                rows::EarlierReadings& earlier) {
    diagnostics::clear_registry();
    const platform::Instant start = platform::monotonic_now();
    platform::begin_request(processes);
    LineWords words{line};
    const auto request = read_request(words);
    if (const auto* refused = std::get_if<Refusal>(&request)) return print_refusal(*refused);
    return answer(processes, std::get<Request>(request), start, &earlier);
}

}  // namespace

}  // namespace app
