// Reading folders on Windows: FindFirstFileExW with the basic information and
// large fetches, every path with the "\\?\" prefix. Before the search starts,
// the folder is opened once by handle to learn its identity and, when links
// are not to be followed, that it is no link; that handle shares no delete
// access, so the folder cannot be renamed or swapped until the search holds it.
#include "platform/folder_reader.h"
#include "platform/windows_api.h"

#include <cstring>

namespace kestrafin::platform {

namespace {

constexpr std::wstring_view kAllNames = L"*.*";

std::error_code system_error_code(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

// Symbolic links and junctions are name surrogates. Wine shows a Unix
// symbolic link with the reparse bit and no tag, so no tag counts as a link.
bool is_link_tag(DWORD reparse_tag) {
    return reparse_tag == 0 || IsReparseTagNameSurrogate(reparse_tag) != 0;
}

// Folds a 128-bit file ID into 64 bits. NTFS IDs use the low half only and
// are kept as they are.
std::uint64_t folded_file_id(const FILE_ID_128& id) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    static_assert(sizeof id.Identifier == 2 * sizeof low);
    std::memcpy(&low, id.Identifier, sizeof low);
    std::memcpy(&high, id.Identifier + sizeof low, sizeof high);
    return low ^ (high * 0x9E3779B97F4A7C15ull);
}

FolderIdentity identity_of(HANDLE folder, std::error_code& error) {
    FILE_ID_INFO id{};
    if (::GetFileInformationByHandleEx(folder, FileIdInfo, &id, sizeof id))
        return {id.VolumeSerialNumber, folded_file_id(id.FileId)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(folder, &info))
        return {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    error = windows::last_error();
    return {};
}

std::wstring child_path(const std::wstring& parent, std::string_view name) {
    std::wstring path = parent;
    if (!path.empty() && path.back() != L'\\') path.push_back(L'\\');
    path.append(windows::wide_from_utf8(name));
    return path;
}

// Where a name surrogate (symbolic link, junction) stands, the directory bit
// tells only what the link was made for; a link is a folder link only when
// its target is a folder now.
EntryKind kind_of(const WIN32_FIND_DATAW& found, const std::wstring& folder_path) {
    const DWORD attributes = found.dwFileAttributes;
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || !is_link_tag(found.dwReserved0))
        return directory ? EntryKind::folder : EntryKind::file;
    if (!directory) return EntryKind::other;
    std::wstring target = folder_path;
    if (!target.empty() && target.back() != L'\\') target.push_back(L'\\');
    target.append(found.cFileName);
    const DWORD target_attributes = ::GetFileAttributesW(target.c_str());
    if (target_attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::other;
    return (target_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::link_to_folder
                                                               : EntryKind::other;
}

}  // namespace

struct Folder::State {
    HANDLE search = INVALID_HANDLE_VALUE;
    std::wstring path;  // with the prefix; the search pattern is built on it
    WIN32_FIND_DATAW found{};
    bool found_pending = false;  // FindFirstFileExW delivered the first entry
    std::string name;
    FolderIdentity identity;
    std::error_code identity_error;

    static std::unique_ptr<State> open(std::wstring path, bool follow_link, std::error_code& error);

    ~State() {
        if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    }
};

// Opens the folder at the system path `path`: checks it, learns its identity
// and starts the search. Empty on failure.
std::unique_ptr<Folder::State> Folder::State::open(std::wstring path, bool follow_link,
                                                   std::error_code& error) {
    error.clear();
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (!follow_link) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE folder =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        error = windows::last_error();
        return nullptr;
    }
    auto state = std::make_unique<Folder::State>();
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag)) {
        if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            error = system_error_code(ERROR_DIRECTORY);
        } else if (!follow_link && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                   is_link_tag(tag.ReparseTag)) {
            error = system_error_code(windows::kErrorStoppedOnLink);
        }
    }
    if (!error) state->identity = identity_of(folder, state->identity_error);
    if (!error) {
        std::wstring pattern = path;
        if (pattern.back() != L'\\') pattern.push_back(L'\\');
        pattern.append(kAllNames);
        state->search =
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &state->found,
                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (state->search != INVALID_HANDLE_VALUE) {
            state->found_pending = true;
        } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            // An empty drive root matches no name at all; anything else failed.
            error = windows::last_error();
        }
    }
    ::CloseHandle(folder);
    if (error) return nullptr;
    state->path = std::move(path);
    return state;
}

Folder Folder::open(std::string_view path, std::error_code& error) {
    std::wstring system_path = windows::system_path(path, error);
    if (error) return {};
    return Folder(State::open(std::move(system_path), true, error));
}

Folder Folder::open_child(const Folder& parent, std::string_view name, std::string_view full_path,
                          bool follow_link, std::error_code& error) {
    std::wstring system_path;
    if (parent.is_open() && !name.empty()) {
        // Built on the parent's system path, so that names ending in dots or
        // spaces reach the system unchanged.
        system_path = child_path(parent.state_->path, name);
    } else {
        system_path = windows::system_path(full_path, error);
        if (error) return {};
    }
    if (name.find('\0') != std::string_view::npos) {
        error = system_error_code(ERROR_INVALID_NAME);
        return {};
    }
    return Folder(State::open(std::move(system_path), follow_link, error));
}

Folder::Folder() = default;
Folder::Folder(std::unique_ptr<State> state) : state_(std::move(state)) {}
Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;
Folder::~Folder() = default;

bool Folder::is_open() const {
    return state_ != nullptr;
}

bool Folder::next(FolderEntry& entry, std::error_code& error) {
    error.clear();
    if (!state_ || state_->search == INVALID_HANDLE_VALUE) return false;
    State& state = *state_;
    if (!state.found_pending) {
        if (!::FindNextFileW(state.search, &state.found)) {
            if (::GetLastError() != ERROR_NO_MORE_FILES) error = windows::last_error();
            ::FindClose(state.search);
            state.search = INVALID_HANDLE_VALUE;
            return false;
        }
    }
    state.found_pending = false;
    state.name.clear();
    windows::append_utf8_from_wide(state.name, state.found.cFileName);
    entry.name = state.name;
    entry.kind = kind_of(state.found, state.path);
    return true;
}

FolderIdentity Folder::identity(std::error_code& error) const {
    error.clear();
    if (!state_) {
        error = system_error_code(ERROR_INVALID_HANDLE);
        return {};
    }
    error = state_->identity_error;
    return state_->identity;
}

bool Folder::on_kernel_file_system() const {
    return false;
}

void Folder::close() {
    state_.reset();
}

}  // namespace kestrafin::platform
