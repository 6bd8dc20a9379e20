// A process for the end-to-end tests to look at. Started by the tests, never by a user.
//
//   probe_target wait      prints "ready", then stays alive until killed (at most two minutes)
//   probe_target protect   gives itself an empty protected DACL, so nobody can open it, then
//                          prints "ready" and stays alive like wait
//   probe_target exit <n>  ends at once with exit code n
//   probe_target spin      prints "ready", then keeps one processor busy until killed (at
//                          most two minutes)

#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <cwchar>

namespace {

void say(const char* line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(std::strlen(line)),
              &written, nullptr);
}

bool deny_everyone() {
    ACL empty{};
    if (!InitializeAcl(&empty, sizeof(empty), ACL_REVISION)) {
        return false;
    }
    return SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, &empty, nullptr) == ERROR_SUCCESS;
}

int stay_alive() {
    say("ready\n");
    Sleep(120000);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"wait") == 0) {
        return stay_alive();
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"protect") == 0) {
        if (!deny_everyone()) {
            say("failed\n");
            return 2;
        }
        return stay_alive();
    }
    if (argc >= 2 && std::wcscmp(argv[1], L"spin") == 0) {
        say("ready\n");
        volatile unsigned long long sink = 0;
        for (const ULONGLONG end = GetTickCount64() + 120000; GetTickCount64() < end;) {
            for (int i = 0; i < 1000000; ++i) sink = sink + 1;
        }
        return 0;
    }
    if (argc >= 3 && std::wcscmp(argv[1], L"exit") == 0) {
        return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
    }
    say("usage: probe_target <wait|protect|spin|exit n>\n");
    return 2;
}
