// Turning a privilege on for a walk, against tokens that Wine's own cannot
// stand for: one that lacks the privilege, one that has it off, one that has
// it on already.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/privileges.h"

using kestrafin::platform::windows::EnabledPrivilege;
using kestrafin::platform::windows::TokenCalls;

namespace {

// The played token: one privilege, held or not, on or off; every call kept.
struct PlayedToken {
    bool opens = true;
    bool holds = true;
    bool on = false;
    std::vector<std::string> calls;
};
PlayedToken played;
const LUID kBackup{17, 0};
const HANDLE kToken = reinterpret_cast<HANDLE>(0x4242);

BOOL WINAPI open_token(HANDLE, DWORD access, PHANDLE token) {
    played.calls.push_back(access == (TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) ? "open" : "open?");
    if (!played.opens) return FALSE;
    *token = kToken;
    return TRUE;
}

BOOL WINAPI lookup(LPCWSTR, LPCWSTR name, PLUID privilege) {
    if (std::wstring(name) != L"SeBackupPrivilege") return FALSE;
    *privilege = kBackup;
    return TRUE;
}

// As the system does: success even when the token lacks the privilege, with
// ERROR_NOT_ALL_ASSIGNED; the previous state names only what changed.
BOOL WINAPI adjust(HANDLE token, BOOL, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES previous,
                   PDWORD) {
    const bool enable = state->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED;
    played.calls.push_back(token != kToken                               ? "adjust?"
                           : state->Privileges[0].Luid.LowPart != 17     ? "adjust?"
                           : enable                                      ? "enable"
                                                                         : "disable");
    if (previous != nullptr) previous->PrivilegeCount = 0;
    if (!played.holds) {
        ::SetLastError(ERROR_NOT_ALL_ASSIGNED);
        return TRUE;
    }
    if (played.on != enable && previous != nullptr) {
        previous->PrivilegeCount = 1;
        previous->Privileges[0] = {kBackup, played.on ? SE_PRIVILEGE_ENABLED : 0u};
    }
    played.on = enable;
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI close(HANDLE token) {
    played.calls.push_back(token == kToken ? "close" : "close?");
    return TRUE;
}

const TokenCalls kPlayed{open_token, lookup, adjust, close};

}  // namespace

TEST(EnabledPrivilege, IsOnForItsLifeOnlyWhereTheTokenHoldsItAndIsLeftAsFound) {
    const struct {
        const char* token;
        bool opens, holds, on;
        bool enabled;
        std::vector<std::string> calls;
        bool on_after;
    } rows[] = {
        {"holds it, off", true, true, false, true, {"open", "enable", "disable", "close"}, false},
        {"holds it, on", true, true, true, true, {"open", "enable", "close"}, true},
        {"lacks it", true, false, false, false, {"open", "enable", "close"}, false},
        {"cannot be opened", false, true, false, false, {"open"}, false},
    };
    for (const auto& row : rows) {
        played = {.opens = row.opens, .holds = row.holds, .on = row.on, .calls = {}};
        {
            const EnabledPrivilege privilege(L"SeBackupPrivilege", kPlayed);
            EXPECT_EQ(privilege.enabled(), row.enabled) << row.token;
            EXPECT_EQ(played.on, row.enabled) << row.token;
        }
        EXPECT_EQ(played.calls, row.calls) << row.token;
        EXPECT_EQ(played.on, row.on_after) << row.token;
    }
}
