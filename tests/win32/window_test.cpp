// The Windows window in this process, driven through its messages: what only
// the Win32 face does (controls, message loop, input dropped while busy,
// prompts and message boxes, the virtual list). The handlers' rules are tested
// once, with the window logic.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "platform/text.h"
#include "search/path_text.h"
#include "tests/search/recording_sink.h"
#include "tests/support/temp_tree.h"
#include "win32/folder_list_dialog.h"
#include "win32/frmMain.h"
#include "window/context_menu.h"
#include "window/shown_row.h"
#include "window/window_design.h"

using namespace kestrafin;
using namespace kestrafin::testing;

namespace {

std::wstring wide(std::string_view text) {
    const std::u16string units = platform::utf16_from_utf8(text);
    return {units.begin(), units.end()};
}

std::string utf8(const std::wstring& text) {
    return platform::utf8_from_utf16(std::u16string(text.begin(), text.end()));
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
        // The box lies on its monitor and each word of its text fits its width.
        bool whole = false;
        // A prompt's list of earlier answers.
        std::vector<std::wstring> choices;
    };
    std::wstring answer;
    std::vector<Seen> seen;
    std::set<HWND> handled;
    // A context menu gets this many Down presses and Enter; its items are kept.
    int menu_downs = 0;
    std::vector<std::wstring> menu_items;
};
DialogAnswers* answers = nullptr;

bool shows_whole(HWND dialog, HWND text) {
    RECT box{}, room{};
    ::GetWindowRect(dialog, &box);
    ::GetClientRect(text, &room);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    bool whole = box.left >= monitor.rcMonitor.left && box.right <= monitor.rcMonitor.right &&
                 box.top >= monitor.rcMonitor.top && box.bottom <= monitor.rcMonitor.bottom;
    const HDC context = ::GetDC(text);
    const HGDIOBJ previous =
        ::SelectObject(context, reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0)));
    std::wistringstream words(text_of(text));
    for (std::wstring word; words >> word;) {
        SIZE size{};
        ::GetTextExtentPoint32W(context, word.data(), static_cast<int>(word.size()), &size);
        whole = whole && size.cx <= room.right;
    }
    ::SelectObject(context, previous);
    ::ReleaseDC(text, context);
    return whole;
}

BOOL CALLBACK answer_dialog(HWND dialog, LPARAM) {
    wchar_t kind[16] = {};
    ::GetClassNameW(dialog, kind, 16);
    if (std::wstring_view(kind) != L"#32770" || !::IsWindowVisible(dialog) ||
        !answers->handled.insert(dialog).second)
        return TRUE;
    DialogAnswers::Seen seen{text_of(dialog), {}, false, {}};
    constexpr int kPromptBoxId = 100;
    constexpr int kMessageTextId = 0xFFFF;
    // The Save dialog's name box: a combo box, or an edit box in older layouts.
    constexpr int kSaveNameComboId = 0x47C, kSaveNameBoxId = 0x480;
    if (const HWND box = ::GetDlgItem(dialog, kPromptBoxId)) {
        const auto count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
        for (LRESULT item = 0; item < count; ++item) {
            std::wstring choice(
                static_cast<std::size_t>(::SendMessageW(box, CB_GETLBTEXTLEN, item, 0)), L'\0');
            ::SendMessageW(box, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(choice.data()));
            seen.choices.push_back(choice);
        }
        ::SetWindowTextW(box, answers->answer.c_str());
    } else if (const HWND name = ::GetDlgItem(dialog, kSaveNameComboId))
        ::SetWindowTextW(name, answers->answer.c_str());
    else if (const HWND name_box = ::GetDlgItem(dialog, kSaveNameBoxId))
        ::SetWindowTextW(name_box, answers->answer.c_str());
    else if (const HWND list = ::GetDlgItem(dialog, win32::kFolderListBoxId))
        seen.text = text_of(list);
    else if (const HWND text = ::GetDlgItem(dialog, kMessageTextId)) {
        seen.text = text_of(text);
        seen.whole = shows_whole(dialog, text);
    }
    answers->seen.push_back(std::move(seen));
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return TRUE;
}

BOOL CALLBACK choose_from_menu(HWND menu_window, LPARAM) {
    wchar_t kind[16] = {};
    ::GetClassNameW(menu_window, kind, 16);
    if (std::wstring_view(kind) != L"#32768" || !::IsWindowVisible(menu_window) ||
        !answers->handled.insert(menu_window).second)
        return TRUE;
    const auto menu = reinterpret_cast<HMENU>(::SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    answers->menu_items.clear();
    for (int item = 0; item < ::GetMenuItemCount(menu); ++item) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(item), text, 64, MF_BYPOSITION);
        answers->menu_items.emplace_back(text);
    }
    // From the top, whatever item the pointer may have selected already.
    if (answers->menu_downs > 0) ::PostMessageW(menu_window, WM_KEYDOWN, VK_HOME, 0);
    for (int press = 1; press < answers->menu_downs; ++press)
        ::PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);
    return TRUE;
}

void CALLBACK look_for_dialogs(HWND, UINT, UINT_PTR, DWORD) {
    if (answers == nullptr) return;
    ::EnumThreadWindows(::GetCurrentThreadId(), answer_dialog, 0);
    // A menu's window belongs to the desktop, not to the thread.
    ::EnumWindows(choose_from_menu, 0);
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

    // The window over the program folder. Without a settings file there the
    // first-run tick falls due 500 ms after loading and keeps the window busy
    // while it writes one, dropping what a test does meanwhile (on a loaded
    // machine, a copy chosen from the list's menu): each test has a settings
    // file unless it makes its own or is about the first run.
    std::unique_ptr<win32::frmMain> shown_window(window::WindowServices services = {},
                                                 bool first_run = false) {
        const std::string settings = program / "kestrafin.ini";
        if (!first_run && !exists(settings))
            make_windows_file(settings, "[PATH]\r\nFULLPATH=c:\\\r\n");
        auto window = std::make_unique<win32::frmMain>(program.path(), std::move(services));
        window->load_and_show();
        return window;
    }

    static bool idle(win32::frmMain& window) { return !window.logic().busy(); }

    // Runs the messages waiting now through the window's loop.
    static void pump_waiting(win32::frmMain& window) {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window.pre_translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }

    // The window is where a user's keys go: in front, the focus on one of its
    // controls. Under Wine the display's focus events come late on a busy
    // machine and may take it out of the front; it is brought back, as a
    // click on it would.
    static bool in_front(win32::frmMain& window) {
        if (::GetForegroundWindow() != window.handle()) {
            ::SetForegroundWindow(window.handle());
            return false;
        }
        const HWND focus = ::GetFocus();
        return focus != nullptr && ::IsChild(window.handle(), focus);
    }

    // Presses `key` on the control with the focus, with Ctrl and Shift held or
    // not, once the window is in front. The key goes through the window's loop
    // at once rather than through the queue: no message of the display (focus,
    // keymap) then comes between setting the thread's keyboard state and the
    // control reading it.
    static void press(win32::frmMain& window, WORD key, bool control, bool shift) {
        ASSERT_TRUE(pump_until(window, [&] { return in_front(window); }));
        BYTE before[256] = {};
        ::GetKeyboardState(before);
        BYTE held[256] = {};
        std::copy(std::begin(before), std::end(before), held);
        held[VK_CONTROL] = control ? 0x80 : 0;
        held[VK_SHIFT] = shift ? 0x80 : 0;
        ::SetKeyboardState(held);
        for (const auto& [kind, flags] :
             {std::pair<UINT, LPARAM>{WM_KEYDOWN, 1}, {WM_KEYUP, 0xC0000001}}) {
            MSG message{::GetFocus(), kind, key, flags, ::GetTickCount(), {}};
            if (!window.pre_translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        ::SetKeyboardState(before);
    }

    // A left click where the system sends it, to the control under the pointer.
    static void click(win32::frmMain& window, HWND control, int y) {
        ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, y));
        ::PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(4, y));
        pump_waiting(window);
    }

    static bool marked_default(HWND button) {
        return (::SendMessageW(button, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0;
    }

    static std::wstring clipboard_text() {
        std::wstring text;
        if (!::OpenClipboard(nullptr)) return L"(clipboard not open)";
        if (const HANDLE block = ::GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* units = static_cast<const wchar_t*>(::GlobalLock(block))) {
                text = units;
                ::GlobalUnlock(block);
            }
        }
        ::CloseClipboard();
        return text;
    }

    static void select_rows(win32::frmMain& window, std::initializer_list<int> selected) {
        const HWND list = window.lvFiles.handle();
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (const int row : selected) {
            ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            ListView_SetSelectionMark(list, row);
        }
        ::SetFocus(list);
    }

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
    services.search = [entries, &stopped](const std::string&, search::WalkVisitor& visitor,
                                          const std::atomic<bool>& stop) {
        for (const auto& entry : entries) tell_file(visitor, entry);
        tell_done(visitor, "C:\\");
        while (!stop) ::Sleep(1);
        stopped = true;
    };
    return services;
}

window::WindowServices search_finding(std::vector<std::string> entries) {
    window::WindowServices services;
    services.search = [entries](const std::string&, search::WalkVisitor& visitor,
                                const std::atomic<bool>&) {
        for (const auto& entry : entries) tell_file(visitor, entry);
    };
    return services;
}

}  // namespace

TEST_F(Win32Window, AFirstRunWritesTheSettingsFileAndShowsTheDefaultRoot) {
    const auto window = shown_window({}, true);
    EXPECT_EQ(text_of(window->handle()), L"Kestrafin v1.0");
    EXPECT_EQ(::GetFocus(), window->cmdgetfilelist);
    const std::string settings = window->logic().settings_file();
    // The file is read once the window is done with it: a reader's handle
    // makes replacing the file fail, as it would for the window's user.
    ASSERT_TRUE(pump_until(*window, [&] {
        return (text_of(window->txtFileroot) == L"c:\\" && idle(*window)) || !dialogs.seen.empty();
    }));
    ASSERT_TRUE(dialogs.seen.empty()) << dialogs.seen.front().text;
    std::ifstream file(long_form(settings), std::ios::binary);
    const std::string content(std::istreambuf_iterator<char>(file), {});
    EXPECT_NE(content.find("FULLPATH=c:\\"), std::string::npos) << content;
}

TEST_F(Win32Window, TabVisitsTheControlsInTheWindowsOrderAndSkipsTheRest) {
    const auto window = shown_window();
    const std::vector<HWND> order = {window->lvFiles.handle(), window->cmdsave,
                                     window->cmdseldir,        window->cmdsavelist,
                                     window->cmdloadlist,      window->cmdgetfilelist};
    for (std::size_t presses = 1; presses <= order.size(); ++presses) {
        press(*window, VK_TAB, false, false);
        const HWND next = order[presses - 1];
        EXPECT_EQ(::GetFocus(), next) << "after " << presses << " presses";
        // The button that Enter presses there bears the default mark.
        const HWND pressed = next == window->lvFiles.handle() ? window->cmdgetfilelist : next;
        EXPECT_TRUE(marked_default(pressed)) << "after " << presses << " presses";
    }
}

TEST_F(Win32Window, EnterPressesTheButtonThatHasTheFocusHoweverItCameThere) {
    std::atomic<int> searches{0};
    window::WindowServices services;
    services.search = [&searches](const std::string&, search::WalkVisitor&,
                                  const std::atomic<bool>&) { ++searches; };
    const auto window = shown_window(std::move(services));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    // With no saved list, "Reload List" answers with a message box.
    click(*window, window->cmdloadlist, 4);
    ASSERT_TRUE(pump_until(*window, [&] { return dialogs.seen.size() == 1 && idle(*window); }));
    EXPECT_TRUE(marked_default(window->cmdloadlist) && !marked_default(window->cmdgetfilelist));
    press(*window, VK_RETURN, false, false);
    ASSERT_TRUE(pump_until(
        *window, [&] { return (dialogs.seen.size() == 2 || searches > 0) && idle(*window); }));
    EXPECT_EQ(searches, 0);
    // The list takes no Enter of its own: there it presses "Search".
    click(*window, window->lvFiles.handle(), 100);
    EXPECT_TRUE(marked_default(window->cmdgetfilelist) && !marked_default(window->cmdloadlist));
    press(*window, VK_RETURN, false, false);
    ASSERT_TRUE(pump_until(*window, [&] { return searches > 0 && idle(*window); }));
    EXPECT_EQ(dialogs.seen.size(), 2u);
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
    search::searchfiles(tree.path(), walk);
    ASSERT_GT(search::utf16_length(walk.entries.back()), 1000u);

    const auto window = shown_window();
    dialogs.answer = wide(tree.path());
    ::SendMessageW(window->cmdseldir, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    EXPECT_EQ(text_of(window->txtFileroot), wide(tree.path()));
    // "Change" offers the root again.
    ::SendMessageW(window->cmdseldir, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ASSERT_EQ(dialogs.seen.size(), 2u);
    EXPECT_TRUE(dialogs.seen[0].choices.empty());
    EXPECT_EQ(dialogs.seen[1].choices, std::vector<std::wstring>{wide(tree.path())});

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
    EXPECT_TRUE(dialogs.seen.size() == 2 && dialogs.seen[1].title == L"Kestrafin");
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

TEST_F(Win32Window, WhileASearchRunsTheListScrollsAndAClickOnStopStopsIt) {
    std::vector<std::string> found;
    for (int entry = 0; entry < 200; ++entry)
        found.push_back("C:\\found\\" + std::to_string(entry));
    found.push_back("C:\\" + std::string(600, 'w') + "\\end");
    std::atomic<bool> stopped{false};
    const auto window = shown_window(search_until_stopped(found, stopped));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return window->lvFiles.rows() == found.size(); }));
    EXPECT_EQ(text_of(window->cmdgetfilelist), L"Stop");

    const HWND list = window->lvFiles.handle();
    ::SetFocus(list);
    press(*window, VK_END, false, false);
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 200);
    EXPECT_GT(ListView_GetTopIndex(list), 0);
    // Sideways, so that the end of a long path comes into sight, and back.
    press(*window, VK_RIGHT, false, false);
    const int scrolled = ::GetScrollPos(list, SB_HORZ);
    EXPECT_GT(scrolled, 0);
    press(*window, VK_RIGHT, false, false);
    EXPECT_GT(::GetScrollPos(list, SB_HORZ), scrolled);
    press(*window, VK_LEFT, false, false);
    press(*window, VK_LEFT, false, false);
    EXPECT_EQ(::GetScrollPos(list, SB_HORZ), 0);
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 200);
    EXPECT_FALSE(stopped);

    click(*window, window->cmdgetfilelist, 4);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(text_of(window->cmdgetfilelist), L"Search");
    EXPECT_EQ(window->lvFiles.rows(), found.size());
}

TEST_F(Win32Window, APressOnStopReleasedAfterTheSearchEndedStartsNoOtherSearch) {
    std::atomic<int> searches{0};
    std::atomic<bool> walk_ends{false};
    window::WindowServices services;
    services.search = [&](const std::string&, search::WalkVisitor& visitor,
                          const std::atomic<bool>& stop) {
        ++searches;
        tell_file(visitor, "C:\\found");
        tell_done(visitor, "C:\\");
        while (!walk_ends && !stop) ::Sleep(1);
    };
    const auto window = shown_window(std::move(services));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return window->lvFiles.rows() == 1; }));
    ::PostMessageW(window->cmdgetfilelist, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    pump_waiting(*window);
    walk_ends = true;
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::PostMessageW(window->cmdgetfilelist, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    pump_waiting(*window);
    EXPECT_EQ(searches, 1);
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
    // The status line stands whole in its label, in the label's font.
    const std::wstring status = text_of(window->lblstatus);
    EXPECT_TRUE(status.starts_with(L"Reloaded from ") || status.starts_with(L"Saved 2"))
        << utf8(status);
    const HDC context = ::GetDC(window->lblstatus);
    const HGDIOBJ previous = ::SelectObject(
        context, reinterpret_cast<HFONT>(::SendMessageW(window->lblstatus, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(context, status.c_str(), static_cast<int>(status.size()), &extent);
    ::SelectObject(context, previous);
    ::ReleaseDC(window->lblstatus, context);
    RECT box{};
    ::GetClientRect(window->lblstatus, &box);
    EXPECT_LE(extent.cx, box.right) << utf8(status);
}

TEST_F(Win32Window, ARowTooLongToShowIsDrawnMeasuredAndTippedFromItsEnds) {
    std::string text = "C:";
    while (text.size() < 8'000'000) text += "\\a folder of its own";
    text += "\\end.dat";
    const auto window = shown_window();
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    window->logic().list_items().Add(text);
    window->logic().list_items().Refresh();
    pump_waiting(*window);
    // What shows fits the widest column a list view takes, ends included.
    const std::wstring shown = window->lvFiles.shown_text(0);
    EXPECT_TRUE(shown.starts_with(L"C:\\a folder of its own\\"));
    EXPECT_TRUE(shown.ends_with(L"\\end.dat") && shown.find(L'\u2026') != std::wstring::npos);
    const std::string utf8 = platform::utf8_from_utf16(std::u16string(shown.begin(), shown.end()));
    EXPECT_GE(window->lvFiles.column_width(), width_in_list(*window, utf8));
    EXPECT_LE(window->lvFiles.column_width(), 32767);
    std::wstring tip = window->lvFiles.tip_text(0);
    // The path, then below a blank line its lengths.
    tip.resize(tip.find(L"\r\n\r\n"));
    std::erase(tip, L'\r');
    std::erase(tip, L'\n');
    EXPECT_EQ(tip, wide(window::shown_row_text(text, '\\', window::kLongestTip)));
}

TEST_F(Win32Window, AMessageShowsWholeHoweverLongItsPath) {
    // Message boxes break lines at blanks only: a long root ran off both
    // sides of the screen and hid the reason that follows it.
    std::string root = "C:\\nonexistent-root";
    for (int name = 0; name < 12; ++name) {
        root += "\\Project" + std::to_string(name) + "_";
        for (int part = 0; part < 21; ++part) root += "deliverable";
    }
    make_windows_file(program / "kestrafin.ini", "[PATH]\r\nFULLPATH=" + root + "\r\n");
    const auto window = shown_window();
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return !dialogs.seen.empty() && idle(*window); }));
    const DialogAnswers::Seen& seen = dialogs.seen[0];
    EXPECT_EQ(seen.title, L"Kestrafin");
    EXPECT_TRUE(seen.whole);
    std::wstring text = seen.text;
    std::erase(text, L'\n');
    const std::wstring start = L"The folder \"" + wide(root) + L"\" cannot be searched: ";
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_GT(text.size(), start.size() + 1);
    EXPECT_EQ(text.back(), L'.');
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

namespace {

// A line break, a right-to-left folder and a plain path.
const std::vector<std::string> kFound = {
    "C:\\two\nlines\\a.txt", "C:\\Projects\\\xD9\x85\xD8\xAC\xD9\x84\xD8\xAF\\2024\\r.pdf",
    "C:\\plain\\b.txt"};
const std::wstring kFoundText[] = {L"C:\\two\r\nlines\\a.txt",
                                   L"C:\\Projects\\\x0645\x062C\x0644\x062F\\2024\\r.pdf",
                                   L"C:\\plain\\b.txt"};

}  // namespace

TEST_F(Win32Window, SelectedRowsAreCopiedAsTheirRealTextWithTheKeys) {
    const struct Case {
        const char* keys;
        std::initializer_list<int> first_selected;
        std::vector<std::pair<WORD, bool>> presses;  // key, with Shift; Ctrl+C ends each
        std::wstring copied;
    } cases[] = {
        {"Ctrl+C", {0}, {}, kFoundText[0]},
        {"Shift+Down twice",
         {0},
         {{VK_DOWN, true}, {VK_DOWN, true}},
         kFoundText[0] + L"\r\n" + kFoundText[1] + L"\r\n" + kFoundText[2]},
        {"Shift+Up", {2}, {{VK_UP, true}}, kFoundText[1] + L"\r\n" + kFoundText[2]},
        {"Ctrl+A",
         {1},
         {{'A', false}},
         kFoundText[0] + L"\r\n" + kFoundText[1] + L"\r\n" + kFoundText[2]},
    };
    const auto window = shown_window(search_finding(kFound));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 3; }));
    // The keyboard's state is the thread's own only once the window has the
    // focus: until then the host may still set it from the display.
    ASSERT_TRUE(pump_until(*window, [&] { return ::GetForegroundWindow() == window->handle(); }));
    for (const Case& each : cases) {
        select_rows(*window, each.first_selected);
        for (const auto& [key, shift] : each.presses) press(*window, key, key == 'A', shift);
        press(*window, 'C', true, false);
        EXPECT_EQ(clipboard_text(), each.copied) << each.keys;
    }
    EXPECT_TRUE(dialogs.seen.empty());
}

TEST_F(Win32Window, CtrlFAndF3AnywhereInTheWindowSelectTheRowsThatHoldAText) {
    const auto window = shown_window(search_finding(kFound));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 3; }));
    ::SetFocus(window->cmdsave);
    dialogs.answer = L".TXT";
    press(*window, 'F', true, false);
    ASSERT_TRUE(pump_until(*window, [&] { return dialogs.seen.size() == 1; }));
    const HWND list = window->lvFiles.handle();
    const auto current = [&] { return ListView_GetNextItem(list, -1, LVNI_FOCUSED); };
    ASSERT_TRUE(pump_until(*window, [&] { return current() == 0; }));
    EXPECT_EQ(::GetFocus(), list);
    press(*window, VK_F3, false, true);
    EXPECT_EQ(current(), 2);
    EXPECT_EQ(ListView_GetSelectedCount(list), 1u);
}

TEST_F(Win32Window, ExportAsksForTheFileInTheSystemsSaveDialog) {
    const auto window = shown_window(search_finding({"C:\\a"}));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 1; }));
    const std::string file = program / "list.csv";
    dialogs.answer = wide(file);
    window->logic().export_list();
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ASSERT_EQ(dialogs.seen.size(), 1u);
    EXPECT_EQ(dialogs.seen[0].title, L"Export as CSV");
    EXPECT_TRUE(read_bytes(file).ends_with("\r\nC:\\a,3,4,file,,\r\n")) << read_bytes(file);
}

TEST_F(Win32Window, AClickOnTheStatusLineListsTheFoldersNotRead) {
    window::WindowServices services;
    services.search = [](const std::string&, search::WalkVisitor& visitor,
                         const std::atomic<bool>&) {
        tell_not_entered(visitor, "C:\\sys", search::NotEntered::system_folder);
    };
    const auto window = shown_window(std::move(services));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    click(*window, window->lblstatus, 2);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && !dialogs.seen.empty(); }));
    EXPECT_EQ(dialogs.seen[0].title, L"Folders not read");
    EXPECT_EQ(dialogs.seen[0].text,
              L"Not entered:\r\nC:\\sys: the system marks it as its own and refuses to open "
              L"it\r\n");
}

TEST_F(Win32Window, AFolderDroppedOnTheWindowBecomesTheRoot) {
    const auto window = shown_window();
    const std::wstring names = std::wstring(L"C:\\dropped") + L'\0' + L"C:\\second" + L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t);
    const HGLOBAL block = ::GlobalAlloc(GHND, bytes);
    ASSERT_NE(block, nullptr);
    auto* header = static_cast<DROPFILES*>(::GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::copy(names.begin(), names.end(),
              reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES)));
    ::GlobalUnlock(block);
    ::SendMessageW(window->handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    EXPECT_EQ(window->logic().root_text(), "C:\\dropped");
}

TEST_F(Win32Window, TheListsContextMenuCopiesPathsAndShowsAFileInItsFolder) {
    std::vector<std::string> shown;
    window::WindowServices services = search_finding(kFound);
    services.show_in_file_manager = [&shown](const std::string& path) { shown.push_back(path); };
    const auto window = shown_window(std::move(services));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 3; }));

    const struct Case {
        int downs;  // from the menu's top
        std::wstring copied;
        std::vector<std::string> shown;
    } cases[] = {
        {1, kFoundText[1], {}},
        {2, L"C:\\Projects\\\x0645\x062C\x0644\x062F\\2024", {}},
        {3, kFoundText[0] + L"\r\n" + kFoundText[1] + L"\r\n" + kFoundText[2], {}},
        // A name holds a line break: each path in its quotes.
        {4,
         L"\"" + kFoundText[0] + L"\"\r\n\"" + kFoundText[1] + L"\"\r\n\"" + kFoundText[2] + L"\"",
         {}},
        {5, L"", {kFound[1]}},
    };
    for (const Case& each : cases) {
        ::OpenClipboard(nullptr);
        ::EmptyClipboard();
        ::CloseClipboard();
        shown.clear();
        select_rows(*window, {1});
        dialogs.menu_downs = each.downs;
        ::SendMessageW(window->lvFiles.handle(), WM_CONTEXTMENU,
                       reinterpret_cast<WPARAM>(window->lvFiles.handle()), MAKELPARAM(-1, -1));
        ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
        std::vector<std::wstring> items;
        for (const window::ListMenuItem& item : window::list_menu({.rows_selected = true,
                                                .has_rows = true,
                                                .on_a_row = true,
                                                .line_breaks = true,
                                                .clipboard_takes_nul = false}))
            items.push_back(wide(item.caption) +
                            (item.shortcut.empty() ? L"" : L"\t" + wide(item.shortcut)));
        EXPECT_EQ(dialogs.menu_items, items);
        EXPECT_EQ(clipboard_text(), each.copied) << each.downs;
        EXPECT_EQ(shown, each.shown) << each.downs;
    }
    EXPECT_TRUE(dialogs.seen.empty());
}

namespace {

// The colours of `list`'s client area as it paints itself.
std::vector<COLORREF> painted(HWND list, SIZE& size) {
    RECT client{};
    ::GetClientRect(list, &client);
    size = {client.right, client.bottom};
    const HDC screen = ::GetDC(list);
    const HDC memory = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, size.cx, size.cy);
    const HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                   PRF_CLIENT | PRF_ERASEBKGND);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < size.cy; ++y)
        for (int x = 0; x < size.cx; ++x) pixels.push_back(::GetPixel(memory, x, y));
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(list, screen);
    return pixels;
}

}  // namespace

TEST_F(Win32Window, EveryGlyphOfARowLiesClearOfTheLinesItsFocusMarkTakesAtEveryScale) {
    // Underscores beside right-to-left text come from the font lent for
    // that script and lie lower than the list font's own.
    const std::vector<std::string> found = {
        "C:\\x\\mixed_\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A_English_\xD7\xA2\xD7\x91\xD7\xA8"
        "\xD7\x99\xD7\xAA.txt",
        "C:\\x\\\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D_\xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D_gjpqy.txt",
        "C:\\x\\plain_gjpqy_\xC3\x84\xC3\x96.txt"};
    std::vector<win32::GdiOwner<HFONT>> fonts;
    const auto window = shown_window(search_finding(found));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 3; }));
    const HWND list = window->lvFiles.handle();
    for (const int dpi : {96, 144, 192}) {
        LOGFONTW design{};
        design.lfHeight = -static_cast<LONG>(std::lround(8.25 * dpi / 72));
        design.lfWeight = FW_BOLD;
        design.lfCharSet = DEFAULT_CHARSET;
        ::lstrcpynW(design.lfFaceName, L"Microsoft Sans Serif", LF_FACESIZE);
        fonts.emplace_back(::CreateFontIndirectW(&design));
        window->lvFiles.set_font(fonts.back().get());
        // The first row selected, the focus elsewhere: no mark is drawn, and
        // the lines it would take must be bare.
        select_rows(*window, {0});
        ::SetFocus(window->cmdgetfilelist);
        SIZE size{};
        const std::vector<COLORREF> pixels = painted(list, size);
        for (int row = 0; row < 3; ++row) {
            RECT bounds{};
            ListView_GetItemRect(list, row, &bounds, LVIR_BOUNDS);
            const COLORREF background = ::GetSysColor(row == 0 ? COLOR_BTNFACE : COLOR_WINDOW);
            const auto inked = [&](int y) {
                int count = 0;
                for (int x = 0; x < std::min<int>(bounds.right, size.cx); ++x)
                    count += pixels[static_cast<std::size_t>(y * size.cx + x)] != background;
                return count;
            };
            int text = 0;
            for (int y = bounds.top + 1; y < bounds.bottom - 1; ++y) text += inked(y);
            EXPECT_GT(text, 0) << dpi << " dpi, row " << row;
            EXPECT_EQ(inked(bounds.top), 0) << dpi << " dpi, row " << row << ", top line";
            EXPECT_EQ(inked(bounds.bottom - 1), 0) << dpi << " dpi, row " << row << ", bottom line";
        }
    }
}

namespace {

// True when a help text annotated on `control` comes back from its
// accessible object, as screen readers read it.
bool host_reads_annotations(HWND control) {
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IAccPropServices, reinterpret_cast<void**>(&services))))
        return false;
    const bool set = SUCCEEDED(services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF,
                                                        PROPID_ACC_HELP, L"annotated"));
    bool read = false;
    IAccessible* object = nullptr;
    if (set && SUCCEEDED(::AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible,
                                                      reinterpret_cast<void**>(&object)))) {
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        read = SUCCEEDED(object->get_accHelp(self, &text)) && text != nullptr &&
               std::wstring_view(text) == L"annotated";
        ::SysFreeString(text);
        object->Release();
    }
    MSAAPROPID help = PROPID_ACC_HELP;
    if (set) services->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, &help, 1);
    services->Release();
    return read;
}

}  // namespace

TEST_F(Win32Window,
       AssistiveTechnologyFindsANameForTheBoxTheListTheLogoAndTheLinkAndTheBoxReadOnly) {
    const auto window = shown_window(search_finding(kFound));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    if (!host_reads_annotations(window->Label2))
        GTEST_SKIP() << "this host's accessible objects do not read annotated properties "
                        "(Wine's oleacc does not)";
    const auto name_of = [](HWND control, bool description) {
        IAccessible* object = nullptr;
        if (FAILED(::AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible,
                                                reinterpret_cast<void**>(&object))))
            return std::wstring(L"(no accessible object)");
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        const HRESULT got = description ? object->get_accDescription(self, &text)
                                        : object->get_accName(self, &text);
        std::wstring read = SUCCEEDED(got) && text != nullptr ? std::wstring(text) : L"";
        ::SysFreeString(text);
        object->Release();
        return read;
    };
    namespace design = window::design;
    for (const auto& [control, designed] : {std::pair{window->txtFileroot, &design::txtFileroot},
                                            {window->lvFiles.handle(), &design::lvFiles},
                                            {window->Image1, &design::Image1},
                                            {window->lblorvane, &design::lblorvane}})
        EXPECT_EQ(name_of(control, false), wide(designed->accessible_name));
    IAccessible* box = nullptr;
    ASSERT_TRUE(SUCCEEDED(::AccessibleObjectFromWindow(
        window->txtFileroot, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&box))));
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT state{};
    EXPECT_TRUE(SUCCEEDED(box->get_accState(self, &state)) && state.vt == VT_I4 &&
                (state.lVal & STATE_SYSTEM_READONLY) != 0);
    box->Release();
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window) && window->lvFiles.rows() == 3; }));
    EXPECT_EQ(name_of(window->lvFiles.handle(), true), wide(design::list_description(3)));
}

namespace {

// The name and live region changes raised for the count and the status
// line, with the name each had when its event came.
struct TextEvent {
    HWND control;
    DWORD event;
    std::wstring name;
};
std::vector<TextEvent>* text_events = nullptr;
std::vector<HWND> watched_labels;

std::wstring accessible_name(HWND control) {
    IAccessible* object = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible,
                                            reinterpret_cast<void**>(&object))))
        return L"(no accessible object)";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    std::wstring name = SUCCEEDED(object->get_accName(self, &text)) && text != nullptr ? text : L"";
    ::SysFreeString(text);
    object->Release();
    return name;
}

void CALLBACK record_text_event(HWINEVENTHOOK, DWORD event, HWND control, LONG object, LONG child,
                                DWORD, DWORD) {
    if (text_events == nullptr || object != OBJID_CLIENT || child != CHILDID_SELF ||
        std::find(watched_labels.begin(), watched_labels.end(), control) == watched_labels.end())
        return;
    text_events->push_back({control, event, accessible_name(control)});
}

}  // namespace

TEST_F(Win32Window, TheCountAndTheStatusLineAreReadByTheirTextsAndAnnouncedWhenTheSearchEnds) {
    std::atomic<bool> stopped{false};
    const auto window = shown_window(search_until_stopped(kFound, stopped));
    ASSERT_TRUE(pump_until(*window, [&] { return idle(*window); }));
    std::vector<TextEvent> events;
    text_events = &events;
    watched_labels = {window->lbllistcount, window->lblstatus};
    const HWINEVENTHOOK hook =
        ::SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                          record_text_event, ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const auto raised = [&](HWND control, DWORD event) {
        const std::wstring text = text_of(control);
        return std::any_of(events.begin(), events.end(), [&](const TextEvent& seen) {
            return seen.control == control && seen.event == event && seen.name == text;
        });
    };
    const auto read_out = [&](HWND control) {
        return std::count_if(events.begin(), events.end(), [&](const TextEvent& seen) {
            return seen.control == control && seen.event == EVENT_OBJECT_LIVEREGIONCHANGED;
        });
    };
    // While the search runs the count's name follows its text, unannounced.
    ::SendMessageW(window->cmdgetfilelist, BM_CLICK, 0, 0);
    ASSERT_TRUE(pump_until(*window, [&] {
        return text_of(window->lbllistcount) == L"3 records found" &&
               raised(window->lbllistcount, EVENT_OBJECT_NAMECHANGE);
    }));
    pump_waiting(*window);
    EXPECT_EQ(read_out(window->lbllistcount), 0);
    // Stopped, both are read out once, as they then read.
    press(*window, VK_ESCAPE, false, false);
    ASSERT_TRUE(pump_until(*window, [&] {
        return idle(*window) && !text_of(window->lblstatus).empty() &&
               raised(window->lbllistcount, EVENT_OBJECT_LIVEREGIONCHANGED) &&
               raised(window->lblstatus, EVENT_OBJECT_LIVEREGIONCHANGED);
    }));
    pump_waiting(*window);
    ::UnhookWinEvent(hook);
    text_events = nullptr;
    EXPECT_TRUE(stopped);
    for (const HWND label : {window->lbllistcount, window->lblstatus}) {
        EXPECT_EQ(read_out(label), 1);
        EXPECT_TRUE(raised(label, EVENT_OBJECT_NAMECHANGE));
        EXPECT_EQ(accessible_name(label), text_of(label));
    }
}
