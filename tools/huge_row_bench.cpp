// What one very long row costs the window: "Reload List" of a saved list that
// holds a single record of MB megabytes, then a repaint of the list with the
// row in view, scrolled to its end, and its tool tip.
//   kestrafin-huge-row-bench [--hebrew] MB
// For each step it prints the processor seconds of the window's own thread
// (what keeps it from painting; for the reload, its idle turns included) and,
// for the reload, the longest time the window's event loop went without a
// turn and how much of it the thread was busy; then the peak memory against
// the row's size. --hebrew makes every folder name right-to-left, so that the
// row's folders are isolated for drawing.
// The window uses QT_QPA_PLATFORM where it is set, offscreen otherwise.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "qt/frmMain.h"
#include "tools/temp_folder.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrafin-huge-row-bench [--hebrew] MB\n"
    "Times Reload List of a saved list of one record of MB megabytes, a repaint\n"
    "of the list with it in view and its tool tip, and prints the peak memory.\n";

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A figure of /proc/self/status, in KiB.
long status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.starts_with(wanted)) return std::strtol(line.c_str() + wanted.size(), nullptr, 10);
    return -1;
}

// Written piece by piece, so that the file's making adds nothing to the peak.
void write_row_file(const std::string& path, std::size_t bytes, bool hebrew) {
    // "/" and a folder name of 100 bytes; Hebrew letters are two bytes each.
    std::string folder = "/";
    while (folder.size() < 101) folder += hebrew ? "\xD7\xA9" : "a";
    std::string piece;
    while (piece.size() < (1 << 20)) piece += folder;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputc('"', file);
    for (std::size_t written = 0; written < bytes;) {
        const std::size_t size = std::min(piece.size(), bytes - written);
        std::fwrite(piece.data(), 1, size, file);
        written += size;
    }
    std::fputs("/report.txt\"\r\n", file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    bool hebrew = false;
    double megabytes = 0;
    for (int at = 1; at < argc; ++at) {
        if (std::strcmp(argv[at], "--hebrew") == 0) {
            hebrew = true;
        } else {
            char* end = nullptr;
            megabytes = std::strtod(argv[at], &end);
            if (*end != '\0' || megabytes <= 0) {
                std::fputs(kUsage, stderr);
                return 2;
            }
        }
    }
    if (megabytes <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kestrafin::tools::TempFolder program_folder;
    kestrafin::tools::make_file(program_folder / "kestrafin.ini", "[PATH]\r\nFULLPATH=/\r\n");
    const auto bytes = static_cast<std::size_t>(megabytes * 1024 * 1024);
    write_row_file(program_folder / "kestrafinlist.dxb", bytes, hebrew);

    kestrafin::qt::frmMain window(program_folder.path());
    window.Form_Load();
    window.show();
    QApplication::processEvents();
    const long resident_before = status_kib("VmRSS");

    // The event loop's turns while the reload runs: the longest gap between
    // two is how long the window could not paint.
    QElapsedTimer since_turn;
    qint64 longest_gap = 0;
    QTimer turns;
    turns.setInterval(5);
    // And the most processor time the thread spent between two turns, which
    // a busy machine does not stretch.
    double longest_burst = 0;
    double last_turn = thread_seconds();
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longest_gap = std::max(longest_gap, since_turn.restart());
        const double now = thread_seconds();
        longest_burst = std::max(longest_burst, now - last_turn);
        last_turn = now;
    });

    const auto wall_start = std::chrono::steady_clock::now();
    const double reload_start = thread_seconds();
    since_turn.start();
    turns.start();
    window.cmdloadlist_Click();
    while (window.busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    longest_gap = std::max(longest_gap, since_turn.elapsed());
    longest_burst = std::max(longest_burst, thread_seconds() - last_turn);
    turns.stop();
    const double reload_thread = thread_seconds() - reload_start;
    const double reload_wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();

    const auto& list = *window.lvFiles;
    if (list.model()->rowCount() != 1) {
        std::fprintf(stderr, "the list holds %d rows, not 1: %s\n", list.model()->rowCount(),
                     qPrintable(window.lbllistcount->text()));
        return 1;
    }
    const double paint_start = thread_seconds();
    window.lvFiles->viewport()->repaint();
    window.lvFiles->horizontalScrollBar()->setValue(
        window.lvFiles->horizontalScrollBar()->maximum());
    window.lvFiles->viewport()->repaint();
    const double paint_thread = thread_seconds() - paint_start;

    const double tip_start = thread_seconds();
    const QString tip = list.model()->data(list.model()->index(0, 0), Qt::ToolTipRole).toString();
    const double tip_thread = thread_seconds() - tip_start;

    const long peak = status_kib("VmHWM");
    std::printf(
        "row of %.0f MB%s: reload %.3f s (window thread %.3f s, longest without a turn %lld "
        "ms, %.0f ms of it busy); two repaints %.3f s; tip %.3f s (%lld units); column %d px; peak "
        "%.0f MB, "
        "%.1f bytes per row byte beyond the window before\n",
        megabytes, hebrew ? " (Hebrew)" : "", reload_wall, reload_thread,
        static_cast<long long>(longest_gap), longest_burst * 1000, paint_thread, tip_thread,
        static_cast<long long>(tip.size()), list.header()->sectionSize(0), peak / 1024.0,
        static_cast<double>(peak - resident_before) * 1024.0 / static_cast<double>(bytes));
    return 0;
}
