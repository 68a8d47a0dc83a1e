// Stands in for a file that someone put where a system program's name might
// be looked up: when started, it leaves a file named after itself with
// ".ran" added, so that a test sees it was started.
#include <windows.h>

#include <string>

int wmain() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    const HANDLE marker = ::CreateFileW((path + L".ran").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    return 0;
}
