// The Windows window in this process, driven through its messages: what only
// the Win32 face does (controls, message loop, input dropped while busy,
// prompts and message boxes, the virtual list). The handlers' rules are tested
// once, with the window logic.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>

#include "platform/text.h"
#include "search/path_text.h"
#include "tests/search/recording_sink.h"
#include "tests/support/windows_temp_folder.h"
#include "win32/frmMain.h"

using namespace kestrafin;
using namespace kestrafin::testing;

namespace {

std::wstring wide(std::string_view text) {
    const std::u16string units = platform::utf16_from_utf8(text);
    return {units.begin(), units.end()};
}

std::wstring text_of(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Runs the thread's messages through the window's loop until `done` holds.
// Five minutes without it fail the test rather than hang it.
template <typename Done>
bool pump_until(win32::frmMain& window, Done done) {
    // A first run beside other Wine tests has been seen to take 40 seconds.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!done()) {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window.pre_translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            if (done()) return true;
        }
        if (std::chrono::steady_clock::now() > give_up) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return true;
}

// Answers the modal boxes the window opens on this thread: a prompt gets
// `answer` and OK; a message box is read and closed. Checked on a thread
// timer, which the boxes' own loops run.
struct DialogAnswers {
    struct Seen {
        std::wstring title;
        std::wstring text;
    };
    std::wstring answer;
    std::vector<Seen> seen;
    std::set<HWND> handled;
};
DialogAnswers* answers = nullptr;

BOOL CALLBACK answer_dialog(HWND dialog, LPARAM) {
    wchar_t kind[16] = {};
    ::GetClassNameW(dialog, kind, 16);
    if (std::wstring_view(kind) != L"#32770" || !::IsWindowVisible(dialog) ||
        !answers->handled.insert(dialog).second)
        return TRUE;
    DialogAnswers::Seen seen{text_of(dialog), {}};
    constexpr int kPromptBoxId = 100;
    constexpr int kMessageTextId = 0xFFFF;
    if (const HWND box = ::GetDlgItem(dialog, kPromptBoxId))
        ::SetWindowTextW(box, answers->answer.c_str());
    else if (const HWND text = ::GetDlgItem(dialog, kMessageTextId))
        seen.text = text_of(text);
    answers->seen.push_back(std::move(seen));
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK look_for_dialogs(HWND, UINT, UINT_PTR, DWORD) {
    if (answers != nullptr) ::EnumThreadWindows(::GetCurrentThreadId(), answer_dialog, 0);
}

class Win32Window : public ::testing::Test {
  protected:
    void SetUp() override {
        // Wine draws windows on an X display; ./dev test starts one.
        const bool under_wine =
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
        if (under_wine && std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "no X display for Wine's windows: set DISPLAY (./dev test starts Xvfb)";
        answers = &dialogs;
        dialog_timer = ::SetTimer(nullptr, 0, 20, look_for_dialogs);
    }
    void TearDown() override {
        if (dialog_timer != 0) ::KillTimer(nullptr, dialog_timer);
        answers = nullptr;
    }

    std::unique_ptr<win32::frmMain> shown_window(window::WindowServices services = {}) {
        auto window = std::make_unique<win32::frmMain>(program.path(), std::move(services));
        window->load_and_show();
        return window;
    }

    static bool idle(win32::frmMain& window) { return !window.logic().busy(); }

    // The width of `text` in pixels in the list's own font, as the system measures it.
    static int width_in_list(win32::frmMain& window, std::string_view text) {
        const HWND list = window.lvFiles.handle();
        const HDC context = ::GetDC(list);
        const HGDIOBJ previous = ::SelectObject(
            context, reinterpret_cast<HGDIOBJ>(::SendMessageW(list, WM_GETFONT, 0, 0)));
        const std::wstring shown = wide(text);
        SIZE size{};
        ::GetTextExtentPoint32W(context, shown.data(), static_cast<int>(shown.size()), &size);
        ::SelectObject(context, previous);
        ::ReleaseDC(list, context);
        return size.cx;
    }

    static std::vector<std::string> rows(win32::frmMain& window) {
        const auto& items = window.logic().list_items();
        std::vector<std::string> texts;
        for (std::size_t position = 1; position <= items.Count(); ++position)
            texts.emplace_back(items.Text(position));
        EXPECT_EQ(static_cast<std::size_t>(ListView_GetItemCount(window.lvFiles.handle())),
                  texts.size());
        return texts;
    }

    WindowsTempFolder program;
    DialogAnswers dialogs;
    UINT_PTR dialog_timer = 0;
};

// A search that reports `entries` and then waits until it is told to stop.
window::WindowServices search_until_stopped(std::vector<std::string> entries,
                                            std::atomic<bool>& stopped) {
    window::WindowServices services;
    services.search = [entries, &stopped](const std::string&, search::SearchSink& sink) {
        for (const auto& entry : entries) sink.add_entry(entry);
        sink.folder_done("C:\\");
        while (!sink.should_stop()) ::Sleep(1);
        stopped = true;
    };
    return services;
}

window::WindowServices search_finding(std::vector<std::string> entries) {
    window::WindowServices services;
    services.search = [entries](const std::string&, search::SearchSink& sink) {
        for (const auto& entry : entries) sink.add_entry(entry);
    };
    return services;
}

}  // namespace

TEST_F(Win32Window, AFirstRunWritesTheSettingsFileAndShowsTheDefaultRoot) {
    const auto window = shown_window();
    EXPECT_EQ(text_of(window->handle()), L"Kestrafin v1.0");
    EXPECT_EQ(::GetFocus(), window->cmdgetfilelist);
    const std::string settings = window->logic().settings_file();
    std::string content;
    ASSERT_TRUE(pump_until(*window, [&] {
        std::ifstream file(long_form(settings), std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(file), {});
        return content.find("FULLPATH=c:\\") != std::string::npos && idle(*window);
    })) << content;
    EXPECT_EQ(text_of(window->txtFileroot), L"c:\\");
    EXPECT_TRUE(dialogs.seen.empty());
}

TEST_F(Win32Window, TabVisitsTheControlsInTheWindowsOrderAndSkipsTheRest) {
    const auto window = shown_window();
    const std::vector<HWND> order = {window->lvFiles.handle(), window->cmdsave,
                                     window->cmdseldir,        window->cmdsavelist,
                                     window->cmdloadlist,      window->cmdgetfilelist};
    for (const HWND next : order) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window->pre_translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        EXPECT_EQ(::GetFocus(), next) << "after " << (&next - order.data()) << " presses";
    }
}

TEST_F(Win32Window, SearchShowsPathsPastTheSystemLimitWholeAsTheWalkFindsThem) {
    WindowsTempFolder tree;
    std::string folder = tree.path();
    while (search::utf16_length(folder) <= 1100) {
        folder += "\\" + std::string(60, 'd') + "\xC3\xA9";
        make_windows_folder(folder);
        make_windows_file(folder + "\\f\xE4\xB8\xAD");
    }
    RecordingSink walk;
    search::searchfiles(tree.path(), true, walk);
    ASSERT_GT(search::utf16_length(walk.entries.back()), 1000u);

    const auto window = shown_window();
    dialogs.answer = wide(tree.path());
    ::SendMessageW(window->cmdseldir, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    EXPECT_EQ(text_of(window->txtFileroot), wide(tree.path()));

    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(
        *window, [&] { return idle(*window) && !text_of(window->lbllistcount).empty(); }));
    std::vector<std::string> shown = rows(*window);
    std::sort(shown.begin(), shown.end());
    std::sort(walk.entries.begin(), walk.entries.end());
    EXPECT_EQ(shown, walk.entries);
    EXPECT_EQ(text_of(window->lbllistcount),
              std::to_wstring(walk.entries.size()) + L" records found");

    // The column holds the longest path whole.
    EXPECT_GE(window->lvFiles.column_width(), width_in_list(*window, walk.entries.back()));
    EXPECT_TRUE(dialogs.seen.size() == 1 && dialogs.seen[0].title == L"Kestrafin");
}

TEST_F(Win32Window, EscapeStopsTheSearchAndClicksDuringItAreDropped) {
    std::atomic<bool> stopped{false};
    const auto window = shown_window(search_until_stopped({"C:\\found"}, stopped));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return window->lvFiles.rows() == 1; }));

    // A click on "Save List" and Tab while the search runs are dropped, not
    // kept for later.
    const HWND focused = ::GetFocus();
    ::PostMessageW(window->cmdsavelist, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::PostMessageW(window->cmdsavelist, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    ::PostMessageW(focused, WM_KEYDOWN, VK_TAB, 0);
    ::PostMessageW(focused, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(::GetFocus(), focused);
    EXPECT_EQ(rows(*window), std::vector<std::string>{"C:\\found"});
    EXPECT_EQ(text_of(window->lbllistcount), L"1 records found");
    EXPECT_FALSE(exists(window->logic().saved_list_file()));
}

TEST_F(Win32Window, SaveListAndReloadListRoundTripEveryPathWhole) {
    const std::vector<std::string> found = {
        "C:\\" + std::string(1200, 'x') + "\\file",
        "C:\\\xE6\x97\xA5\xE6\x9C\xAC\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt",
        "C:\\two  spaces\\\xF0\x9F\x98\x80"};
    {
        const auto window = shown_window(search_finding(found));
        ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
        ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
        ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
        ::SendMessageW(window->cmdsavelist, BM_CLICK, 0, 0);
        ASSERT_TRUE(pump_until(
            *window, [&] { return idle(*window) && exists(window->logic().saved_list_file()); }));
    }
    const auto window = shown_window();
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdloadlist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() > 0; }));
    EXPECT_EQ(rows(*window), found);
    EXPECT_EQ(text_of(window->lbllistcount), L"3 records found");
    EXPECT_GE(window->lvFiles.column_width(), width_in_list(*window, found[0]));
    EXPECT_TRUE(dialogs.seen.empty());
}

TEST_F(Win32Window, ASettingsFileThatCannotBeWrittenIsReportedAndTheWindowGoesOn) {
    // A folder in the settings file's place: it can be neither created nor read.
    make_windows_folder(program / "kestrafin.ini");
    const auto window = shown_window(search_finding({"C:\\still here"}));
    ASSERT_TRUE(pump_until(*window, [&] { return !dialogs.seen.empty() && idle(*window); }));
    EXPECT_EQ(dialogs.seen[0].title, L"Kestrafin");
    EXPECT_NE(dialogs.seen[0].text.find(L"settings file"), std::wstring::npos)
        << platform::utf8_from_utf16(
               std::u16string(dialogs.seen[0].text.begin(), dialogs.seen[0].text.end()));
    EXPECT_EQ(text_of(window->txtFileroot), L"c:\\");

    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 1; }));
    EXPECT_EQ(rows(*window), std::vector<std::string>{"C:\\still here"});
}

TEST_F(Win32Window, ClosingDuringASearchStopsItAndEndsTheWindow) {
    std::atomic<bool> stopped{false};
    auto window = shown_window(search_until_stopped({"C:\\found"}, stopped));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return window->logic().busy(); }));
    const HWND handle = window->handle();
    ::PostMessageW(handle, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return !::IsWindow(handle); }));
    EXPECT_TRUE(stopped);
}
