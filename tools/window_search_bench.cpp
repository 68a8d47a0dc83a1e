// Times the window's own "Search" into its list, offscreen, and reports the
// list's memory per entry; then times "Save List" and "Reload List" with a
// million entries: kestrafin-window-bench ROOT
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/frmMain.h"
#include "tests/support/temp_tree.h"

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: kestrafin-window-bench ROOT\n"
            "Times the window's search of ROOT, then Save List and Reload List.");
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrafin-window-bench ROOT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kestrafin::testing::TempFolder program_folder;
    kestrafin::testing::make_file(program_folder / "kestrafin.ini",
                                  std::string("[PATH]\r\nFULLPATH=") + argv[1] + "\r\n");
    kestrafin::app::frmMain window(program_folder.path());
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // The handlers hand their work to a thread and return; wait for its end.
    const auto settle = [&] {
        while (window.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    const auto start = std::chrono::steady_clock::now();
    window.cmdgetfilelist_Click();
    settle();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    auto& items = window.lvFiles->list_items();
    std::size_t text_bytes = 0;
    for (std::size_t p = 1; p <= items.Count(); ++p) text_bytes += items.Text(p).size();
    const std::size_t held =
        static_cast<const kestrafin::app::ResultListModel*>(window.lvFiles->model())
            ->store()
            .bytes_reserved();
    const double count = static_cast<double>(items.Count());
    std::printf(
        "window search: %.3f s, %zu entries, list holds %.1f bytes per entry beyond its text\n",
        seconds, items.Count(), count > 0 ? (static_cast<double>(held) - text_bytes) / count : 0.0);

    // "Save List" and "Reload List" with a million entries.
    items.Clear();
    for (std::size_t i = 0; i < 1'000'000; ++i)
        items.Add("/srv/share/projects/a long folder name, with a comma/" + std::to_string(i) +
                  " report.txt");
    items.Refresh();
    const auto timed = [](const auto& work) {
        const auto begin = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    const double save = timed([&] {
        window.cmdsavelist_Click();
        settle();
    });
    items.Clear();
    const double reload = timed([&] {
        window.cmdloadlist_Click();
        settle();
    });
    std::printf("Save List of %zu entries: %.3f s, Reload List: %.3f s, label \"%s\"\n",
                items.Count(), save, reload, qPrintable(window.lbllistcount->text()));
    return 0;
}
