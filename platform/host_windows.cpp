#include <atomic>
#include <string>
#include <system_error>

#include "platform/host.h"
#include "platform/scratch_file.h"
#include "platform/text.h"
#include "platform/windows/system.h"

// After windows.h, whose types it uses.
#include <bcrypt.h>

namespace kestrafin::platform {

using windows::last_error;
using windows::utf8_from_wide;

std::string host_name() {
    DWORD size = 0;
    GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
    if (size == 0) return {};
    std::wstring name(size, L'\0');
    if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return {};
    name.resize(size);
    return utf8_from_wide(name);
}

std::string user_name() {
    // UNLEN + 1 holds the longest name; a larger one is asked for all the same.
    DWORD size = 257;
    std::wstring name(size, L'\0');
    if (!GetUserNameW(name.data(), &size)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        name.assign(size, L'\0');
        if (!GetUserNameW(name.data(), &size)) return {};
    }
    // The size counts the closing NUL.
    name.resize(size > 0 ? size - 1 : 0);
    return utf8_from_wide(name);
}

void random_bytes(unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ULONG piece = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, into, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            throw std::system_error(ERROR_GEN_FAILURE, std::system_category(), "no random source");
        into += piece;
        size -= piece;
    }
}

std::string volume_of(const std::string& folder) {
    std::error_code error;
    const std::wstring path = windows::system_path(folder, error);
    if (error) return {};
    // "\\?\UNC\server\share\..." or "\\?\C:\...".
    const std::string text = utf8_from_wide(path);
    constexpr std::string_view kUnc = "\\\\?\\UNC\\";
    constexpr std::string_view kLocal = "\\\\?\\";
    if (text.starts_with(kUnc)) {
        const std::string_view rest = std::string_view(text).substr(kUnc.size());
        return "\\\\" + ascii_upper(rest.substr(0, rest.find('\\')));
    }
    if (text.starts_with(kLocal) && text.size() >= kLocal.size() + 2 &&
        text[kLocal.size() + 1] == ':')
        return ascii_upper(text.substr(kLocal.size(), 2));
    return text;
}

namespace {

std::atomic<bool> interrupted{false};

// Runs on a thread of its own that the system starts.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // The second one goes on to the default handler, which ends the process.
    return interrupted.exchange(true) ? FALSE : TRUE;
}

}  // namespace

const std::atomic<bool>& stop_on_interruption() {
    static const bool installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
    (void)installed;
    return interrupted;
}

struct ScratchFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned long long written = 0;
    unsigned long long read = 0;
};

ScratchFile::ScratchFile() : handle_(std::make_unique<Handle>()) {
    wchar_t folder[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 2, folder);
    if (length == 0 || length > MAX_PATH + 1)
        throw std::system_error(last_error(), "cannot find the folder for temporary files");
    unsigned char random[8];
    random_bytes(random, sizeof random);
    std::wstring name = folder;
    name += L"kestrafin-";
    for (const unsigned char byte : random) {
        name.push_back(L"0123456789abcdef"[byte >> 4]);
        name.push_back(L"0123456789abcdef"[byte & 15]);
    }
    name += L".tmp";
    handle_->file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle_->file == INVALID_HANDLE_VALUE)
        throw std::system_error(last_error(),
                                "cannot make a temporary file in '" + utf8_from_wide(folder) + "'");
}

ScratchFile::~ScratchFile() {
    if (handle_->file != INVALID_HANDLE_VALUE) CloseHandle(handle_->file);
}

namespace {

OVERLAPPED at_offset(unsigned long long offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

}  // namespace

void ScratchFile::append(std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD piece =
            bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
        OVERLAPPED where = at_offset(handle_->written);
        DWORD put = 0;
        if (!WriteFile(handle_->file, bytes.data(), piece, &put, &where))
            throw std::system_error(last_error(), "cannot write a temporary file");
        handle_->written += put;
        bytes.remove_prefix(put);
    }
}

std::size_t ScratchFile::read(char* into, std::size_t size) {
    const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    OVERLAPPED where = at_offset(handle_->read);
    DWORD got = 0;
    if (!ReadFile(handle_->file, into, piece, &got, &where)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        throw std::system_error(last_error(), "cannot read a temporary file");
    }
    handle_->read += got;
    return got;
}

}  // namespace kestrafin::platform
