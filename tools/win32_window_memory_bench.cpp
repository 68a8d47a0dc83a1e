// Fills the Windows window's list by its own "Search" and prints what the
// process holds: peak and final private memory and working set, per entry and
// against the entries' own text, so that the window's cost beside its data
// reads as one ratio.
//   kestrafin-window-memory-bench --synthetic N [DEPTH]
//       N made-up entries of about 230 bytes, ten to a folder, DEPTH more
//       levels deep ("\\d" each): the window and its logic alone
//   kestrafin-window-memory-bench ROOT            a real search of ROOT
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text.h"
#include "win32/frmMain.h"

using namespace kestrafin;

namespace {

constexpr const char* kUsage =
    "usage: kestrafin-window-memory-bench (--synthetic N [DEPTH] | ROOT)\n"
    "Searches into the window's list and prints the process's memory per entry.\n";

struct Memory {
    double private_mib = 0, peak_private_mib = 0, working_mib = 0, peak_working_mib = 0;
};

Memory memory_now() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(),
                           reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    constexpr double kMib = 1024.0 * 1024.0;
    return {static_cast<double>(counters.PrivateUsage) / kMib,
            static_cast<double>(counters.PeakPagefileUsage) / kMib,
            static_cast<double>(counters.WorkingSetSize) / kMib,
            static_cast<double>(counters.PeakWorkingSetSize) / kMib};
}

// The entries of a synthetic search: long paths, ten files to a folder.
window::WindowServices synthetic_search(long entries, std::size_t depth) {
    window::WindowServices services;
    services.search = [entries, depth](const std::string&, search::WalkVisitor& visitor,
                                       const std::atomic<bool>&) {
        std::string folder;
        for (long entry = 0; entry < entries; ++entry) {
            if (entry % 10 == 0) {
                if (entry > 0) {
                    search::WalkEvent done;
                    done.kind = search::WalkEventKind::folder_done;
                    done.path = folder;
                    if (visitor.visit(done) == search::Answer::stop) return;
                }
                folder =
                    "C:\\Shared Projects\\Engineering Department Archive\\Customer "
                    "Deliverables 2019-2024\\Project Nightingale - Phase Two Redesign\\"
                    "Structural Calculations and Drawings\\Revision " +
                    std::to_string(entry / 10);
                for (std::size_t level = 0; level < depth; ++level) folder += "\\d";
            }
            const std::string path =
                folder + "\\Load case summary - north elevation " + std::to_string(entry) + ".pdf";
            search::WalkEvent file;
            file.path = path;
            if (visitor.visit(file) == search::Answer::stop) return;
        }
    };
    return services;
}

// With `report`, prints the rows and the working set every five seconds.
void pump_until_idle(win32::frmMain& window, bool report = false) {
    MSG message{};
    auto next = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::size_t counted = 0, text_bytes = 0;
    while (window.logic().busy()) {
        if (report && std::chrono::steady_clock::now() > next) {
            next += std::chrono::seconds(5);
            const auto& items = window.logic().list_items();
            for (; counted < items.Count(); ++counted)
                text_bytes += items.store().text(counted).size();
            const Memory now = memory_now();
            const std::string last =
                counted > 0 ? std::string(items.store().text(counted - 1).substr(0, 60)) : "";
            std::printf("  %zu entries of %.1f MiB, working set %.1f MiB, last %s\n", counted,
                        static_cast<double>(text_bytes) / (1024.0 * 1024.0), now.working_mib,
                        last.c_str());
            std::fflush(stdout);
        }
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window.pre_translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long synthetic = 0;
    std::string root = "C:\\";
    std::size_t depth = 0;
    if ((argc == 3 || argc == 4) && std::wcscmp(argv[1], L"--synthetic") == 0) {
        synthetic = std::wcstol(argv[2], nullptr, 10);
        if (argc == 4) depth = static_cast<std::size_t>(std::wcstol(argv[3], nullptr, 10));
    } else if (argc == 2 && argv[1][0] != L'-') {
        const std::wstring given = argv[1];
        root = platform::utf8_from_utf16(std::u16string(given.begin(), given.end()));
    } else {
        std::fputs(kUsage, argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 2;
    }
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring program =
        std::wstring(temp) + L"kestrafin-memory-bench-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(program.c_str(), nullptr);
    {
        const std::string settings = "[PATH]\r\nFULLPATH=" + root + "\r\n";
        const HANDLE file = ::CreateFileW((program + L"\\kestrafin.ini").c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(file, settings.data(), static_cast<DWORD>(settings.size()), &written, nullptr);
        ::CloseHandle(file);
    }

    const Memory before = memory_now();
    const auto started = std::chrono::steady_clock::now();
    std::size_t rows = 0, text_bytes = 0;
    {
        win32::frmMain window(
            platform::utf8_from_utf16(std::u16string(program.begin(), program.end())),
            synthetic > 0 ? synthetic_search(synthetic, depth) : window::WindowServices{});
        window.load_and_show();
        pump_until_idle(window);
        ::SendMessageW(window.cmdgetfilelist, BM_CLICK, 0, 0);
        pump_until_idle(window, true);
        const auto& items = window.logic().list_items();
        rows = items.Count();
        for (std::size_t row = 0; row < rows; ++row) text_bytes += items.store().text(row).size();
        const Memory after = memory_now();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double text_mib = static_cast<double>(text_bytes) / (1024.0 * 1024.0);
        const double grown = after.peak_private_mib - before.private_mib;
        std::printf("entries %zu in %.1f s, their text %.1f MiB\n", rows, seconds, text_mib);
        std::printf("private memory: %.1f MiB before, %.1f MiB after, %.1f MiB at peak\n",
                    before.private_mib, after.private_mib, after.peak_private_mib);
        std::printf("working set: %.1f MiB after, %.1f MiB at peak\n", after.working_mib,
                    after.peak_working_mib);
        if (rows > 0)
            std::printf("peak growth %.0f bytes per entry, %.2f times the entries' text\n",
                        grown * 1024 * 1024 / static_cast<double>(rows),
                        text_mib > 0 ? grown / text_mib : 0.0);
    }
    ::DeleteFileW((program + L"\\kestrafin.ini").c_str());
    ::RemoveDirectoryW(program.c_str());
    return 0;
}
