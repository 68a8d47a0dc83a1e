// Start-up: Main loads the main window, which fills itself from the settings
// file, and then shows it centred on the screen and wholly on it.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "platform/process.h"
#include "qt/frmMain.h"

namespace Kestrafin_Lib {

int Main(int argc, char** argv) {
    // The one argument the program takes, for installers and bug reports.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestrafin %s\n", KESTRAFIN_VERSION);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    }
    // Started with a closed standard stream, the settings file or the saved
    // list could take its descriptor and receive Qt's warnings.
    kestrafin::platform::keep_standard_streams_open();
    QApplication application(argc, argv);
    kestrafin::qt::frmMain window(kestrafin::platform::program_folder());
    window.Form_Load();
    window.place_on_screen();
    window.show();
    return application.exec();
}

}  // namespace Kestrafin_Lib

int main(int argc, char** argv) {
    return Kestrafin_Lib::Main(argc, argv);
}
