// The inspect rows in the order they are made: each entry's result decided (the recheck, the
// query's failure, the lookup), then its row.
#include "rows/inspect_rows.hpp"

#include <memory>
#include <utility>
#include <variant>

#include "json/string_text.hpp"

namespace rows {
namespace {

std::size_t room_for_rows(const probe::IdentityList& identities,
                          const probe::CommandLineResult& command_lines);
InspectResult result_of(probe::IdentityEntry& entry,
                        const probe::CommandLineResult& command_lines);

}  // namespace

void InspectRowMaker::add(probe::IdentityList identities,
                          const probe::CommandLineResult& command_lines) {
    sink_.expect(room_for_rows(identities, command_lines));
    for (probe::IdentityEntry& entry : identities) {
        sink_.take(InspectRow{entry.pid, result_of(entry, command_lines)});
    }
}

namespace {

using probe::ProbeError;

// What a row takes at most, as the rows' room is counted: a found row its three texts as
// written and less than this besides (keys, quotes, an ID of 10 digits, a creation time of 20);
// any other row less than this in all (the longest code has 17 bytes).
constexpr std::size_t found_row_besides_texts = 128;
constexpr std::size_t other_row = 80;

// Room for every row at its most, counted before any is made, so that the rows' text is
// written into place: growing it would hold it twice for a moment.
std::size_t room_for_rows(const probe::IdentityList& identities,
                          const probe::CommandLineResult& command_lines) {
    const auto* map = std::get_if<probe::CommandLineMap>(&command_lines);
    std::size_t room = 0;
    for (const probe::IdentityEntry& entry : identities) {
        room += other_row + 1;
        if (!entry.outcome.found() || map == nullptr) continue;
        const auto line = map->find(entry.pid);
        if (line == map->end()) continue;
        const probe::ProcessIdentity& identity = *entry.outcome.value();
        room += found_row_besides_texts + json::quoted_length(identity.executable_path) +
                json::quoted_length(line->second);
    }
    return room;
}

// The order of the tests decides which status wins: the recheck first (a process that ended
// during the query is not_found even when the query failed), then the query's own failure,
// then the lookup.
InspectResult checked(std::uint32_t pid, probe::ProcessIdentity& identity,
                      const probe::CommandLineResult& command_lines) {
    const auto alive = probe::alive_and_same(identity.handle, identity.created_at);
    if (const ProbeError* error = std::get_if<ProbeError>(&alive)) return *error;
    if (!std::get<bool>(alive)) return probe::NotFound{};

    if (const ProbeError* failed = std::get_if<ProbeError>(&command_lines)) return *failed;
    const auto& map = std::get<probe::CommandLineMap>(command_lines);
    const auto entry = map.find(pid);
    if (entry == map.end()) return ProbeError{codes::wmi_missing};
    if (entry->second.empty()) return ProbeError{codes::wmi_command_line};
    return InspectedProcess{std::move(identity.created_at), std::move(identity.executable_path),
                            entry->second};
}

InspectResult result_of(probe::IdentityEntry& entry,
                        const probe::CommandLineResult& command_lines) {
    if (entry.outcome.not_found()) return probe::NotFound{};
    if (entry.outcome.is_error()) return entry.outcome.error();
    // Taken out of the list so that it dies here: its handle closes once the result is decided
    // and before the row is built.
    const std::unique_ptr<probe::ProcessIdentity> identity = std::move(entry.outcome.value());
    return checked(entry.pid, *identity, command_lines);
}

}  // namespace
}  // namespace rows
