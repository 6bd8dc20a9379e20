// Each ctest entry runs the tool it is named after: asked to inspect itself, the tool reports the
// file that the entry's ZUL_TEST_TOOL names.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/linux/tool_run.hpp"
#include "support/strict_json.hpp"

namespace {

TEST(ToolUnderTest, IsTheFileTheEntryNames) {
    const char* named = std::getenv("ZUL_TEST_TOOL");
    if (named == nullptr) GTEST_SKIP() << "run by hand: no ctest entry names a tool";
    // The shell becomes the tool, so the process ID it hands over is the tool's own.
    e2e::RunOptions options;
    options.launcher = {"/bin/sh", "-c", "exec \"$0\" \"$@\" $$"};
    const e2e::RunResult run = e2e::run_tool({"inspect"}, options);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto document = testing_support::read_json_line(run.out);
    ASSERT_TRUE(document.has_value()) << run.out;
    const testing_support::JsonNode* rows = document->find("processes");
    ASSERT_TRUE(rows != nullptr && rows->items.size() == 1) << run.out;
    const testing_support::JsonNode* path = rows->items[0].find("executablePath");
    ASSERT_NE(path, nullptr) << run.out;
    EXPECT_EQ(path->text, std::filesystem::canonical(named).string());
}

}  // namespace
