// Run by the window tests as a program of its own, to close its window while
// it works, as a user would; the tests check that the program then ends at
// once and leaves nothing behind.
//   close_during_work_child search ROOT    searches ROOT, closes at the first entries
//   close_during_work_child save FOLDER    saves a long list into FOLDER, closes during it
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "qt/frmMain.h"
#include "tests/support/temp_tree.h"

namespace {

void close_now(kestrafin::qt::frmMain& window, const char* doing) {
    std::printf("closed while %s\n", window.busy() ? doing : "idle");
    std::fflush(stdout);
    window.close();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const bool searching = std::strcmp(argv[1], "search") == 0;
    QApplication application(argc, argv);
    kestrafin::testing::TempFolder own_folder;
    const std::string program_folder = searching ? own_folder.path() : argv[2];
    if (searching)
        kestrafin::testing::make_file(own_folder / "kestrafin.ini",
                                      std::string("[PATH]\r\nFULLPATH=") + argv[2] + "\r\n");
    kestrafin::qt::frmMain window(program_folder);
    window.Form_Load();
    window.tmrwait2->stop();
    window.show();
    QTimer poll;
    if (searching) {
        QTimer::singleShot(0, &window, [&] { window.cmdgetfilelist->click(); });
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (window.lvFiles->list_items().Count() == 0) return;
            poll.stop();
            close_now(window, "searching");
        });
        poll.start(5);
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
