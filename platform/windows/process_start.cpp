#include "platform/windows/process_start.h"

#include <utility>

namespace kestrafin::platform::windows {

namespace {

std::function<void(const ProgramStart&)>& stand_in() {
    static std::function<void(const ProgramStart&)> call;
    return call;
}

// One of the system's folders, through a call that answers with its length.
template <typename Call>
std::wstring system_folder(Call call) {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = call(folder.data(), static_cast<UINT>(folder.size()));
        if (length == 0) return {};
        if (length < folder.size()) {
            folder.resize(length);
            return folder;
        }
        folder.resize(length);  // too small: `length` counts the closing NUL
    }
}

bool is_program_file(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_full_path(std::wstring_view word) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const bool drive =
        word.size() >= 3 && word[1] == L':' && separator(word[2]) &&
        ((word[0] >= L'A' && word[0] <= L'Z') || (word[0] >= L'a' && word[0] <= L'z'));
    return drive || (word.size() >= 2 && separator(word[0]) && separator(word[1]));
}

}  // namespace

std::wstring program_file_for(std::wstring_view word, std::error_code& error) {
    error.clear();
    if (is_full_path(word)) return std::wstring(word);
    if (word.empty() || word.find_first_of(L"\\/:") != std::wstring_view::npos) {
        error = {ERROR_INVALID_NAME, std::system_category()};
        return {};
    }
    std::wstring name(word);
    if (name.find(L'.') == std::wstring::npos) name += L".exe";
    // The shared Windows folder: on a server with Remote Desktop the plain
    // Windows folder may be one of the user's own.
    const std::wstring folders[] = {
        system_folder([](wchar_t* into, UINT size) { return ::GetSystemDirectoryW(into, size); }),
        system_folder(
            [](wchar_t* into, UINT size) { return ::GetSystemWindowsDirectoryW(into, size); })};
    for (std::wstring folder : folders) {
        if (folder.empty()) continue;
        if (folder.back() != L'\\') folder.push_back(L'\\');
        folder += name;
        if (is_program_file(folder)) return folder;
    }
    error = {ERROR_FILE_NOT_FOUND, std::system_category()};
    return {};
}

void start_command_line(const std::string& command_line, WORD show) {
    const std::wstring line = wide_from_utf8(command_line);
    const std::size_t first = line.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        throw std::system_error(ERROR_INVALID_PARAMETER, std::system_category(),
                                "cannot start an empty command");
    const bool quoted = line[first] == L'"';
    const std::size_t word_start = quoted ? first + 1 : first;
    std::size_t word_end = quoted ? line.find(L'"', word_start) : line.find_first_of(L" \t", first);
    if (word_end == std::wstring::npos) word_end = line.size();
    const std::wstring_view word =
        std::wstring_view(line).substr(word_start, word_end - word_start);
    std::error_code error;
    const std::wstring program = program_file_for(word, error);
    if (error) throw std::system_error(error, "cannot start '" + utf8_from_wide(word) + "'");
    const std::size_t rest = quoted && word_end < line.size() ? word_end + 1 : word_end;
    start_process({.program = program,
                   .command_line = L"\"" + program + L"\"" + line.substr(rest),
                   .show = show});
}

void start_process(const ProgramStart& start) {
    if (stand_in()) {
        stand_in()(start);
        return;
    }
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::wstring line = start.command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = start.show;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(start.program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started))
        throw std::system_error(last_error(),
                                "cannot start '" + utf8_from_wide(start.program) + "'");
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
}

ReplacedProcessStart::ReplacedProcessStart(std::function<void(const ProgramStart&)> call)
    : replaced_(std::exchange(stand_in(), std::move(call))) {}

ReplacedProcessStart::~ReplacedProcessStart() {
    stand_in() = std::move(replaced_);
}

}  // namespace kestrafin::platform::windows
