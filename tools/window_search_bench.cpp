// Times the window's own "Search" into its list, offscreen, and reports the
// list's memory per entry; then times "Save List" and "Reload List" with a
// million entries.
//   kestrafin-window-bench ROOT
//   kestrafin-window-bench --search-only [--repeat N] ROOT
// With --search-only it times only the search, N times (1 unless told) in the
// same window, and prints for each on a line of its own the seconds it took and
// the processor seconds the window's own thread spent on it, so that a
// benchmark can alternate it with other commands and take medians.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "qt/frmMain.h"
#include "tools/temp_folder.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrafin-window-bench [--search-only [--repeat N]] ROOT\n"
    "Times the window's search of ROOT, then Save List and Reload List.\n"
    "  --search-only  time only the search; print its seconds and the window thread's\n"
    "                 processor seconds, one line per search\n"
    "  --repeat N     with --search-only: search N times in the same window\n";

struct Arguments {
    std::string root;
    bool search_only = false;
    long repeat = 1;
};

// False when the command line is not understood.
bool parse(int argc, char** argv, Arguments& arguments) {
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        if (argument == "--search-only") {
            arguments.search_only = true;
        } else if (argument == "--repeat" && at + 1 < argc) {
            char* end = nullptr;
            arguments.repeat = std::strtol(argv[++at], &end, 10);
            if (*end != '\0' || arguments.repeat < 1) return false;
        } else if (argument.starts_with("--") || !arguments.root.empty()) {
            return false;
        } else {
            arguments.root = argument;
        }
    }
    return !arguments.root.empty() && (arguments.search_only || arguments.repeat == 1);
}

// Processor time of the calling thread: what the window's thread spends
// beside the walk.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments arguments;
    if (!parse(argc, argv, arguments)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kestrafin::tools::TempFolder program_folder;
    kestrafin::tools::make_file(program_folder / "kestrafin.ini",
                                "[PATH]\r\nFULLPATH=" + arguments.root + "\r\n");
    kestrafin::qt::frmMain window(program_folder.path());
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // The handlers hand their work to a thread and return; wait for its end.
    const auto settle = [&] {
        while (window.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    const auto timed = [](const auto& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        return seconds_since(start);
    };
    const auto search = [&] {
        window.cmdgetfilelist_Click();
        settle();
    };

    if (arguments.search_only) {
        for (long run = 0; run < arguments.repeat; ++run) {
            const double thread_start = thread_seconds();
            const double seconds = timed(search);
            std::printf("%.4f %.4f\n", seconds, thread_seconds() - thread_start);
            std::fflush(stdout);
        }
        return 0;
    }

    const double seconds = timed(search);
    auto& items = window.lvFiles->list_items();
    std::size_t text_bytes = 0;
    for (std::size_t p = 1; p <= items.Count(); ++p) text_bytes += items.Text(p).size();
    const std::size_t held = items.store().bytes_reserved();
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
