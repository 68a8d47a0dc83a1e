#include "win32/folder_picker.h"

#include <shobjidl.h>

#include <system_error>

namespace kestrafin::win32 {

namespace {

// Releases a COM object when it goes.
template <typename Object>
struct Released {
    Object* object = nullptr;
    ~Released() {
        if (object != nullptr) object->Release();
    }
};

void check(HRESULT result, const char* what) {
    if (FAILED(result))
        throw std::system_error(static_cast<int>(result), std::system_category(), what);
}

}  // namespace

std::optional<std::wstring> pick_folder(HWND owner, const std::wstring& start) {
    // The picker is a COM object of this thread's apartment.
    const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Apartment {
        bool joined;
        ~Apartment() {
            if (joined) ::CoUninitialize();
        }
    } apartment{SUCCEEDED(joined)};
    Released<IFileOpenDialog> dialog;
    check(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog.object)),
          "cannot show the folder picker");
    FILEOPENDIALOGOPTIONS options = 0;
    check(dialog.object->GetOptions(&options), "cannot show the folder picker");
    check(dialog.object->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM |
                                    FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR),
          "cannot show the folder picker");
    if (!start.empty()) {
        Released<IShellItem> folder;
        // A start that names no folder leaves the picker where it would open.
        if (SUCCEEDED(::SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem,
                                                    reinterpret_cast<void**>(&folder.object))))
            dialog.object->SetFolder(folder.object);
    }
    const HRESULT shown = dialog.object->Show(owner);
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return std::nullopt;
    check(shown, "cannot show the folder picker");
    Released<IShellItem> chosen;
    check(dialog.object->GetResult(&chosen.object), "cannot read the folder chosen");
    wchar_t* path = nullptr;
    check(chosen.object->GetDisplayName(SIGDN_FILESYSPATH, &path), "cannot read the folder chosen");
    std::wstring folder(path);
    ::CoTaskMemFree(path);
    return folder;
}

}  // namespace kestrafin::win32
