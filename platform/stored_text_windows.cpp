// Stored text on Windows: the ANSI code page, through the system's own
// conversions. MultiByteToWideChar and WideCharToMultiByte take lengths as
// int, so long texts go in pieces cut where no character can be split.
#include <atomic>
#include <system_error>

#include "platform/stored_text.h"
#include "platform/windows/system.h"

namespace kestrafin::platform {

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 24;

std::atomic<unsigned> played_code_page{0};

// Code pages that refuse every flag (ERROR_INVALID_FLAGS) and, when
// converting to them, a default character and its report.
bool takes_no_flags(UINT code_page) {
    return code_page == 42 || (code_page >= 50220 && code_page <= 50229) ||
           (code_page >= 57002 && code_page <= 57011) || code_page == CP_UTF7;
}

// UTF-8 and GB18030 take only the flag that refuses invalid characters, and
// no default character.
bool takes_only_the_error_flag(UINT code_page) {
    return code_page == CP_UTF8 || code_page == 54936;
}

[[noreturn]] void raise_conversion_error(const char* direction, UINT code_page) {
    throw std::system_error(windows::last_error(), std::string("cannot convert text ") + direction +
                                                       " code page " + std::to_string(code_page));
}

// The length of the next piece of `stored` (code page bytes): cut after a
// byte below 0x30, which ends every character it is part of.
std::size_t stored_piece(std::string_view stored) {
    if (stored.size() <= kPiece) return stored.size();
    for (std::size_t cut = kPiece; cut > kPiece / 2; --cut)
        if (static_cast<unsigned char>(stored[cut - 1]) < 0x30) return cut;
    return kPiece;
}

// The length of the next piece of UTF-8 `text`: cut before a byte that
// starts a character.
std::size_t text_piece(std::string_view text) {
    if (text.size() <= kPiece) return text.size();
    std::size_t cut = kPiece;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::wstring wide_from_code_page(std::string_view stored, UINT code_page, DWORD flags) {
    const int size = static_cast<int>(stored.size());
    const int length = ::MultiByteToWideChar(code_page, flags, stored.data(), size, nullptr, 0);
    if (length == 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(code_page, flags, stored.data(), size, wide.data(), length) == 0)
        return {};
    return wide;
}

bool append_piece_from_code_page(std::string& out, std::string_view stored, UINT code_page) {
    const DWORD flags = takes_no_flags(code_page) ? 0 : MB_ERR_INVALID_CHARS;
    std::wstring wide = wide_from_code_page(stored, code_page, flags);
    bool exact = true;
    if (wide.empty()) {
        if (::GetLastError() != ERROR_NO_UNICODE_TRANSLATION)
            raise_conversion_error("from", code_page);
        // Bytes that stand for nothing become the system's replacement character.
        exact = false;
        wide = wide_from_code_page(stored, code_page, 0);
        if (wide.empty()) raise_conversion_error("from", code_page);
    }
    windows::append_utf8_from_wide(out, wide);
    return exact;
}

// False when `wide` has no exact form in `code_page`.
bool append_piece_in_code_page(std::string& out, const std::wstring& wide, UINT code_page) {
    const int size = static_cast<int>(wide.size());
    // Where the system can report a default character, WC_NO_BEST_FIT_CHARS
    // makes it report every character without an exact form; elsewhere the
    // text fits when it converts back to itself.
    const bool reports = !takes_no_flags(code_page) && !takes_only_the_error_flag(code_page);
    const DWORD flags = reports ? WC_NO_BEST_FIT_CHARS
                                : (takes_only_the_error_flag(code_page) ? WC_ERR_INVALID_CHARS : 0);
    BOOL used_default = FALSE;
    BOOL* const report = reports ? &used_default : nullptr;
    const int length =
        ::WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, report);
    if (length == 0) {
        if (::GetLastError() == ERROR_NO_UNICODE_TRANSLATION) return false;  // unpaired surrogates
        raise_conversion_error("to", code_page);
    }
    if (used_default) return false;
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr,
                              report) == 0)
        raise_conversion_error("to", code_page);
    if (used_default) return false;
    if (!reports && wide_from_code_page(bytes, code_page, 0) != wide) return false;
    out.append(bytes);
    return true;
}

}  // namespace

unsigned stored_text_code_page() {
    const unsigned played = played_code_page.load();
    return played != 0 ? played : ::GetACP();
}

void windows::play_ansi_code_page(unsigned code_page) {
    played_code_page = code_page;
}

bool append_from_code_page(std::string& out, std::string_view stored, unsigned code_page) {
    if (code_page == 0) {
        out.append(stored);
        return true;
    }
    bool exact = true;
    while (!stored.empty()) {
        const std::size_t piece = stored_piece(stored);
        exact = append_piece_from_code_page(out, stored.substr(0, piece), code_page) && exact;
        stored.remove_prefix(piece);
    }
    return exact;
}

bool append_in_code_page(std::string& out, std::string_view text, unsigned code_page) {
    if (code_page == 0) {
        out.append(text);
        return true;
    }
    // Bytes that are not UTF-8 would become U+FFFD: they keep their form
    // only in UTF-8 as they are.
    Utf8Check check;
    check.add(text);
    if (!check.valid()) return false;
    const std::size_t kept = out.size();
    while (!text.empty()) {
        const std::size_t piece = text_piece(text);
        if (!append_piece_in_code_page(out, windows::wide_from_utf8(text.substr(0, piece)),
                                       code_page)) {
            out.resize(kept);
            return false;
        }
        text.remove_prefix(piece);
    }
    return true;
}

}  // namespace kestrafin::platform
