// The tool's own WMI query with ten thousand conditions, on a stack as large as the tool's.
// Under Wine the service runs inside the calling process and its WQL parser recurses once per
// condition, so a stack that is too small ends the program instead of the query.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <variant>
#include <vector>

#include "launch.hpp"
#include "probe/wmi_query.hpp"

namespace e2e {
namespace {

constexpr std::size_t conditions = 10000;

// SizeOfStackReserve from the PE header of the built tool: its main thread's stack.
std::optional<std::uint64_t> stack_reserve_of(const std::filesystem::path& path) {
    std::ifstream file{path, std::ios::binary};
    IMAGE_DOS_HEADER dos{};
    if (!file.read(reinterpret_cast<char*>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return std::nullopt;
    }
    IMAGE_NT_HEADERS64 nt{};
    file.seekg(dos.e_lfanew);
    if (!file.read(reinterpret_cast<char*>(&nt), sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
        nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return std::nullopt;
    }
    return nt.OptionalHeader.SizeOfStackReserve;
}

struct Query {
    std::vector<std::uint32_t> pids;
    probe::CommandLineResult result;
};

DWORD WINAPI run_query(void* argument) {
    auto* query = static_cast<Query*>(argument);
    query->result = probe::wmi_command_lines(query->pids);
    return 0;
}

TEST(WindowsWmiDepth, TenThousandConditionsFitTheToolsStack) {
    if (!under_wine()) {
        GTEST_SKIP() << "Windows parses the query in its WMI service, not on the caller's stack";
    }
    const std::optional<std::uint64_t> reserve = stack_reserve_of(tool_path());
    ASSERT_TRUE(reserve.has_value()) << "cannot read " << narrow(tool_path());

    // This process, then IDs that are not multiples of four: no process has them, so only
    // this process comes back, with its own command line.
    Query query;
    const DWORD self = GetCurrentProcessId();
    query.pids.push_back(self);
    for (std::uint32_t id = 1; query.pids.size() < conditions; ++id) {
        if (id % 4 != 0) query.pids.push_back(id);
    }

    HANDLE thread = CreateThread(nullptr, static_cast<SIZE_T>(*reserve), run_query, &query,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    OwnedHandle owned{thread};
    ASSERT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);

    const auto* map = std::get_if<probe::CommandLineMap>(&query.result);
    ASSERT_NE(map, nullptr) << std::get<probe::ProbeError>(query.result).code;
    ASSERT_EQ(map->size(), 1u);
    ASSERT_EQ(map->count(self), 1u);
    EXPECT_FALSE(map->at(self).empty());
}

}  // namespace
}  // namespace e2e
