// Start-up on Windows: Main loads the main window, which fills itself from the
// settings file, then shows it centred on its screen, and runs the message
// loop until the window is closed.
#include <windows.h>

#include <exception>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "win32/frmMain.h"

namespace Kestrafin_Lib {

int Main() {
    try {
        kestrafin::win32::frmMain window(kestrafin::platform::program_folder());
        window.load_and_show();
        return kestrafin::win32::frmMain::run_message_loop(window);
    } catch (const std::exception& error) {
        const std::u16string reason =
            kestrafin::platform::utf16_from_utf8(kestrafin::platform::failure_text(error));
        ::MessageBoxW(nullptr, std::wstring(reason.begin(), reason.end()).c_str(), L"Kestrafin",
                      MB_OK | MB_ICONERROR);
        return 1;
    }
}

}  // namespace Kestrafin_Lib

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kestrafin::platform::load_libraries_from_the_system_only();
    return Kestrafin_Lib::Main();
}
