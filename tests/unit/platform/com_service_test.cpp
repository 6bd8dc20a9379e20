// The procfs query service against the real /proc: the COM rules the query logic relies on
// (initialisation count, reference counts, BSTR lengths) and the rows it answers with.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/query_service.hpp"
#include "support/linux_tasks.hpp"
#include "support/sanitizers.hpp"
#include "text/utf.hpp"

namespace {

using platform::Bstr;
using platform::ComObject;
using platform::HResult;
using platform::Pid;
using platform::Variant;

const std::string query_prefix = "SELECT ProcessId, CommandLine FROM Win32_Process WHERE ";
// The flags the tool connects with.
constexpr std::int32_t max_wait = platform::wbem_flag_connect_use_max_wait;

// A BSTR made from UTF-8, freed on scope exit.
class OwnedBstr {
public:
    explicit OwnedBstr(const std::string& utf8)
        : text_(platform::sys_alloc_string(text::utf8_to_utf16(utf8).c_str())) {}
    ~OwnedBstr() { platform::sys_free_string(text_); }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    Bstr get() const { return text_; }

private:
    Bstr text_;
};

// A COM object released on scope exit.
class Owned {
public:
    Owned() = default;
    ~Owned() { platform::release(object_); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ComObject** out() { return &object_; }
    ComObject* get() const { return object_; }

private:
    ComObject* object_ = nullptr;
};

// A /bin/sh that waits on its standard input, with the words chosen by the test; it ends when
// the test closes its input.
class WaitingShell : public test_support::WaitingProgram {
public:
    explicit WaitingShell(std::vector<std::string> words)
        : WaitingProgram("/bin/sh", std::move(words)) {}
    // 0 when it did not start.
    Pid pid() const {
        const pid_t pid = WaitingProgram::pid();
        return pid > 0 ? static_cast<Pid>(pid) : 0;
    }
};

std::string own_command_line() {
    std::ifstream cmdline{"/proc/self/cmdline"};
    const std::string raw{std::istreambuf_iterator<char>{cmdline}, {}};
    return procfs::command_line_from_cmdline(raw).value_or("<empty>");
}

// One fetched Win32_Process object, its variants already cleared.
struct Row {
    Pid pid = 0;
    std::uint16_t command_line_type = platform::vt_empty;
    std::string command_line;
};

std::string query_for(const std::vector<Pid>& pids) {
    std::string query = query_prefix;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        if (i > 0) query += " OR ";
        query += "ProcessId=" + std::to_string(pids[i]);
    }
    return query;
}

// A handle held open by the run, as inspect holds one per process while it queries.
class HeldProcess {
public:
    explicit HeldProcess(Pid pid)
        : handle_(platform::open_process(platform::process_query_limited_information, false,
                                         pid)) {}
    ~HeldProcess() { platform::close_handle(handle_); }
    HeldProcess(const HeldProcess&) = delete;
    HeldProcess& operator=(const HeldProcess&) = delete;
    bool opened() const { return handle_ != nullptr; }

private:
    platform::Handle handle_;
};

class ComService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(platform::co_initialize_ex(nullptr, platform::coinit_multithreaded), 0);
        ASSERT_GE(platform::create_wbem_locator(platform::clsctx_inproc_server, locator_.out()),
                  0);
        OwnedBstr name_space{"ROOT\\CIMV2"};
        ASSERT_GE(platform::connect_server(locator_.get(), name_space.get(), max_wait,
                                           services_.out()),
                  0);
    }
    void TearDown() override { platform::co_uninitialize(); }

    HResult exec(const std::string& language, const std::string& query, Owned& enumerator) {
        OwnedBstr query_text{query};
        OwnedBstr language_text{language};
        return platform::exec_query(services_.get(), language_text.get(), query_text.get(),
                                    platform::wbem_flag_forward_only |
                                        platform::wbem_flag_return_immediately,
                                    enumerator.out());
    }

    // Runs the query the way the tool does, holding every process that opens while it runs.
    std::vector<Row> rows(const std::vector<Pid>& pids) {
        std::vector<std::unique_ptr<HeldProcess>> handles;
        for (const Pid pid : pids) handles.push_back(std::make_unique<HeldProcess>(pid));
        return query(pids);
    }

    // Runs the query, one object per Next, until WBEM_S_FALSE.
    std::vector<Row> query(const std::vector<Pid>& pids) {
        Owned enumerator;
        EXPECT_EQ(exec("WQL", query_for(pids), enumerator), platform::s_ok);
        std::vector<Row> fetched;
        for (;;) {
            ComObject* object = nullptr;
            std::uint32_t returned = 0;
            const HResult result = platform::enumerator_next(
                enumerator.get(), platform::enumerator_timeout_ms, 1, &object, &returned);
            if (returned == 0) {
                EXPECT_EQ(result, platform::wbem_s_false);
                return fetched;
            }
            EXPECT_EQ(result, platform::s_ok);
            fetched.push_back(read_row(object));
            EXPECT_EQ(platform::release(object), 0u);
        }
    }

    static Row read_row(ComObject* object) {
        Row row;
        Variant value{};
        EXPECT_EQ(platform::class_object_get(object, u"ProcessId", 0, &value), platform::s_ok);
        EXPECT_EQ(value.vt, platform::vt_i4);
        row.pid = static_cast<Pid>(value.value.int32);
        platform::variant_clear(&value);
        EXPECT_EQ(platform::class_object_get(object, u"CommandLine", 0, &value), platform::s_ok);
        row.command_line_type = value.vt;
        if (value.vt == platform::vt_bstr) {
            row.command_line = text::utf16_to_utf8(procfs::bstr_text(value.value.bstr));
        }
        platform::variant_clear(&value);
        EXPECT_EQ(value.vt, platform::vt_empty);
        return row;
    }

    Owned locator_;
    Owned services_;
};

TEST(ComApartment, CountsInitialisationsPerThread) {
    EXPECT_EQ(platform::co_initialize_ex(nullptr, platform::coinit_multithreaded),
              platform::s_ok);
    EXPECT_EQ(platform::co_initialize_ex(nullptr, platform::coinit_multithreaded),
              platform::s_false);
    // Switching to the single-threaded apartment while initialised is refused.
    EXPECT_EQ(platform::co_initialize_ex(nullptr, 0x2), platform::rpc_e_changed_mode);

    std::thread other{[] {
        ComObject* locator = nullptr;
        EXPECT_LT(platform::create_wbem_locator(platform::clsctx_inproc_server, &locator), 0);
        EXPECT_EQ(locator, nullptr);
        EXPECT_EQ(platform::co_initialize_ex(nullptr, platform::coinit_multithreaded),
                  platform::s_ok);
        platform::co_uninitialize();
    }};
    other.join();

    platform::co_uninitialize();
    ComObject* locator = nullptr;
    EXPECT_EQ(platform::create_wbem_locator(platform::clsctx_inproc_server, &locator),
              platform::s_ok);
    EXPECT_EQ(platform::release(locator), 0u);

    platform::co_uninitialize();
    EXPECT_LT(platform::create_wbem_locator(platform::clsctx_inproc_server, &locator), 0);
    EXPECT_EQ(locator, nullptr);
    EXPECT_EQ(platform::co_initialize_ex(nullptr, platform::coinit_multithreaded),
              platform::s_ok);
    platform::co_uninitialize();
}

TEST_F(ComService, ConnectsOnlyToTheCimv2Namespace) {
    struct Case {
        const char* name_space;
        bool connects;
    };
    const std::vector<Case> cases = {
        {"ROOT\\CIMV2", true},     {"root\\cimv2", true},  {"Root\\CimV2", true},
        {"ROOT\\DEFAULT", false},  {"ROOT", false},        {"", false},
        {"ROOT\\CIMV2\\x", false}, {"ROOT/CIMV2", false},  {"ROOT\\CIMV2 ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name_space);
        OwnedBstr name_space{c.name_space};
        Owned services;
        const HResult result = platform::connect_server(locator_.get(), name_space.get(),
                                                        max_wait, services.out());
        EXPECT_EQ(result >= 0, c.connects);
        EXPECT_EQ(services.get() != nullptr, c.connects);
    }
    Owned services;
    EXPECT_LT(platform::connect_server(locator_.get(), nullptr, max_wait, services.out()), 0);
}

TEST_F(ComService, RunsOnlyTheProcessQueryInWql) {
    struct Case {
        std::string language;
        std::string query;
        bool runs;
    };
    const std::vector<Case> cases = {
        {"WQL", query_prefix + "ProcessId=1", true},
        {"wql", query_prefix + "ProcessId=1 OR ProcessId=1", true},
        {"SQL", query_prefix + "ProcessId=1", false},
        {"WQL", "SELECT * FROM Win32_Process", false},
        {"WQL", query_prefix + "ProcessId=1 OR", false},
        {"WQL", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language + ": " + c.query);
        Owned enumerator;
        EXPECT_EQ(exec(c.language, c.query, enumerator) >= 0, c.runs);
        EXPECT_EQ(enumerator.get() != nullptr, c.runs);
    }
    EXPECT_GE(platform::set_proxy_blanket(services_.get(), platform::rpc_c_authn_winnt,
                                          platform::rpc_c_authz_none,
                                          platform::rpc_c_authn_level_call,
                                          platform::rpc_c_imp_level_impersonate,
                                          platform::eoac_none),
              0);
}

TEST_F(ComService, AnswersEachLiveProcessOnceInAscendingOrder) {
    WaitingShell shell{
        {"/bin/sh", "-c", "read line", "two words", "it's", "caf\xc3\xa9 \xf0\x9f\x98\x80"}};
    ASSERT_GT(shell.pid(), 0u);
    test_support::ParkedThread thread;
    const Pid self = static_cast<Pid>(::getpid());
    const Pid kernel_thread = 2;  // kthreadd, asked about only where this kernel shows it
    std::vector<Pid> asked = {static_cast<Pid>(test_support::pid_max()), shell.pid(),
                              static_cast<Pid>(thread.tid()), self, shell.pid()};
    std::vector<Pid> expected_order = {self, shell.pid()};
    if (test_support::is_kernel_thread(kernel_thread)) {
        asked.insert(asked.begin() + 4, kernel_thread);
        expected_order.push_back(kernel_thread);
    }

    const std::vector<Row> fetched = rows(asked);
    std::sort(expected_order.begin(), expected_order.end());

    std::vector<Pid> order;
    for (const Row& row : fetched) {
        order.push_back(row.pid);
        if (row.pid == shell.pid()) {
            EXPECT_EQ(row.command_line_type, platform::vt_bstr);
            EXPECT_EQ(row.command_line,
                      "/bin/sh -c 'read line' 'two words' 'it'\\''s' "
                      "'caf\xc3\xa9 \xf0\x9f\x98\x80'");
        } else if (row.pid == kernel_thread) {
            // Empty, never null: a null one would fail the query for every other process.
            EXPECT_EQ(row.command_line_type, platform::vt_bstr);
            EXPECT_EQ(row.command_line, "");
        } else {
            EXPECT_EQ(row.command_line_type, platform::vt_bstr);
            EXPECT_FALSE(row.command_line.empty());
        }
    }
    EXPECT_EQ(order, expected_order);
}

// A zombie has ended: listing it with a null command line would fail the query for every
// live process beside it, so it drops out, as it does once reaped.
TEST_F(ComService, EndedProcessesDropOutWhetherReapedOrNot) {
    WaitingShell shell{{"/bin/sh", "-c", "read line"}};
    ASSERT_GT(shell.pid(), 0u);
    const Pid self = static_cast<Pid>(::getpid());
    shell.close_input();
    shell.wait_until_exited();
    std::vector<Row> fetched = rows({shell.pid(), self});
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0].pid, self);
    EXPECT_EQ(fetched[0].command_line_type, platform::vt_bstr);

    const Pid ended = shell.pid();
    shell.end();
    EXPECT_TRUE(rows({ended}).empty());
}

TEST_F(ComService, RunningOutOfDescriptorsFailsTheFetchInsteadOfSkippingTheProcess) {
    if (test_support::address_sanitizer) {
        // UBSan's type check probes memory through a pipe; with no descriptor left it cannot,
        // and reports every object it checks as invalid.
        GTEST_SKIP() << "needs free descriptors under the sanitizers";
    }
    const HeldProcess self{static_cast<Pid>(::getpid())};
    Owned enumerator;
    ASSERT_EQ(exec("WQL", query_for({static_cast<Pid>(::getpid())}), enumerator),
              platform::s_ok);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = ::dup(0);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    ComObject* object = nullptr;
    std::uint32_t returned = 0;
    const HResult starved = platform::enumerator_next(
        enumerator.get(), platform::enumerator_timeout_ms, 1, &object, &returned);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_LT(starved, 0);
    EXPECT_EQ(returned, 0u);

    // With descriptors back, the same process is fetched: it was not skipped.
    EXPECT_EQ(platform::enumerator_next(enumerator.get(), platform::enumerator_timeout_ms, 1,
                                        &object, &returned),
              platform::s_ok);
    ASSERT_EQ(returned, 1u);
    EXPECT_EQ(read_row(object).pid, static_cast<Pid>(::getpid()));
    EXPECT_EQ(platform::release(object), 0u);
}

TEST_F(ComService, ProcessWhoseFirstThreadEndedStillHasItsCommandLine) {
    test_support::HalfExitedChild child;
    ASSERT_EQ(child.state(), 'Z');
    const std::vector<Row> fetched = rows({static_cast<Pid>(child.pid())});
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0].command_line_type, platform::vt_bstr);
    EXPECT_EQ(fetched[0].command_line, own_command_line());
}

// The query reads through the directory a held handle keeps: a process that ended since it was
// opened drops out, whether reaped or not, and one whose first thread ended is read through
// another thread.
TEST_F(ComService, ProcessesThatEndWhileHeldDropOut) {
    // Forked first: a fork made later would keep the shells' input pipes open.
    test_support::HalfExitedChild leaderless;
    WaitingShell live{{"/bin/sh", "-c", "read line", "two words"}};
    WaitingShell zombie{{"/bin/sh", "-c", "read line"}};
    WaitingShell reaped{{"/bin/sh", "-c", "read line"}};
    const std::vector<Pid> pids = {live.pid(), zombie.pid(), reaped.pid(),
                                   static_cast<Pid>(leaderless.pid())};
    std::vector<std::unique_ptr<HeldProcess>> handles;
    for (const Pid pid : pids) {
        handles.push_back(std::make_unique<HeldProcess>(pid));
        ASSERT_TRUE(handles.back()->opened());
    }
    zombie.close_input();
    zombie.wait_until_exited();
    reaped.end();

    std::map<Pid, std::string> found;
    for (const Row& row : query(pids)) {
        EXPECT_EQ(row.command_line_type, platform::vt_bstr);
        found[row.pid] = row.command_line;
    }
    const std::map<Pid, std::string> expected = {
        {live.pid(), "/bin/sh -c 'read line' 'two words'"},
        {static_cast<Pid>(leaderless.pid()), own_command_line()}};
    EXPECT_EQ(found, expected);
}

// The tool asks only about processes it holds open; any other ID has no row.
TEST_F(ComService, AProcessTheRunDoesNotHoldHasNoRow) {
    EXPECT_TRUE(query({static_cast<Pid>(::getpid())}).empty());
    EXPECT_EQ(rows({static_cast<Pid>(::getpid())}).size(), 1u);
}

TEST_F(ComService, EnumeratorStaysAtItsEnd) {
    const HeldProcess self{static_cast<Pid>(::getpid())};
    Owned enumerator;
    ASSERT_EQ(exec("WQL", query_for({static_cast<Pid>(::getpid())}), enumerator),
              platform::s_ok);
    ComObject* objects[2] = {nullptr, nullptr};
    std::uint32_t returned = 7;
    // Asking for two when one is left hands out one and says the end was reached.
    EXPECT_EQ(platform::enumerator_next(enumerator.get(), platform::enumerator_timeout_ms, 2,
                                        objects, &returned),
              platform::wbem_s_false);
    ASSERT_EQ(returned, 1u);
    EXPECT_EQ(platform::release(objects[0]), 0u);
    for (int again = 0; again < 2; ++again) {
        ComObject* object = nullptr;
        EXPECT_EQ(platform::enumerator_next(enumerator.get(), platform::enumerator_timeout_ms,
                                            1, &object, &returned),
                  platform::wbem_s_false);
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(object, nullptr);
    }
}

TEST_F(ComService, ClassObjectKnowsOnlyItsTwoProperties) {
    const HeldProcess self{static_cast<Pid>(::getpid())};
    Owned enumerator;
    ASSERT_EQ(exec("WQL", query_for({static_cast<Pid>(::getpid())}), enumerator),
              platform::s_ok);
    Owned object;
    std::uint32_t returned = 0;
    ASSERT_EQ(platform::enumerator_next(enumerator.get(), platform::enumerator_timeout_ms, 1,
                                        object.out(), &returned),
              platform::s_ok);

    Variant value{};
    EXPECT_EQ(platform::class_object_get(object.get(), u"processid", 0, &value),
              platform::s_ok);
    EXPECT_EQ(value.vt, platform::vt_i4);
    EXPECT_EQ(static_cast<Pid>(value.value.int32), static_cast<Pid>(::getpid()));
    platform::variant_clear(&value);

    for (const char16_t* name : {u"Name", u"ExecutablePath", u"", u"ProcessIdX"}) {
        Variant untouched{};
        EXPECT_LT(platform::class_object_get(object.get(), name, 0, &untouched), 0);
        EXPECT_EQ(untouched.vt, platform::vt_empty);
    }
    EXPECT_LT(platform::class_object_get(object.get(), nullptr, 0, &value), 0);
}

TEST(ComBstr, KeepsItsLengthAndIsFreedByVariantClear) {
    const std::u16string with_zero{u"a\0b", 3};
    Bstr text = procfs::allocate_bstr(with_zero);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(platform::sys_string_len(text), 3u);
    EXPECT_EQ(procfs::bstr_text(text), with_zero);
    EXPECT_EQ(text[3], u'\0');

    // The variant owns the BSTR now; clearing it frees the text (the sanitizer build checks).
    Variant value{};
    value.vt = platform::vt_bstr;
    value.value.bstr = text;
    platform::variant_clear(&value);
    EXPECT_EQ(value.vt, platform::vt_empty);

    Bstr copied = platform::sys_alloc_string(u"stops at the zero\0unit");
    EXPECT_EQ(platform::sys_string_len(copied), 17u);
    platform::sys_free_string(copied);

    Bstr empty = platform::sys_alloc_string(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(platform::sys_string_len(empty), 0u);
    platform::sys_free_string(empty);

    EXPECT_EQ(platform::sys_alloc_string(nullptr), nullptr);
    EXPECT_EQ(platform::sys_string_len(nullptr), 0u);
    platform::sys_free_string(nullptr);

    // A shared text lives until its last holder frees it (the sanitizer build checks both the
    // early free and the leak).
    Bstr held = procfs::allocate_bstr(u"held twice");
    Bstr shared = procfs::share_bstr(held);
    EXPECT_EQ(shared, held);
    platform::sys_free_string(held);
    EXPECT_EQ(procfs::bstr_text(shared), u"held twice");
    platform::sys_free_string(shared);
    EXPECT_EQ(procfs::share_bstr(nullptr), nullptr);
}

}  // namespace
