// Reading folders on Windows. A folder is opened once, with list access, and
// that one handle is checked, asked for its identity and listed, so what was
// checked is what is read. Subfolders are opened relative to their parent's
// handle (NtCreateFile with a root directory), never by a path that the
// system would resolve again: a folder on the way that is renamed and
// replaced by a link meanwhile does not lead the walk elsewhere. Handles share
// delete access, so a user may rename or delete the folder the walk holds;
// but NTFS refuses to rename or move a folder while anything below it is
// open, so the walk holds as few folders open as it can (search/read_ahead.h).
//
// File systems differ in what they answer, and each call the walk makes is a
// round trip on a share. A folder is listed by the first class of a ladder
// that its volume answers: the ID classes first, whose entries carry each
// subfolder's file ID and reparse tag, so that a plain subfolder needs no
// query of its own identity; then the full directory information; then the
// plain directory information of NtQueryDirectoryFile, for servers and
// drivers that know no more. What a volume answered is remembered. Every call
// passes through file_information.h, where tests play other file systems.
#include "platform/folders.h"
#include "platform/windows/file_information.h"
#include "platform/windows/reparse_data.h"
#include "platform/windows/system.h"

#include <winternl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrafin::platform {

namespace {

constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Large enough for hundreds of entries per call; names are at most 255 units.
constexpr std::size_t kListingBytes = 64 * 1024;
constexpr DWORD kMarkedBySystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::error_code system_error_code(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

std::error_code error_of_status(NTSTATUS status) {
    return system_error_code(::RtlNtStatusToDosError(status));
}

windows::FileInformation& calls() {
    return windows::file_information();
}

// What file systems and servers answer for an information or listing class
// they do not offer.
bool class_refused(DWORD code) {
    return code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_LEVEL ||
           code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION;
}

// Symbolic links and junctions are name surrogates. Wine shows a Unix
// symbolic link with the reparse bit and no tag, and the plainest listing
// class carries none, so no tag counts as a link.
bool is_link_tag(DWORD reparse_tag) {
    return reparse_tag == 0 || IsReparseTagNameSurrogate(reparse_tag) != 0;
}

// Folds a 128-bit file ID into 64 bits. NTFS IDs use the low half only and
// are kept as they are, so the 64-bit IDs of other classes equal them.
std::uint64_t folded_file_id(const FILE_ID_128& id) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    static_assert(sizeof id.Identifier == 2 * sizeof low);
    std::memcpy(&low, id.Identifier, sizeof low);
    std::memcpy(&high, id.Identifier + sizeof low, sizeof high);
    return low ^ (high * 0x9E3779B97F4A7C15ull);
}

// A file ID of 0 is what shares without IDs give; FolderIdentity then tells
// the folder as not known.
FolderIdentity identity_of(HANDLE folder, std::error_code& error) {
    FILE_ID_INFO id{};
    if (calls().information_by_handle(folder, FileIdInfo, &id, sizeof id))
        return {id.VolumeSerialNumber, folded_file_id(id.FileId)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (calls().identity_by_handle(folder, &info))
        return {info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    error = windows::last_error();
    return {};
}

// Opens `name` inside the open folder `parent`. The name is one component:
// the system resolves nothing but the name itself, relative to the handle.
// An empty name opens `parent` itself again.
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
        calls().create_file(&opened, access, &attributes, &status_block, windows::kShareAll,
                            FILE_OPEN, options | FILE_SYNCHRONOUS_IO_NONALERT);
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

constexpr ULONG kOpenFolder = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT;

// A link is a folder link when its target, reached through the link now, opens
// as a folder. A link to a file, or to nothing, is `other`, as on other
// hosts; one whose target is there but cannot be opened (access denied, a
// server that is down, remote links turned off) is of unknown kind, with the
// system's reason, unless the link itself says it leads to a file.
FolderEntry kind_of_link(HANDLE folder, std::wstring_view name, DWORD link_attributes) {
    FolderEntry entry;
    std::error_code error;
    open_relative(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE, kOpenFolder, error);
    if (!error) {
        entry.kind = EntryKind::link_to_folder;
        return entry;
    }
    const auto code = static_cast<DWORD>(error.value());
    const bool to_nothing_or_a_file = code == ERROR_DIRECTORY || code == ERROR_FILE_NOT_FOUND ||
                                      code == ERROR_PATH_NOT_FOUND ||
                                      code == ERROR_CANT_RESOLVE_FILENAME;
    if (to_nothing_or_a_file || (link_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        entry.kind = EntryKind::other;
        return entry;
    }
    entry.kind = EntryKind::unknown;
    entry.error = error;
    return entry;
}

// Whether the handle opens as a folder: SMB1 servers report a folder's own
// attributes without the directory bit.
bool opens_as_folder(HANDLE handle) {
    std::error_code error;
    open_relative(handle, {}, FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_DIRECTORY_FILE, error);
    return !error;
}

// Attributes of a folder whose names the system fetches from elsewhere when
// it is listed: cloud placeholders, offline files (missing from MinGW's headers).
constexpr DWORD kAttributesOffline = 0x00001000 | 0x00040000 | 0x00400000;
constexpr DWORD kErrorInvalidReparseData = 4392;  // ERROR_INVALID_REPARSE_DATA

// For a symbolic link: the machine its data names, read without opening its
// target (which would sign in there); empty for this machine. Other tags
// cannot lead to another machine. Wine's links to Unix paths carry no tag
// and may have no data to read: they stay on this machine.
std::optional<std::u16string> link_machine(HANDLE folder, std::wstring_view name, DWORD tag,
                                           std::error_code& error) {
    if (tag != windows::kReparseTagSymlink && tag != 0) return std::u16string();
    std::vector<std::uint8_t> data;
    error = windows::reparse_data_reader()(folder, name, data);
    std::optional<std::u16string> machine =
        error ? std::nullopt : windows::machine_of_link(data.data(), data.size());
    if (tag == 0 && !machine) {
        error.clear();
        return std::u16string();
    }
    if (!machine && !error) error = system_error_code(kErrorInvalidReparseData);
    return machine;
}

// Refuses what is no folder, and a link when links are not to be followed.
// `opened_as_folder`: the open asked for a folder and so guarantees one.
// FAT32 and exFAT refuse the tag class; they hold no reparse points, and the
// basic information's attributes tell enough.
std::error_code check_folder(HANDLE folder, bool follow_link, bool opened_as_folder) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!calls().information_by_handle(folder, FileAttributeTagInfo, &tag, sizeof tag)) {
        const DWORD code = ::GetLastError();
        FILE_BASIC_INFO basic{};
        if (!class_refused(code)) return system_error_code(code);
        if (!calls().information_by_handle(folder, FileBasicInfo, &basic, sizeof basic))
            return windows::last_error();
        tag.FileAttributes = basic.FileAttributes;
        tag.ReparseTag = 0;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !opened_as_folder &&
        !opens_as_folder(folder))
        return system_error_code(ERROR_DIRECTORY);
    if (!follow_link && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        is_link_tag(tag.ReparseTag))
        return system_error_code(windows::kErrorStoppedOnLink);
    return {};
}

// The rungs of the listing ladder, best first.
enum class ListingClass : std::uint8_t { id_extended, id_both, full, plain, last = plain };

// One entry as every class delivers it.
struct ListedEntry {
    std::wstring_view name;
    DWORD attributes = 0;
    DWORD reparse_tag = 0;      // 0 where the class carries none
    std::uint64_t file_id = 0;  // 0 where the class carries none
    ULONG next_offset = 0;
};

// The classes that carry no tag of their own keep it, for a reparse point,
// where the size of extended attributes is kept otherwise.
ListedEntry decode(ListingClass listing_class, const unsigned char* at) {
    const auto entry_of = [](const auto& found) {
        return ListedEntry{
            std::wstring_view(found.FileName, found.FileNameLength / sizeof(wchar_t)),
            found.FileAttributes, 0, 0, found.NextEntryOffset};
    };
    const auto tag_of = [](const auto& found) {
        return (found.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? found.EaSize : 0;
    };
    switch (listing_class) {
        case ListingClass::id_extended: {
            const auto& found = *reinterpret_cast<const FILE_ID_EXTD_DIR_INFO*>(at);
            ListedEntry entry = entry_of(found);
            entry.reparse_tag = found.ReparsePointTag;
            entry.file_id = folded_file_id(found.FileId);
            return entry;
        }
        case ListingClass::id_both: {
            const auto& found = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            ListedEntry entry = entry_of(found);
            entry.reparse_tag = tag_of(found);
            entry.file_id = static_cast<std::uint64_t>(found.FileId.QuadPart);
            return entry;
        }
        case ListingClass::full: {
            const auto& found = *reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            ListedEntry entry = entry_of(found);
            entry.reparse_tag = tag_of(found);
            return entry;
        }
        case ListingClass::plain:
            break;
    }
    return entry_of(*reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(at));
}

// The rung each volume answered, by volume serial number; shared by every
// thread that lists. Never destroyed: a reader a stopped walk left waiting for
// the host may still list as the program ends.
std::mutex& listing_classes_mutex = *new std::mutex;
std::unordered_map<std::uint64_t, ListingClass>& listing_classes =
    *new std::unordered_map<std::uint64_t, ListingClass>;

ListingClass first_listing_class(std::uint64_t volume) {
    const std::lock_guard lock(listing_classes_mutex);
    const auto found = listing_classes.find(volume);
    return found == listing_classes.end() ? ListingClass::id_extended : found->second;
}

void remember_listing_class(std::uint64_t volume, ListingClass listing_class) {
    const std::lock_guard lock(listing_classes_mutex);
    listing_classes[volume] = listing_class;
}

}  // namespace

namespace windows {

void forget_listing_classes() {
    const std::lock_guard lock(listing_classes_mutex);
    listing_classes.clear();
}

}  // namespace windows

struct Folder::State {
    windows::Handle handle;
    // Aligned as the directory information needs; filled by each listing call.
    std::unique_ptr<std::uint64_t[]> listing;
    std::size_t next_offset = 0;   // of the next entry in `listing`
    bool listing_pending = false;  // `listing` holds entries not yet delivered
    bool ended = false;
    bool listed_once = false;
    ListingClass listing_class = ListingClass::id_extended;
    std::string name;
    FolderIdentity identity;
    std::error_code identity_error;
    // The machine of the folder opened by path, whose subfolders this one is
    // among: links to another machine are not followed.
    std::u16string machine;
    // The file IDs of the plain subfolders the listing delivered, by name;
    // read by open_child only once the listing has ended, and then by several
    // threads at once.
    std::unordered_map<std::string, std::uint64_t> subfolder_ids;
    std::atomic<bool> subfolder_ids_complete = false;

    // `known` is the folder's identity as its parent's listing told it.
    static std::unique_ptr<State> checked(windows::Handle handle, bool follow_link,
                                          bool opened_as_folder, std::error_code& error,
                                          std::optional<FolderIdentity> known = std::nullopt);
    // Fills `listing` with the next entries; false at the end or on failure.
    bool read_more(std::error_code& error);
    bool list_once(DWORD& code);
};

std::unique_ptr<Folder::State> Folder::State::checked(windows::Handle handle, bool follow_link,
                                                      bool opened_as_folder, std::error_code& error,
                                                      std::optional<FolderIdentity> known) {
    // A link followed by an open that asked for a folder needs no check.
    if (!(follow_link && opened_as_folder)) {
        error = check_folder(handle.get(), follow_link, opened_as_folder);
        if (error) return nullptr;
    }
    auto state = std::make_unique<State>();
    state->handle = std::move(handle);
    if (known)
        state->identity = *known;
    else
        state->identity = identity_of(state->handle.get(), state->identity_error);
    if (state->identity.volume != 0)
        state->listing_class = first_listing_class(state->identity.volume);
    return state;
}

bool Folder::State::list_once(DWORD& code) {
    if (listing_class == ListingClass::plain) {
        IO_STATUS_BLOCK status_block{};
        const NTSTATUS status =
            calls().query_directory(handle.get(), &status_block, listing.get(), kListingBytes,
                                    FileDirectoryInformation, false);
        code = status < 0 ? ::RtlNtStatusToDosError(status) : 0;
        return status >= 0;
    }
    const FILE_INFO_BY_HANDLE_CLASS information_class =
        listing_class == ListingClass::id_extended ? FileIdExtdDirectoryInfo
        : listing_class == ListingClass::id_both   ? FileIdBothDirectoryInfo
                                                   : FileFullDirectoryInfo;
    if (calls().information_by_handle(handle.get(), information_class, listing.get(),
                                      kListingBytes)) {
        code = 0;
        return true;
    }
    code = ::GetLastError();
    return false;
}

bool Folder::State::read_more(std::error_code& error) {
    if (!listing)
        listing = std::make_unique<std::uint64_t[]>(kListingBytes / sizeof(std::uint64_t));
    next_offset = 0;
    listing_pending = false;
    DWORD code = 0;
    bool listed = list_once(code);
    // A class refused at the first call has read nothing: the next one down
    // starts from the first entry.
    while (!listed && !listed_once && class_refused(code) && listing_class != ListingClass::last) {
        listing_class = static_cast<ListingClass>(static_cast<int>(listing_class) + 1);
        listed = list_once(code);
    }
    if (!listed_once && identity.volume != 0 && (listed || !class_refused(code)))
        remember_listing_class(identity.volume, listing_class);
    if (listed) {
        listed_once = true;
        listing_pending = true;
        return true;
    }
    // An empty drive root holds no name at all, not even the dots.
    const bool end = code == ERROR_NO_MORE_FILES || (!listed_once && code == ERROR_FILE_NOT_FOUND);
    if (!end) error = system_error_code(code);
    ended = true;
    subfolder_ids_complete.store(true, std::memory_order_release);
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
    Folder folder(State::checked(std::move(handle), true, false, error));
    if (folder.state_) folder.state_->machine = windows::machine_of_path(system_path);
    return folder;
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
        Folder folder(State::checked(std::move(handle), follow_link, false, error));
        if (folder.state_) folder.state_->machine = windows::machine_of_path(system_path);
        return folder;
    }
    const std::wstring wide_name = component_name(name, error);
    if (error) return {};
    ULONG options = kOpenFolder;
    if (!follow_link) options |= FILE_OPEN_REPARSE_POINT;
    const State& above = *parent.state_;
    windows::Handle handle =
        open_relative(above.handle.get(), wide_name, kListAccess, options, error);
    if (error) return {};
    // A plain subfolder lies on its parent's volume, with the ID its parent's
    // listing gave it; what a link leads to must be asked.
    std::optional<FolderIdentity> known;
    if (!follow_link && above.identity.volume != 0 &&
        above.subfolder_ids_complete.load(std::memory_order_acquire)) {
        const auto found = above.subfolder_ids.find(std::string(name));
        if (found != above.subfolder_ids.end())
            known = FolderIdentity{above.identity.volume, found->second};
    }
    Folder folder(State::checked(std::move(handle), follow_link, true, error, known));
    if (folder.state_) folder.state_->machine = above.machine;
    return folder;
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
    const ListedEntry found = decode(state.listing_class, bytes + state.next_offset);
    if (found.next_offset == 0)
        state.listing_pending = false;
    else
        state.next_offset += found.next_offset;
    state.name.clear();
    windows::append_utf8_from_wide(state.name, found.name);
    entry.name = state.name;
    entry.on_other_machine = false;
    entry.offline = false;
    entry.marked_by_system = false;
    entry.error.clear();
    const bool reparse = (found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse) {
        const std::optional<std::u16string> machine =
            link_machine(state.handle.get(), found.name, found.reparse_tag, entry.error);
        if (!machine) {
            entry.kind = EntryKind::unknown;
            return true;
        }
        if (!machine->empty() && *machine != state.machine) {
            // A link to a folder is made as one, so its own attributes tell.
            entry.on_other_machine = true;
            entry.kind = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                             ? EntryKind::link_to_folder
                             : EntryKind::other;
            return true;
        }
    }
    if (reparse && is_link_tag(found.reparse_tag)) {
        const FolderEntry link = kind_of_link(state.handle.get(), found.name, found.attributes);
        entry.kind = link.kind;
        entry.error = link.error;
    } else {
        entry.kind = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder
                                                                        : EntryKind::file;
    }
    // Only a folder, or what may be one, is ever entered.
    entry.marked_by_system = entry.kind != EntryKind::file && entry.kind != EntryKind::other &&
                             (found.attributes & kMarkedBySystem) == kMarkedBySystem;
    entry.offline = entry.kind == EntryKind::folder && (found.attributes & kAttributesOffline) != 0;
    if (entry.kind == EntryKind::folder && !reparse && found.file_id != 0)
        state.subfolder_ids.emplace(state.name, found.file_id);
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

std::string Folder::resolved_path(std::error_code& error) const {
    error.clear();
    if (!state_) {
        error = system_error_code(ERROR_INVALID_HANDLE);
        return {};
    }
    // The device's own name is there for every volume, with a drive letter
    // or without.
    constexpr DWORD kForm = FILE_NAME_NORMALIZED | VOLUME_NAME_NT;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = calls().final_path(state_->handle.get(), path.data(),
                                                static_cast<DWORD>(path.size()), kForm);
        if (length == 0) {
            error = windows::last_error();
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return windows::utf8_from_wide(path);
        }
        path.resize(length);  // too small: `length` counts the closing NUL
    }
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
