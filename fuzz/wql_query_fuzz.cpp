// The query parser of the Linux query service, against the query text the inspect command
// sends (windows::command_line_query).
//
// Properties:
// - any bytes at all: no crash; an accepted text names at least one ID, and the query text
//   built from those IDs parses back to the same list;
// - the query for any ID list, with keywords and names in any letter case, blanks of any kind
//   and amount around every token and leading zeros in the numbers, parses to exactly that
//   list, repeats and order kept.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "platform/procfs/wql_parser.hpp"
#include "windows/command_lines.hpp"

namespace {

void check_any_bytes(std::string_view bytes) {
    const auto pids = procfs::parse_process_query(bytes);
    if (!pids) return;
    FUZZ_CHECK(!pids->empty());
    const auto again = procfs::parse_process_query(windows::command_line_query(*pids));
    FUZZ_CHECK(again && *again == *pids);
}

class QueryWriter {
public:
    explicit QueryWriter(FuzzedDataProvider& input) : input_(input) {}

    // Blanks before a token; a word after a word needs at least one.
    void blanks(bool required) {
        static constexpr char kinds[] = {' ', '\t', '\r', '\n'};
        const int count = input_.ConsumeIntegralInRange<int>(required ? 1 : 0, 2);
        for (int i = 0; i < count; ++i) text_ += input_.PickValueInArray(kinds);
    }

    void word(std::string_view token) {
        const int mode = input_.ConsumeIntegralInRange<int>(0, 3);
        const auto mask = mode == 3 ? input_.ConsumeIntegral<std::uint32_t>() : 0u;
        for (std::size_t i = 0; i < token.size(); ++i) {
            char c = token[i];
            const bool upper = mode == 2 || (mode == 3 && (mask >> (i % 32)) & 1u);
            if ((mode == 1 || (mode == 3 && !upper)) && c >= 'A' && c <= 'Z') c += 'a' - 'A';
            if (upper && c >= 'a' && c <= 'z') c -= 'a' - 'A';
            text_ += c;
        }
    }

    void number(std::uint32_t value) {
        text_.append(input_.ConsumeIntegralInRange<std::size_t>(0, 2), '0');
        text_ += std::to_string(value);
    }

    void symbol(char c) { text_ += c; }

    const std::string& text() const { return text_; }

private:
    FuzzedDataProvider& input_;
    std::string text_;
};

void check_written_query(FuzzedDataProvider& input) {
    std::vector<std::uint32_t> pids(input.ConsumeIntegralInRange<std::size_t>(1, 100));
    for (auto& pid : pids) pid = input.ConsumeIntegral<std::uint32_t>();

    // The text exactly as the inspect command sends it.
    const auto sent = procfs::parse_process_query(windows::command_line_query(pids));
    FUZZ_CHECK(sent && *sent == pids);

    QueryWriter query(input);
    query.blanks(false);
    query.word("SELECT");
    query.blanks(true);
    query.word("ProcessId");
    query.blanks(false);
    query.symbol(',');
    query.blanks(false);
    query.word("CommandLine");
    for (const char* keyword : {"FROM", "Win32_Process", "WHERE"}) {
        query.blanks(true);
        query.word(keyword);
    }
    for (std::size_t i = 0; i < pids.size(); ++i) {
        if (i > 0) {
            query.blanks(true);
            query.word("OR");
        }
        query.blanks(true);
        query.word("ProcessId");
        query.blanks(false);
        query.symbol('=');
        query.blanks(false);
        query.number(pids[i]);
    }
    query.blanks(false);

    const auto parsed = procfs::parse_process_query(query.text());
    FUZZ_CHECK(parsed && *parsed == pids);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_any_bytes(std::string_view(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    check_written_query(input);
    return 0;
}
