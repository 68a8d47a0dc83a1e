// Run by the window tests as a program of its own, to close its window while
// it works, as a user would; the tests check that the program then ends at
// once and leaves nothing behind.
//   close_during_work_child search         searches with a walk that has found
//                                          entries and waits, and closes then
//   close_during_work_child save FOLDER    saves a long list into FOLDER, closes during it
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "qt/frmMain.h"
#include "tests/support/paced_walk.h"
#include "tests/support/temp_tree.h"

namespace {

void close_now(kestrafin::qt::frmMain& window, const char* doing) {
    std::printf("closed while %s\n", window.busy() ? doing : "idle");
    std::fflush(stdout);
    window.close();
}

}  // namespace

int main(int argc, char** argv) {
    const bool searching = argc == 2 && std::strcmp(argv[1], "search") == 0;
    if (!searching && !(argc == 3 && std::strcmp(argv[1], "save") == 0)) return 2;
    QApplication application(argc, argv);
    kestrafin::testing::TempFolder own_folder;
    const std::string program_folder = searching ? own_folder.path() : argv[2];
    kestrafin::testing::PacedWalk walk;
    kestrafin::window::WindowServices services;
    services.search = walk.search();
    kestrafin::qt::frmMain window(program_folder, services);
    window.Form_Load();
    window.tmrwait2->stop();
    window.show();
    if (searching) {
        QTimer::singleShot(0, &window, [&] {
            window.cmdgetfilelist->click();
            // The walk is on its way and waits for more: closing must stop it.
            if (!walk.find({"/found first"})) std::printf("the walk did not start\n");
            close_now(window, "searching");
        });
    } else {
        auto& items = window.lvFiles->list_items();
        for (int i = 0; i < 2'000'000; ++i) items.Add("/srv/share/new/" + std::to_string(i));
        items.Refresh();
        QTimer::singleShot(0, &window, [&] { window.cmdsavelist->click(); });
        // Late enough for the new file to be on its way.
        QTimer::singleShot(50, &window, [&] { close_now(window, "saving"); });
    }
    const int result = application.exec();
    std::printf("ended\n");
    return result;
}
