// Start-up: Main loads the main window, which fills itself from the settings
// file, and then shows it centred on the screen.
#include <QApplication>
#include <QScreen>

#include "platform/program_folder.h"
#include "platform/standard_stream.h"
#include "qt/frmMain.h"

namespace Kestrafin_Lib {

int Main(int argc, char** argv) {
    // Started with a closed standard stream, the settings file or the saved
    // list could take its descriptor and receive Qt's warnings.
    kestrafin::platform::keep_standard_streams_open();
    QApplication application(argc, argv);
    kestrafin::qt::frmMain window(kestrafin::platform::program_folder());
    window.Form_Load();
    if (const QScreen* screen = window.screen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return application.exec();
}

}  // namespace Kestrafin_Lib

int main(int argc, char** argv) {
    return Kestrafin_Lib::Main(argc, argv);
}
