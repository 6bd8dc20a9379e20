#pragma once
// The rows of a run's document, for the end-to-end tests that look at them one by one.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/linux/tool_run.hpp"
#include "support/strict_json.hpp"

namespace e2e {

// The rows of a run that went well: status 0, nothing on standard error, and one line that is
// a document of "samples" or "processes" (after "diagnostics" when they are on). Adds a
// failure and gives no rows otherwise.
inline std::vector<testing_support::JsonNode> rows_of(const RunResult& run) {
    using Kind = testing_support::JsonNode::Kind;
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << ": " << run.err;
    EXPECT_EQ(run.err, "");
    const std::optional<testing_support::JsonNode> document =
        testing_support::read_json_line(run.out);
    if (!document || document->kind != Kind::object || document->members.empty() ||
        document->members.size() > 2 ||
        (document->members.size() == 2 && document->members[0].first != "diagnostics") ||
        (document->members.back().first != "samples" &&
         document->members.back().first != "processes") ||
        document->members.back().second.kind != Kind::array) {
        ADD_FAILURE() << "not a document of rows: " << run.out;
        return {};
    }
    return document->members.back().second.items;
}

// A row's value under `key` as text (a number as written), or "<no key>".
inline std::string text_of(const testing_support::JsonNode& row, const char* key) {
    using Kind = testing_support::JsonNode::Kind;
    const testing_support::JsonNode* value = row.find(key);
    if (value == nullptr || (value->kind != Kind::string && value->kind != Kind::number)) {
        return "<no " + std::string{key} + ">";
    }
    return value->text;
}

// A row's status, or its code when it is an error row.
inline std::string outcome_of(const testing_support::JsonNode& row) {
    return row.find("code") != nullptr ? text_of(row, "code") : text_of(row, "status");
}

// Each row's outcome, in order.
inline std::vector<std::string> outcomes_of(const RunResult& run) {
    std::vector<std::string> outcomes;
    for (const testing_support::JsonNode& row : rows_of(run)) outcomes.push_back(outcome_of(row));
    return outcomes;
}

}  // namespace e2e
