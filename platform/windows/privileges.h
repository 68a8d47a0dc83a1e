// Privileges of the process's token turned on for a while. The token calls
// are one seam, so that tests play a token that holds a privilege, lacks it,
// or has it on already, which Wine's token cannot show. Included only by the
// Windows backends and by tests.
#pragma once

#include "platform/windows/system.h"

namespace kestrafin::platform::windows {

// The token calls, as the system declares them.
struct TokenCalls {
    BOOL(WINAPI* open_process_token)(HANDLE process, DWORD access, PHANDLE token);
    BOOL(WINAPI* lookup_privilege_value)(LPCWSTR system, LPCWSTR name, PLUID privilege);
    BOOL(WINAPI* adjust_token_privileges)(HANDLE token, BOOL disable_all, PTOKEN_PRIVILEGES state,
                                          DWORD size, PTOKEN_PRIVILEGES previous, PDWORD length);
    BOOL(WINAPI* close_handle)(HANDLE handle);
};

// The system's own.
TokenCalls system_token_calls();

// Turns the privilege `name` (SE_BACKUP_NAME, say) on in the process's token
// while alive, where the token holds it; when dropped, turns it off again if
// it was off before. Never fails: a privilege that cannot be turned on
// leaves the token as it was.
class EnabledPrivilege {
  public:
    explicit EnabledPrivilege(const wchar_t* name, const TokenCalls& calls = system_token_calls());
    ~EnabledPrivilege();
    EnabledPrivilege(const EnabledPrivilege&) = delete;
    EnabledPrivilege& operator=(const EnabledPrivilege&) = delete;

    // True when the privilege is on now, whether this turned it on or found it on.
    bool enabled() const { return enabled_; }

  private:
    TokenCalls calls_;
    HANDLE token_ = nullptr;
    bool enabled_ = false;
    TOKEN_PRIVILEGES previous_{};  // no entry when it was on already
};

}  // namespace kestrafin::platform::windows
