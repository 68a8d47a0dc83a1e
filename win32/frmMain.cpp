#include "win32/frmMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "platform/text.h"
#include "win32/file_dialog.h"
#include "win32/folder_list_dialog.h"
#include "win32/message_lines.h"
#include "win32/picture_scale.h"
#include "win32/resource_ids.h"
#include "win32/text_prompt.h"
#include "win32/window_dpi.h"
#include "window/input_policy.h"
#include "window/window_design.h"

namespace kestrafin::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"KestrafinMainWindow";
constexpr UINT kTaskMessage = WM_APP + 1;
constexpr UINT_PTR kButtonSubclassId = 1;

// Control IDs, in the order Tab visits the controls that take the focus.
enum ControlId : int {
    kSearchId = 100,
    kListId,
    kSavePathId,
    kChangeId,
    kSaveListId,
    kReloadListId,
    kTitleId,
    kRootCaptionId,
    kRootBoxId,
    kCountId,
    kLogoId,
    kCreditId,
    kLinkId,
    kStatusId,
};

UINT_PTR timer_id(window::Timer timer) {
    return timer == window::Timer::tmrwait2 ? 1 : 2;
}

COLORREF colour_of(window::design::Rgb rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

std::wstring wide(std::string_view utf8) {
    const std::u16string text = platform::utf16_from_utf8(utf8);
    return {text.begin(), text.end()};
}

std::string utf8(const std::wstring& text) {
    return platform::utf8_from_utf16(std::u16string(text.begin(), text.end()));
}

[[noreturn]] void raise_last_error(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

HINSTANCE program_instance() {
    return ::GetModuleHandleW(nullptr);
}

// The system's dialog font.
constexpr wchar_t kDialogFace[] = L"MS Shell Dlg 2";
constexpr double kDialogPoints = 8;

// A designed font's size, times `scale`.
double points_of(const window::design::Font& designed, double scale) {
    return (designed.family.empty() ? kDialogPoints : designed.points) * scale;
}

// A designed font at `points`, at `dpi`.
HFONT make_font(const window::design::Font& designed, double points, unsigned dpi) {
    const bool system = designed.family.empty();
    const std::wstring face = system ? std::wstring(kDialogFace) : wide(designed.family);
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
    font.lfWeight = designed.bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = system || designed.any_script ? DEFAULT_CHARSET : ANSI_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    ::lstrcpynW(font.lfFaceName, face.c_str(), LF_FACESIZE);
    const HFONT made = ::CreateFontIndirectW(&font);
    if (made == nullptr) raise_last_error("cannot create a font");
    return made;
}

// Whether `text` in `font` stands on one line `width` pixels wide, measured
// as a static control draws it: its words wrapped, a word that does not fit
// moved to a line below, out of sight in a label one line high.
bool fits_one_line(HWND window, HFONT font, const std::wstring& text, int width) {
    const HDC context = ::GetDC(window);
    const HGDIOBJ previous = ::SelectObject(context, font);
    RECT one_line{0, 0, width, 0};
    ::DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &one_line,
                DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    RECT wrapped{0, 0, width, 0};
    ::DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &wrapped,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(context, previous);
    ::ReleaseDC(window, context);
    return one_line.right <= width && wrapped.bottom <= one_line.bottom;
}

// Label sizes are those of their text in the intended font; where the system
// substitutes a wider face, the font shrinks until the text fits `width`.
HFONT fitted_font(HWND window, const window::design::Control& designed, double scale, unsigned dpi,
                  int width) {
    const std::wstring text = wide(window::design::fitted_text(designed));
    const double points =
        window::design::fitted_points(designed.font.points, scale, [&](double trying) {
            const GdiOwner<HFONT> font(make_font(designed.font, trying, dpi));
            return fits_one_line(window, font.get(), text, width);
        });
    return make_font(designed.font, points, dpi);
}

HWND make_control(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, int id,
                  DWORD extended_style = 0) {
    const HWND control = ::CreateWindowExW(
        extended_style, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), program_instance(), nullptr);
    if (control == nullptr) raise_last_error("cannot create a control");
    return control;
}

window::PixelRect pixels(const window::design::Control& designed,
                         const window::LayoutScale& scale) {
    const window::design::Twips& at = designed.place;
    return scale.rect(at.left, at.top, at.width, at.height);
}

void place(HWND control, const window::design::Control& designed,
           const window::LayoutScale& scale) {
    const window::PixelRect placed = pixels(designed, scale);
    ::MoveWindow(control, placed.left, placed.top, placed.width, placed.height, TRUE);
}

bool is_input(const MSG& message) {
    const UINT kind = message.message;
    // Alt+F4 asks to close, which is never dropped.
    if (kind == WM_SYSKEYDOWN && message.wParam == VK_F4) return false;
    const bool touch_or_pointer = kind >= WM_TOUCH && kind <= 0x0257;  // WM_POINTER... range
    return (kind >= WM_KEYFIRST && kind <= WM_KEYLAST) ||
           (kind >= WM_MOUSEFIRST && kind <= WM_MOUSELAST) || touch_or_pointer;
}

window::InputKey input_key(WPARAM key) {
    switch (key) {
        case VK_UP:
            return window::InputKey::Up;
        case VK_DOWN:
            return window::InputKey::Down;
        case VK_LEFT:
            return window::InputKey::Left;
        case VK_RIGHT:
            return window::InputKey::Right;
        case VK_PRIOR:
            return window::InputKey::PageUp;
        case VK_NEXT:
            return window::InputKey::PageDown;
        case VK_HOME:
            return window::InputKey::Home;
        case VK_END:
            return window::InputKey::End;
        default:
            return window::InputKey::Other;
    }
}

void register_window_class() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = ::DefWindowProcW;
    window_class.hInstance = program_instance();
    window_class.hIcon = ::LoadIconW(program_instance(), MAKEINTRESOURCEW(IDI_KESTRAFIN));
    window_class.hIconSm = static_cast<HICON>(
        ::LoadImageW(program_instance(), MAKEINTRESOURCEW(IDI_KESTRAFIN), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        raise_last_error("cannot register the window class");
}

}  // namespace

frmMain::frmMain(std::string program_folder, window::WindowServices services)
    : window_brush_(::CreateSolidBrush(colour_of(window::design::kWindowColour))),
      root_brush_(::CreateSolidBrush(colour_of(window::design::kRootBoxBackground))) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);
    register_window_class();
    accessible_ = std::make_unique<AccessibleNames>();
    logic_ = std::make_unique<window::WindowLogic>(*this, std::move(program_folder),
                                                   std::move(services));
    // Fixed layout: a border that does not size, no maximize button.
    frmMain_ = ::CreateWindowExW(
        0, kWindowClass, wide(window::design::kWindowTitle).c_str(),
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, 100, 100, nullptr, nullptr, program_instance(), nullptr);
    if (frmMain_ == nullptr) raise_last_error("cannot create the window");
    ::SetWindowLongPtrW(frmMain_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(frmMain_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(window_procedure));
    dpi_ = window_dpi(frmMain_);
    logo_ = GdiOwner<HBITMAP>(static_cast<HBITMAP>(::LoadImageW(
        program_instance(), MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    create_controls();
    create_tooltips();
    name_for_assistive_technology();
    lay_out();
    place_on_screen();
    accept_dropped_folders();
}

void frmMain::accept_dropped_folders() {
    ::DragAcceptFiles(frmMain_, TRUE);
    // An administrator's window runs elevated, and the system keeps an
    // Explorer of lower rights from dropping on it unless these may pass.
    for (const UINT message : {UINT{WM_DROPFILES}, UINT{WM_COPYDATA}, kCopyGlobalData})
        ::ChangeWindowMessageFilterEx(frmMain_, message, MSGFLT_ALLOW, nullptr);
}

void frmMain::on_drop(HDROP dropped) {
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(dropped, 0xFFFFFFFF, nullptr, 0);
    for (UINT at = 0; at < count; ++at) {
        std::wstring path(::DragQueryFileW(dropped, at, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(dropped, at, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(utf8(path));
    }
    ::DragFinish(dropped);
    logic_->root_dropped(paths);
}

frmMain::~frmMain() {
    {
        const std::lock_guard lock(tasks_lock_);
        window_gone_ = true;
        tasks_.clear();
    }
    // The logic stops its work first: nothing may reach a window that is gone.
    logic_.reset();
    accessible_.reset();
    if (frmMain_ != nullptr && ::IsWindow(frmMain_)) {
        ::SetWindowLongPtrW(frmMain_, GWLP_USERDATA, 0);
        ::DestroyWindow(frmMain_);
    }
}

void frmMain::create_controls() {
    // Created in the order Tab visits them; the labels take no focus.
    namespace design = window::design;
    const auto caption = [](const design::Control& designed) { return wide(designed.caption); };
    cmdgetfilelist = make_control(frmMain_, WC_BUTTONW, caption(design::cmdgetfilelist).c_str(),
                                  WS_TABSTOP | BS_DEFPUSHBUTTON, kSearchId);
    ListCommands commands;
    // The window's logic turns these away while it is busy.
    commands.copy = [this](const std::vector<std::size_t>& rows) { logic_->copy_paths(rows); };
    commands.copy_all = [this](window::PathFormat format) { logic_->copy_all_paths(format); };
    commands.copy_folder = [this](std::size_t row) { logic_->copy_folder_path(row); };
    commands.open_folder = [this](std::size_t row) { logic_->open_containing_folder(row); };
    commands.export_all = [this] { logic_->export_list(); };
    commands.export_selected = [this](const std::vector<std::size_t>& rows) {
        logic_->export_selection(rows);
    };
    commands.folders_not_read = [this] { logic_->folder_list_requested(); };
    commands.has_folders_not_read = [this] { return logic_->has_folder_problems(); };
    commands.find = [this] { logic_->find_in_list(lvFiles.current_row()); };
    commands.find_next = [this] { logic_->find_next(lvFiles.current_row(), false); };
    lvFiles.create(frmMain_, kListId, logic_->list_items(), std::move(commands));
    cmdsave = make_control(frmMain_, WC_BUTTONW, caption(design::cmdsave).c_str(),
                           WS_TABSTOP | BS_PUSHBUTTON, kSavePathId);
    cmdseldir = make_control(frmMain_, WC_BUTTONW, caption(design::cmdseldir).c_str(),
                             WS_TABSTOP | BS_PUSHBUTTON, kChangeId);
    cmdsavelist = make_control(frmMain_, WC_BUTTONW, caption(design::cmdsavelist).c_str(),
                               WS_TABSTOP | BS_PUSHBUTTON, kSaveListId);
    cmdloadlist = make_control(frmMain_, WC_BUTTONW, caption(design::cmdloadlist).c_str(),
                               WS_TABSTOP | BS_PUSHBUTTON, kReloadListId);
    // A click gives a button the focus without the dialog manager's say.
    for (const HWND button : push_buttons())
        ::SetWindowSubclass(button, button_procedure, kButtonSubclassId,
                            reinterpret_cast<DWORD_PTR>(this));
    // No label takes an ampersand for an access key mark: each shows its caption as written.
    Label1 = make_control(frmMain_, WC_STATICW, caption(design::Label1).c_str(),
                          SS_LEFT | SS_NOPREFIX, kTitleId);
    lblprocessrootdir =
        make_control(frmMain_, WC_STATICW, caption(design::lblprocessrootdir).c_str(),
                     SS_LEFT | SS_NOPREFIX, kRootCaptionId);
    // Disabled from the start: it shows the root but takes neither focus nor typing.
    const std::wstring root = wide(logic_->root_text());
    txtFileroot = make_control(frmMain_, WC_EDITW, root.c_str(),
                               WS_DISABLED | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, kRootBoxId,
                               WS_EX_CLIENTEDGE);
    ::SendMessageW(txtFileroot, EM_SETLIMITTEXT, 0, 0);
    root_tip_ = root;
    lbllistcount = make_control(frmMain_, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, kCountId);
    Image1 = make_control(frmMain_, WC_STATICW, wide(design::Image1.accessible_name).c_str(),
                          SS_OWNERDRAW | SS_NOTIFY, kLogoId);
    Label2 = make_control(frmMain_, WC_STATICW, caption(design::Label2).c_str(),
                          SS_LEFT | SS_NOPREFIX, kCreditId);
    lblorvane = make_control(frmMain_, WC_STATICW, caption(design::lblorvane).c_str(),
                             SS_LEFT | SS_NOPREFIX | SS_NOTIFY, kLinkId);
    lblstatus = make_control(frmMain_, WC_STATICW, L"",
                             SS_LEFT | SS_NOPREFIX | SS_NOTIFY | SS_ENDELLIPSIS, kStatusId);
}

void frmMain::create_tooltips() {
    tooltips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                  WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, frmMain_, nullptr,
                                  program_instance(), nullptr);
    if (tooltips_ == nullptr) raise_last_error("cannot create the tool tips");
    TTTOOLINFOW link{};
    link.cbSize = sizeof link;
    link.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    link.hwnd = frmMain_;
    link.uId = reinterpret_cast<UINT_PTR>(lblorvane);
    link_tip_ = wide(window::design::lblorvane.tip);
    link.lpszText = link_tip_.data();
    ::SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&link));
    TTTOOLINFOW status{};
    status.cbSize = sizeof status;
    status.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    status.hwnd = frmMain_;
    status.uId = reinterpret_cast<UINT_PTR>(lblstatus);
    status.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&status));
    // A disabled box gets no pointer messages; its place in the window does.
    TTTOOLINFOW root{};
    root.cbSize = sizeof root;
    root.uFlags = TTF_SUBCLASS;
    root.hwnd = frmMain_;
    root.uId = kRootBoxId;
    root.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&root));
}

void frmMain::name_for_assistive_technology() {
    namespace design = window::design;
    const std::pair<HWND, const design::Control*> named[] = {
        {txtFileroot, &design::txtFileroot},
        {lvFiles.handle(), &design::lvFiles},
        {Image1, &design::Image1},
        {lblorvane, &design::lblorvane},
        {cmdgetfilelist, &design::cmdgetfilelist}};
    for (const auto& [control, designed] : named) {
        if (!designed->accessible_name.empty())
            accessible_->name(control, wide(designed->accessible_name),
                              wide(designed->accessible_description));
        else
            accessible_->describe(control, wide(designed->accessible_description));
    }
    accessible_->make_read_only(txtFileroot);
    // The count and the status line are read by what they say; their
    // designed names stand in while they say nothing.
    for (const auto& [control, designed] :
         {std::pair{lbllistcount, &design::lbllistcount}, {lblstatus, &design::lblstatus}}) {
        accessible_->describe(control, wide(designed->accessible_description));
        accessible_->make_live(control);
        announce_text(control, false);
    }
    describe_list();
}

void frmMain::announce_text(HWND control, bool read_out) {
    if (accessible_ == nullptr || control == nullptr) return;
    const window::design::Control& designed =
        control == lbllistcount ? window::design::lbllistcount : window::design::lblstatus;
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    accessible_->show_text(control, text, wide(designed.accessible_name));
    // A label cleared as work starts tells nothing.
    if (!read_out || text.empty()) return;
    // While the window works the count and the status line change several
    // times a second: they are read out once, when the work ends.
    if (activity_ == window::Activity::Idle)
        accessible_->announce(control);
    else
        (control == lbllistcount ? count_to_announce_ : status_to_announce_) = true;
}

void frmMain::describe_list() {
    if (accessible_ == nullptr) return;
    accessible_->describe(lvFiles.handle(), wide(window::design::list_description(lvFiles.rows())));
}

window::LayoutScale frmMain::fitted_scale() const {
    RECT frame{};
    add_window_frame(frame, static_cast<DWORD>(::GetWindowLongPtrW(frmMain_, GWL_STYLE)),
                     static_cast<DWORD>(::GetWindowLongPtrW(frmMain_, GWL_EXSTYLE)), dpi_);
    const RECT work = work_area();
    // The fonts are the window's own, of fixed size: the DPI alone scales them.
    return window::layout_scale(dpi_, {}, {}, window::design::kClientTwips,
                                {frame.right - frame.left, frame.bottom - frame.top},
                                {work.right - work.left, work.bottom - work.top});
}

RECT frmMain::work_area() const {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(frmMain_, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

void frmMain::lay_out() {
    scale_ = fitted_scale();
    std::vector<GdiOwner<HFONT>> fonts;
    const auto use = [&](HWND control, HFONT font) {
        fonts.emplace_back(font);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    };
    namespace design = window::design;
    // On a screen too small for the window at its DPI the fonts shrink with it.
    const double size = scale_.fixed;
    const auto width = [this](const design::Control& designed) {
        return pixels(designed, scale_).width;
    };
    for (const auto& [control, designed] : {std::pair{Label1, &design::Label1},
                                            {lblprocessrootdir, &design::lblprocessrootdir},
                                            {lbllistcount, &design::lbllistcount},
                                            {Label2, &design::Label2},
                                            {lblorvane, &design::lblorvane}})
        use(control, fitted_font(frmMain_, *designed, size, dpi_, width(*designed)));
    use(cmdgetfilelist,
        make_font(design::cmdgetfilelist.font, points_of(design::cmdgetfilelist.font, size), dpi_));
    const HFONT dialog_font =
        make_font(design::kSystemFont, points_of(design::kSystemFont, size), dpi_);
    use(txtFileroot, dialog_font);
    ::SendMessageW(lblstatus, WM_SETFONT, reinterpret_cast<WPARAM>(dialog_font), TRUE);
    for (const HWND button : {cmdseldir, cmdsave, cmdsavelist, cmdloadlist})
        ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(dialog_font), TRUE);
    const HFONT list_font =
        make_font(design::lvFiles.font, points_of(design::lvFiles.font, size), dpi_);
    fonts.emplace_back(list_font);

    for (const auto& [control, designed] : {std::pair{Label1, &design::Label1},
                                            {lvFiles.handle(), &design::lvFiles},
                                            {lblprocessrootdir, &design::lblprocessrootdir},
                                            {txtFileroot, &design::txtFileroot},
                                            {lbllistcount, &design::lbllistcount},
                                            {Image1, &design::Image1},
                                            {cmdseldir, &design::cmdseldir},
                                            {cmdsave, &design::cmdsave},
                                            {cmdsavelist, &design::cmdsavelist},
                                            {cmdloadlist, &design::cmdloadlist},
                                            {cmdgetfilelist, &design::cmdgetfilelist},
                                            {Label2, &design::Label2},
                                            {lblorvane, &design::lblorvane},
                                            {lblstatus, &design::lblstatus}})
        place(control, *designed, scale_);
    lvFiles.set_font(list_font);

    TTTOOLINFOW root{};
    root.cbSize = sizeof root;
    root.hwnd = frmMain_;
    root.uId = kRootBoxId;
    const window::PixelRect box = pixels(design::txtFileroot, scale_);
    root.rect = {box.left, box.top, box.left + box.width, box.top + box.height};
    ::SendMessageW(tooltips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&root));
    ::SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, scale_.across(design::kClientTwips.width) / 2);
    // The controls hold the new fonts now; the old ones may go.
    fonts_.swap(fonts);
}

SIZE frmMain::outer_size() const {
    RECT frame{0, 0, scale_.across(window::design::kClientTwips.width),
               scale_.down(window::design::kClientTwips.height)};
    add_window_frame(frame, static_cast<DWORD>(::GetWindowLongPtrW(frmMain_, GWL_STYLE)),
                     static_cast<DWORD>(::GetWindowLongPtrW(frmMain_, GWL_EXSTYLE)), dpi_);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void frmMain::place_on_screen() {
    const SIZE outer = outer_size();
    const RECT work = work_area();
    const window::PixelRect placed = window::placed_window(
        {outer.cx, outer.cy},
        {work.left, work.top, work.right - work.left, work.bottom - work.top});
    ::SetWindowPos(frmMain_, nullptr, placed.left, placed.top, placed.width, placed.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmMain::load_and_show() {
    logic_->Form_Load();
    ::ShowWindow(frmMain_, SW_SHOWNORMAL);
    ::UpdateWindow(frmMain_);
    ::SetFocus(cmdgetfilelist);
}

bool frmMain::pre_translate(MSG& message) {
    if (frmMain_ == nullptr) return false;
    if (activity_ != window::Activity::Idle && is_input(message) &&
        !reaches_running_search(message)) {
        if (activity_ == window::Activity::Stoppable && message.message == WM_KEYDOWN &&
            message.wParam == VK_ESCAPE)
            logic_->escape_pressed();
        return true;
    }
    if (find_key(message)) return true;
    if (!::IsDialogMessageW(frmMain_, &message)) return false;
    // Its Tab takes the default mark off every button, also where Enter
    // presses "Search".
    mark_default_button(::GetFocus());
    return true;
}

bool frmMain::find_key(const MSG& message) {
    // Anywhere in the window, as in any program with a list to search; the
    // prompts are windows of their own, whose keys stay theirs.
    if (message.message != WM_KEYDOWN || ::GetAncestor(message.hwnd, GA_ROOT) != frmMain_)
        return false;
    const bool control = ::GetKeyState(VK_CONTROL) < 0;
    const bool alt = ::GetKeyState(VK_MENU) < 0;
    if (message.wParam == 'F' && control && !alt) {
        logic_->find_in_list(lvFiles.current_row());
        return true;
    }
    if (message.wParam == VK_F3 && !control && !alt) {
        logic_->find_next(lvFiles.current_row(), ::GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    return false;
}

bool frmMain::reaches_running_search(const MSG& message) const {
    if (activity_ != window::Activity::Stoppable) return false;
    window::UserInput input;
    if (message.hwnd == cmdgetfilelist)
        input.target = window::InputTarget::SearchButton;
    else if (message.hwnd == lvFiles.handle())
        input.target = window::InputTarget::List;
    switch (message.message) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            input.kind = window::InputKind::ButtonPress;
            input.left_button = message.message == WM_LBUTTONDOWN;
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            input.kind = window::InputKind::ButtonRelease;
            input.left_button = message.message == WM_LBUTTONUP;
            break;
        case WM_MOUSEMOVE:
            input.kind = window::InputKind::PointerMove;
            break;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL:
            input.kind = window::InputKind::Wheel;
            break;
        case WM_KEYDOWN:
        case WM_KEYUP:
            input.kind = message.message == WM_KEYDOWN ? window::InputKind::KeyPress
                                                       : window::InputKind::KeyRelease;
            input.key = input_key(message.wParam);
            // The keyboard's state as of this message; Alt makes WM_SYSKEYDOWN instead.
            input.command_modifier = ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_LWIN) < 0 ||
                                     ::GetKeyState(VK_RWIN) < 0;
            break;
        default:
            return false;
    }
    return window::passes_while_searching(input);
}

int frmMain::run_message_loop(frmMain& window) {
    window.ends_message_loop_ = true;
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.pre_translate(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK frmMain::window_procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    auto* self = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
    return self->handle_message(message, wparam, lparam);
}

LRESULT frmMain::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(frmMain_, &client);
            ::FillRect(reinterpret_cast<HDC>(wparam), &client, window_brush_.get());
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            return colour_control(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_DRAWITEM:
            if (wparam == kLogoId) {
                draw_logo(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
                return TRUE;
            }
            break;
        case WM_SETCURSOR:
            if (activity_ != window::Activity::Idle) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            if (reinterpret_cast<HWND>(wparam) == lblorvane) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        case WM_COMMAND:
            on_command(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_DROPFILES:
            on_drop(reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_NOTIFY:
            return on_notify(*reinterpret_cast<NMHDR*>(lparam));
        case DM_GETDEFID:
            return MAKELRESULT(::GetDlgCtrlID(default_button(::GetFocus())), DC_HASDEFID);
        case WM_TIMER:
            if (wparam == timer_id(window::Timer::tmrwait2))
                logic_->timer_elapsed(window::Timer::tmrwait2);
            else if (wparam == timer_id(window::Timer::search_progress))
                logic_->timer_elapsed(window::Timer::search_progress);
            return 0;
        case kTaskMessage:
            run_posted_tasks();
            return 0;
        case WM_ACTIVATE:
            // As a dialog does: the focus comes back where it was.
            if (LOWORD(wparam) == WA_INACTIVE) {
                saved_focus_ = ::GetFocus();
            } else if (saved_focus_ != nullptr && ::IsWindow(saved_focus_)) {
                ::SetFocus(saved_focus_);
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wparam);
            const RECT suggested = *reinterpret_cast<const RECT*>(lparam);
            // First where the system suggests: the work area is then that of
            // the screen it moves to.
            ::SetWindowPos(frmMain_, nullptr, suggested.left, suggested.top,
                           suggested.right - suggested.left, suggested.bottom - suggested.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            lay_out();
            logic_->status_room_changed();
            // Kept where the user moved it, only pushed back onto the work area.
            const SIZE outer = outer_size();
            const RECT work = work_area();
            const auto inside = [](LONG start, LONG size, LONG low, LONG high) {
                return std::max(low, std::min(start, high - size));
            };
            ::SetWindowPos(frmMain_, nullptr,
                           inside(suggested.left, outer.cx, work.left, work.right),
                           inside(suggested.top, outer.cy, work.top, work.bottom), outer.cx,
                           outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
            ::InvalidateRect(frmMain_, nullptr, TRUE);
            return 0;
        }
        case WM_CLOSE:
            logic_->close_requested();
            ::DestroyWindow(frmMain_);
            return 0;
        case WM_DESTROY: {
            const std::lock_guard lock(tasks_lock_);
            window_gone_ = true;
        }
            accessible_.reset();
            if (ends_message_loop_) ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(frmMain_, message, wparam, lparam);
}

LRESULT CALLBACK frmMain::button_procedure(HWND button, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR, DWORD_PTR self_data) {
    auto& self = *reinterpret_cast<frmMain*>(self_data);
    // The mark of the button that Enter presses goes with the focus.
    if (message == WM_SETFOCUS) self.mark_default_button(button);
    if (message == WM_KILLFOCUS) self.mark_default_button(reinterpret_cast<HWND>(wparam));
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(button, button_procedure, kButtonSubclassId);
    return ::DefSubclassProc(button, message, wparam, lparam);
}

HWND frmMain::default_button(HWND focus) const {
    // As in a dialog: Enter presses the push button with the focus.
    for (const HWND button : push_buttons())
        if (button != nullptr && focus == button) return button;
    return cmdgetfilelist;
}

void frmMain::mark_default_button(HWND focus) {
    const HWND chosen = default_button(focus);
    for (const HWND button : push_buttons()) {
        if (button == nullptr) continue;
        const LONG_PTR wanted = button == chosen ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if ((::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK) != wanted)
            ::SendMessageW(button, BM_SETSTYLE, static_cast<WPARAM>(wanted), TRUE);
    }
}

void frmMain::on_command(int id, int code) {
    if (code == BN_CLICKED || code == STN_CLICKED) {
        switch (id) {
            case IDOK:  // Enter where no button has the focus
            case kSearchId:
                logic_->cmdgetfilelist_Click();
                return;
            case kSavePathId:
                logic_->cmdsave_Click();
                return;
            case kChangeId:
                logic_->cmdseldir_Click();
                return;
            case kSaveListId:
                logic_->cmdsavelist_Click();
                return;
            case kReloadListId:
                logic_->cmdloadlist_Click();
                return;
            case kLogoId:
                logic_->Image1_Click();
                return;
            case kLinkId:
                logic_->lblorvane_Click();
                return;
            case kStatusId:  // lists every folder the search could not read
                logic_->folder_list_requested();
                return;
            default:
                return;  // IDCANCEL: Escape while idle does nothing
        }
    }
}

LRESULT frmMain::on_notify(NMHDR& header) {
    if (header.hwndFrom == lvFiles.handle()) return lvFiles.on_notify(header);
    if (header.hwndFrom == tooltips_ && header.code == TTN_GETDISPINFOW) {
        auto& tip = reinterpret_cast<NMTTDISPINFOW&>(header);
        if (header.idFrom == kRootBoxId) tip.lpszText = root_tip_.data();
        if (header.idFrom == reinterpret_cast<UINT_PTR>(lblstatus))
            tip.lpszText = status_tip_.data();
        return 0;
    }
    return 0;
}

LRESULT frmMain::colour_control(HDC context, HWND control) {
    namespace design = window::design;
    if (control == txtFileroot) {
        ::SetTextColor(context, colour_of(design::kRootBoxText));
        ::SetBkColor(context, colour_of(design::kRootBoxBackground));
        return reinterpret_cast<LRESULT>(root_brush_.get());
    }
    const design::Control* designed = &design::Label1;
    if (control == lblprocessrootdir) designed = &design::lblprocessrootdir;
    if (control == lbllistcount) designed = &design::lbllistcount;
    if (control == Label2) designed = &design::Label2;
    if (control == lblorvane) designed = &design::lblorvane;
    if (control == lblstatus) designed = &design::lblstatus;
    ::SetTextColor(context, colour_of(designed->text_colour.value_or(design::Rgb{})));
    // The labels lie on the window's one colour, so painting it is showing it.
    ::SetBkColor(context, colour_of(design::kWindowColour));
    ::SetBkMode(context, OPAQUE);
    return reinterpret_cast<LRESULT>(window_brush_.get());
}

void frmMain::draw_logo(const DRAWITEMSTRUCT& item) {
    ::FillRect(item.hDC, &item.rcItem, window_brush_.get());
    const int side = static_cast<int>(
        std::lround(window::design::kLogoPixels * static_cast<double>(dpi_) / 96 * scale_.fixed));
    if (side <= 0 || logo_.get() == nullptr) return;
    if (side != shown_logo_side_) {
        shown_logo_ = scaled_logo(item.hDC, side);
        shown_logo_side_ = side;
    }
    if (shown_logo_.get() == nullptr) return;
    const HDC source = ::CreateCompatibleDC(item.hDC);
    const HGDIOBJ previous = ::SelectObject(source, shown_logo_.get());
    ::BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, side, side, source, 0, 0, SRCCOPY);
    ::SelectObject(source, previous);
    ::DeleteDC(source);
}

GdiOwner<HBITMAP> frmMain::scaled_logo(HDC context, int side) const {
    // The picture is drawn larger than it shows at any common scale and
    // shrunk here by averaging, which keeps its edges smooth.
    BITMAP bitmap{};
    ::GetObjectW(logo_.get(), sizeof bitmap, &bitmap);
    const int source_side = bitmap.bmWidth;
    if (source_side <= 0 || bitmap.bmHeight != source_side) return {};
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = source_side;
    format.bmiHeader.biHeight = -source_side;  // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(source_side) *
                                      static_cast<std::size_t>(source_side));
    if (::GetDIBits(context, logo_.get(), 0, static_cast<UINT>(source_side), pixels.data(), &format,
                    DIB_RGB_COLORS) != source_side)
        return {};
    const std::vector<std::uint32_t> scaled = scale_square(pixels, source_side, side);
    format.bmiHeader.biWidth = side;
    format.bmiHeader.biHeight = -side;
    void* bits = nullptr;
    GdiOwner<HBITMAP> made(::CreateDIBSection(context, &format, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (made.get() == nullptr || bits == nullptr) return {};
    std::memcpy(bits, scaled.data(), scaled.size() * sizeof scaled.front());
    return made;
}

void frmMain::show_message(window::MessageIcon icon, std::string_view title,
                           std::string_view text) {
    const UINT kind = icon == window::MessageIcon::Critical ? MB_ICONERROR : MB_ICONINFORMATION;
    ::MessageBoxW(frmMain_, message_lines(frmMain_, wide(text)).c_str(), wide(title).c_str(),
                  MB_OK | kind);
}

std::optional<std::string> frmMain::ask_text(std::string_view title, std::string_view prompt,
                                             std::string_view initial) {
    const std::optional<std::wstring> entered =
        ask_for_text(frmMain_, wide(title), wide(prompt), wide(initial));
    if (!entered) return std::nullopt;
    return utf8(*entered);
}

window::FolderListAction frmMain::show_folder_list(std::string_view title, std::string_view text) {
    std::wstring lines;
    for (const wchar_t unit : wide(text)) {
        if (unit == L'\n') lines.push_back(L'\r');
        lines.push_back(unit);
    }
    return show_folder_list_dialog(frmMain_, wide(title), lines);
}

std::optional<std::string> frmMain::ask_root(std::string_view title, std::string_view prompt,
                                             const std::vector<std::string>& recent) {
    std::vector<std::wstring> offered;
    for (const std::string& root : recent) offered.push_back(wide(root));
    const std::optional<std::wstring> entered =
        ask_for_root(frmMain_, wide(title), wide(prompt), offered);
    if (!entered) return std::nullopt;
    return utf8(*entered);
}

std::optional<std::string> frmMain::ask_save_file(std::string_view title,
                                                  std::string_view suggested_name) {
    const std::optional<std::wstring> chosen =
        ask_for_csv_file(frmMain_, wide(title), wide(suggested_name));
    if (!chosen) return std::nullopt;
    return utf8(*chosen);
}

void frmMain::set_text(window::Control control, std::string_view text) {
    const std::wstring shown = wide(text);
    switch (control) {
        case window::Control::txtFileroot:
            root_tip_ = shown;
            if (txtFileroot != nullptr) {
                ::SetWindowTextW(txtFileroot, shown.c_str());
                ::SendMessageW(txtFileroot, EM_SETSEL, 0, 0);  // show the start of a long root
            }
            return;
        case window::Control::lbllistcount:
            if (lbllistcount != nullptr) ::SetWindowTextW(lbllistcount, shown.c_str());
            announce_text(lbllistcount);
            return;
        case window::Control::status_line:
            if (lblstatus != nullptr) ::SetWindowTextW(lblstatus, shown.c_str());
            announce_text(lblstatus);
            return;
        case window::Control::cmdgetfilelist:
            if (cmdgetfilelist != nullptr) ::SetWindowTextW(cmdgetfilelist, shown.c_str());
            return;
    }
}

void frmMain::set_tip(window::Control control, std::string_view text) {
    if (control != window::Control::status_line) return;
    // A tip's lines end in CR LF, as the list's row tips do.
    status_tip_.clear();
    for (const wchar_t unit : wide(text)) {
        if (unit == L'\n') status_tip_.push_back(L'\r');
        status_tip_.push_back(unit);
    }
}

bool frmMain::fits(window::Control control, std::string_view text) {
    const HWND label = control == window::Control::status_line    ? lblstatus
                       : control == window::Control::lbllistcount ? lbllistcount
                                                                  : nullptr;
    if (label == nullptr) return true;
    RECT box{};
    ::GetClientRect(label, &box);
    // No font of its own: the control draws in the system font.
    auto font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
    if (font == nullptr) font = static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
    return fits_one_line(label, font, wide(text), box.right - box.left);
}

void frmMain::set_clipboard(std::string_view text) {
    // The clipboard's plain text ends its lines with CR LF.
    std::wstring lines;
    for (const wchar_t unit : wide(text)) {
        if (unit == L'\n') lines.push_back(L'\r');
        lines.push_back(unit);
    }
    const std::size_t bytes = (lines.size() + 1) * sizeof(wchar_t);
    if (!::OpenClipboard(frmMain_)) raise_last_error("cannot open the clipboard");
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool given = false;
    if (block != nullptr) {
        if (void* target = ::GlobalLock(block)) {
            std::memcpy(target, lines.c_str(), bytes);
            ::GlobalUnlock(block);
            ::EmptyClipboard();
            given = ::SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
    }
    const DWORD error = ::GetLastError();
    // The clipboard owns the block once it took it.
    if (!given && block != nullptr) ::GlobalFree(block);
    ::CloseClipboard();
    if (!given)
        throw std::system_error(static_cast<int>(error), std::system_category(),
                                "cannot put the text on the clipboard");
}

void frmMain::list_reset(std::size_t rows) {
    if (lvFiles.handle() == nullptr) return;
    lvFiles.reset(rows);
    describe_list();
}

void frmMain::show_row(std::size_t row) {
    if (lvFiles.handle() == nullptr || row >= lvFiles.rows()) return;
    lvFiles.show_row(row);
}

void frmMain::list_grown(std::size_t rows) {
    if (lvFiles.handle() == nullptr) return;
    lvFiles.grow(rows);
    describe_list();
}

void frmMain::set_activity(window::Activity activity) {
    if (activity == window::Activity::Idle && activity_ != window::Activity::Idle) {
        // Input given while the window worked is dropped, never acted on later.
        MSG dropped{};
        while (::PeekMessageW(&dropped, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
        }
        while (::PeekMessageW(&dropped, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        }
        // A press on "Stop" ends without a click: the button reads "Search"
        // by the time it comes up.
        if (::GetCapture() == cmdgetfilelist) ::ReleaseCapture();
    }
    activity_ = activity;
    if (activity == window::Activity::Idle && accessible_ != nullptr) {
        if (count_to_announce_) accessible_->announce(lbllistcount);
        if (status_to_announce_) accessible_->announce(lblstatus);
        count_to_announce_ = status_to_announce_ = false;
    }
    ::SetCursor(::LoadCursorW(nullptr, activity == window::Activity::Idle ? IDC_ARROW : IDC_WAIT));
}

void frmMain::start_timer(window::Timer timer, std::chrono::milliseconds interval) {
    ::SetTimer(frmMain_, timer_id(timer), static_cast<UINT>(interval.count()), nullptr);
}

void frmMain::stop_timer(window::Timer timer) {
    ::KillTimer(frmMain_, timer_id(timer));
}

void frmMain::post(std::function<void()> task) {
    const std::lock_guard lock(tasks_lock_);
    if (window_gone_) return;
    const bool first = tasks_.empty();
    tasks_.push_back(std::move(task));
    if (first) ::PostMessageW(frmMain_, kTaskMessage, 0, 0);
}

void frmMain::run_posted_tasks() {
    // One at a time: a task that opens a message box runs the ones after it
    // from that box's loop, still in order.
    for (;;) {
        std::function<void()> task;
        {
            const std::lock_guard lock(tasks_lock_);
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace kestrafin::win32
