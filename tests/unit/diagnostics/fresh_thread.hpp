#pragma once
// The registry belongs to its thread and is never cleared, so every test records on a thread
// of its own and hands back what it saw; assertions then run on the test's thread.

#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/registry.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"

namespace diagnostics_test {

template <typename Work>
auto on_fresh_thread(Work work) {
    std::optional<decltype(work())> result;
    std::thread([&] { result.emplace(work()); }).join();
    return std::move(*result);
}

// The calling thread's registry rows, copied.
inline std::vector<diagnostics::FunctionStats> registry_rows() {
    const diagnostics::RegistryReader reader;
    return {reader.rows().begin(), reader.rows().end()};
}

inline std::vector<std::string_view> names_of(const std::vector<diagnostics::FunctionStats>& rows) {
    std::vector<std::string_view> names;
    for (const auto& row : rows) names.push_back(row.name);
    return names;
}

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset_runtime();
        fake::reset_processes();
    }
    void switch_on() { fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1"); }
};

}  // namespace diagnostics_test
