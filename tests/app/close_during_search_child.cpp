// Run by the search tests as a program of its own: starts a search of the
// folder it is given and closes its window as soon as the first entries show,
// as a user would. The test checks that the program then ends at once.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/frmMain.h"
#include "tests/support/temp_tree.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QApplication application(argc, argv);
    kestrafin::testing::TempFolder program_folder;
    kestrafin::testing::make_file(program_folder / "kestrafin.ini",
                                  std::string("[PATH]\r\nFULLPATH=") + argv[1] + "\r\n");
    kestrafin::app::frmMain window(program_folder.path());
    window.Form_Load();
    window.show();
    QTimer::singleShot(0, &window, [&] { window.cmdgetfilelist->click(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.lvFiles->list_items().Count() == 0) return;
        poll.stop();
        std::printf("closed while %s\n", window.busy() ? "searching" : "idle");
        std::fflush(stdout);
        window.close();
    });
    poll.start(5);
    const int result = application.exec();
    std::printf("ended\n");
    return result;
}
