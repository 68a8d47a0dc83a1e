// A privilege turned on for a walk, against tokens Wine's cannot stand for.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/privileges.h"

using kestrafin::platform::windows::EnabledPrivilege;

namespace {

// The played token: one privilege, held or not, on or off; its calls, one
// letter each: o(pen), e(nable), d(isable), c(lose).
struct {
    bool opens, holds, on;
    std::string calls;
} token;

BOOL WINAPI open_token(HANDLE, DWORD, PHANDLE handle) {
    token.calls += 'o';
    *handle = reinterpret_cast<HANDLE>(42);
    return token.opens;
}
BOOL WINAPI lookup(LPCWSTR, LPCWSTR name, PLUID privilege) {
    *privilege = {17, 0};
    return std::wstring(name) == L"SeBackupPrivilege";
}
// As the system does: success even without the privilege, with
// ERROR_NOT_ALL_ASSIGNED; the previous state names only what changed.
BOOL WINAPI adjust(HANDLE, BOOL, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES previous,
                   PDWORD) {
    const bool enable = state->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED;
    token.calls += enable ? 'e' : 'd';
    if (previous != nullptr) previous->PrivilegeCount = token.holds && token.on != enable ? 1 : 0;
    if (previous != nullptr)
        previous->Privileges[0] = {{17, 0}, token.on ? SE_PRIVILEGE_ENABLED : 0u};
    if (token.holds) token.on = enable;
    ::SetLastError(token.holds ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}
BOOL WINAPI close(HANDLE) {
    token.calls += 'c';
    return TRUE;
}

}  // namespace

TEST(EnabledPrivilege, IsOnForItsLifeWhereTheTokenHoldsItAndIsLeftAsFound) {
    const struct {
        bool opens, holds, on, enabled;
        const char* calls;
    } rows[] = {
        {true, true, false, true, "oedc"},  // held, off: turned off again after
        {true, true, true, true, "oec"},    // held, on already: left on
        {true, false, false, false, "oec"},
        {false, true, false, false, "o"},
    };
    for (const auto& row : rows) {
        token = {row.opens, row.holds, row.on, ""};
        {
            const EnabledPrivilege privilege(L"SeBackupPrivilege",
                                             {open_token, lookup, adjust, close});
            EXPECT_EQ(privilege.enabled(), row.enabled) << row.calls;
            EXPECT_EQ(token.on, row.enabled) << row.calls;
        }
        EXPECT_EQ(token.calls, row.calls);
        EXPECT_EQ(token.on, row.on) << row.calls;
    }
}
