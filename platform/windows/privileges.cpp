#include "platform/windows/privileges.h"

#include <memory>

#include "platform/folders.h"

namespace kestrafin::platform::windows {

TokenCalls system_token_calls() {
    return {::OpenProcessToken, ::LookupPrivilegeValueW, ::AdjustTokenPrivileges, ::CloseHandle};
}

EnabledPrivilege::EnabledPrivilege(const wchar_t* name, const TokenCalls& calls) : calls_(calls) {
    LUID privilege{};
    if (!calls_.lookup_privilege_value(nullptr, name, &privilege)) return;
    if (!calls_.open_process_token(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                   &token_)) {
        token_ = nullptr;
        return;
    }
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0] = {privilege, SE_PRIVILEGE_ENABLED};
    DWORD length = 0;
    ::SetLastError(ERROR_SUCCESS);
    const BOOL adjusted = calls_.adjust_token_privileges(token_, FALSE, &wanted, sizeof previous_,
                                                         &previous_, &length);
    // A token without the privilege answers with success all the same, and
    // says so only through ERROR_NOT_ALL_ASSIGNED.
    enabled_ = adjusted && ::GetLastError() == ERROR_SUCCESS;
    if (!enabled_) previous_.PrivilegeCount = 0;
}

EnabledPrivilege::~EnabledPrivilege() {
    if (token_ == nullptr) return;
    // The previous state names the privilege only when this changed it.
    if (enabled_ && previous_.PrivilegeCount > 0)
        calls_.adjust_token_privileges(token_, FALSE, &previous_, 0, nullptr, nullptr);
    calls_.close_handle(token_);
}

}  // namespace kestrafin::platform::windows

namespace kestrafin::platform {

// The walk opens every folder with FILE_FLAG_BACKUP_SEMANTICS: with the
// privilege on, the system grants it read access whatever the folder's rights.
struct BackupReading::State {
    windows::EnabledPrivilege privilege{SE_BACKUP_NAME};
};

BackupReading::BackupReading() : state_(std::make_unique<State>()) {}

BackupReading::~BackupReading() = default;

bool BackupReading::in_effect() const {
    return state_->privilege.enabled();
}

}  // namespace kestrafin::platform
