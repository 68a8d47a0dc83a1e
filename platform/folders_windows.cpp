// Reading folders on Windows. A folder is opened once, with list access, and
// that one handle is checked, asked for its identity and listed
// (GetFileInformationByHandleEx with the full directory information), so what
// was checked is what is read. Subfolders are opened relative to their
// parent's handle (NtCreateFile with a root directory), never by a path that
// the system would resolve again: a folder on the way that is renamed and
// replaced by a link meanwhile does not lead the walk elsewhere. Handles share
// delete access, so the walk never keeps a user from renaming a folder.
#include "platform/folders.h"
#include "platform/windows/system.h"

#include <winternl.h>

#include <cstring>
#include <optional>

namespace kestrafin::platform {

namespace {

constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Large enough for hundreds of entries per call; names are at most 255 units.
constexpr std::size_t kListingBytes = 64 * 1024;

std::error_code system_error_code(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

std::error_code error_of_status(NTSTATUS status) {
    return system_error_code(::RtlNtStatusToDosError(status));
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

// Opens `name` inside the open folder `parent`. The name is one component:
// the system resolves nothing but the name itself, relative to the handle.
windows::Handle open_relative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                              ULONG options, std::error_code& error) {
    UNICODE_STRING object_name{};
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK status_block{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        ::NtCreateFile(&opened, access, &attributes, &status_block, nullptr, 0, windows::kShareAll,
                       FILE_OPEN, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) {
        error = error_of_status(status);
        return {};
    }
    return windows::Handle(opened);
}

// The one-component name `name` as the system's wide text, or an invalid-name
// error for what is no single component of a folder.
std::wstring component_name(std::string_view name, std::error_code& error) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("\0\\/", 3)) != std::string_view::npos) {
        error = system_error_code(ERROR_INVALID_NAME);
        return {};
    }
    return windows::wide_from_utf8(name);
}

// A link is a folder link when its target, reached through the link now,
// is a folder; a link to nothing or to a file is `other`, as on other hosts.
EntryKind kind_of_link(HANDLE folder, std::wstring_view name) {
    std::error_code error;
    const windows::Handle target =
        open_relative(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, error);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (error ||
        !::GetFileInformationByHandleEx(target.get(), FileAttributeTagInfo, &tag, sizeof tag))
        return EntryKind::other;
    return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::link_to_folder
                                                                : EntryKind::other;
}

// With the reparse bit set, the directory information holds the reparse tag
// where extended attributes' size is kept otherwise.
EntryKind kind_of(const FILE_FULL_DIR_INFO& found, HANDLE folder, std::wstring_view name) {
    const DWORD attributes = found.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && is_link_tag(found.EaSize))
        return kind_of_link(folder, name);
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder : EntryKind::file;
}

// Refuses what is no folder, and a link when links are not to be followed.
std::error_code check_folder(HANDLE folder, bool follow_link) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag))
        return windows::last_error();
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return system_error_code(ERROR_DIRECTORY);
    if (!follow_link && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        is_link_tag(tag.ReparseTag))
        return system_error_code(windows::kErrorStoppedOnLink);
    return {};
}

}  // namespace

struct Folder::State {
    windows::Handle handle;
    // Aligned as the directory information needs; filled by each listing call.
    std::unique_ptr<std::uint64_t[]> listing;
    std::size_t next_offset = 0;   // of the next entry in `listing`
    bool listing_pending = false;  // `listing` holds entries not yet delivered
    bool ended = false;
    bool listed_once = false;
    std::string name;
    FolderIdentity identity;
    std::error_code identity_error;

    static std::unique_ptr<State> checked(windows::Handle handle, bool follow_link,
                                          std::error_code& error);
    // Fills `listing` with the next entries; false at the end or on failure.
    bool read_more(std::error_code& error);
};

std::unique_ptr<Folder::State> Folder::State::checked(windows::Handle handle, bool follow_link,
                                                      std::error_code& error) {
    error = check_folder(handle.get(), follow_link);
    if (error) return nullptr;
    auto state = std::make_unique<State>();
    state->handle = std::move(handle);
    state->identity = identity_of(state->handle.get(), state->identity_error);
    return state;
}

bool Folder::State::read_more(std::error_code& error) {
    if (!listing)
        listing = std::make_unique<std::uint64_t[]>(kListingBytes / sizeof(std::uint64_t));
    next_offset = 0;
    listing_pending = false;
    if (::GetFileInformationByHandleEx(handle.get(), FileFullDirectoryInfo, listing.get(),
                                       kListingBytes)) {
        listed_once = true;
        listing_pending = true;
        return true;
    }
    const DWORD code = ::GetLastError();
    // An empty drive root holds no name at all, not even the dots.
    const bool end = code == ERROR_NO_MORE_FILES || (!listed_once && code == ERROR_FILE_NOT_FOUND);
    if (!end) error = system_error_code(code);
    ended = true;
    return false;
}

Folder Folder::open(std::string_view path, std::error_code& error) {
    const std::wstring system_path = windows::system_path(path, error);
    if (error) return {};
    windows::Handle handle(::CreateFileW(system_path.c_str(), kListAccess, windows::kShareAll,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    if (!handle.valid()) {
        error = windows::last_error();
        return {};
    }
    return Folder(State::checked(std::move(handle), true, error));
}

Folder Folder::open_child(const Folder& parent, std::string_view name, std::string_view full_path,
                          bool follow_link, std::error_code& error) {
    error.clear();
    if (!parent.is_open()) {
        // Without a parent to read relative to, only the whole path is left.
        const std::wstring system_path = windows::system_path(full_path, error);
        if (error) return {};
        DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
        if (!follow_link) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        windows::Handle handle(::CreateFileW(system_path.c_str(), kListAccess, windows::kShareAll,
                                             nullptr, OPEN_EXISTING, flags, nullptr));
        if (!handle.valid()) {
            error = windows::last_error();
            return {};
        }
        return Folder(State::checked(std::move(handle), follow_link, error));
    }
    const std::wstring wide_name = component_name(name, error);
    if (error) return {};
    ULONG options = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT;
    if (!follow_link) options |= FILE_OPEN_REPARSE_POINT;
    windows::Handle handle =
        open_relative(parent.state_->handle.get(), wide_name, kListAccess, options, error);
    if (error) return {};
    return Folder(State::checked(std::move(handle), follow_link, error));
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
    if (!state_ || state_->ended) return false;
    State& state = *state_;
    if (!state.listing_pending && !state.read_more(error)) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(state.listing.get());
    const auto* found = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + state.next_offset);
    if (found->NextEntryOffset == 0)
        state.listing_pending = false;
    else
        state.next_offset += found->NextEntryOffset;
    const std::wstring_view name(found->FileName, found->FileNameLength / sizeof(wchar_t));
    state.name.clear();
    windows::append_utf8_from_wide(state.name, name);
    entry.name = state.name;
    entry.kind = kind_of(*found, state.handle.get(), name);
    return true;
}

struct LookupHelpers::State {};

LookupHelpers::LookupHelpers() = default;
LookupHelpers::~LookupHelpers() = default;

void Folder::look_up_at_once(std::size_t, LookupHelpers&) {}

FolderIdentity Folder::identity(std::error_code& error) const {
    error.clear();
    if (!state_) {
        error = system_error_code(ERROR_INVALID_HANDLE);
        return {};
    }
    error = state_->identity_error;
    return state_->identity;
}

// Volume mount points are reparse points, so the walk meets them as links.
bool Folder::is_mount_root() const {
    return false;
}

bool Folder::on_kernel_file_system() const {
    return false;
}

std::vector<std::string> Folder::ways_to_mounts_below() const {
    return {};
}

void Folder::close() {
    state_.reset();
}

// Windows sets no small limit on a process's handles; this many folders open
// at once is far more than a walk keeps.
std::size_t open_handle_limit() {
    return std::size_t{1} << 20;
}

// Windows counts no handles against a limit a walk must keep within.
std::size_t open_handle_count() {
    return 0;
}

// Nothing to prepare on Windows.
void make_room_for_handles(std::size_t) {}

// Windows keeps no count of a thread's waits that is cheap to ask for; the
// walk then judges its reads by their time alone.
std::optional<std::uint64_t> thread_waits() {
    return std::nullopt;
}

void give_way_to_other_threads() {
    // Background mode lowers the thread's disk and memory priority as well,
    // so that users' own reads of the volume come first. It is the thread's
    // to end, and it ends with the thread; a thread already in it stays.
    SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace kestrafin::platform
