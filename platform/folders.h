// Folders as the walk sees them: open one by path or below an open parent,
// read its names with their kinds, tell its identity and whether it is a
// mount's root or lies on a kernel file system; and what the walk sizes its
// reading by: how many handles the process may hold, whether a read made the
// thread wait, and how its reading threads share the processors.
// The only way the walk sees the host's folders. Names come as views into
// the block just read, of any length the host delivers; failures come as
// std::error_code in the host's category.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestrafin::platform {

enum class EntryKind : std::uint8_t {
    file,            // a regular file
    folder,          // a folder that is not a link
    link_to_folder,  // a symbolic link or junction whose target is a folder
    other,           // anything else: FIFO, socket, device, a link to a file or to nothing
    unknown,         // the host could not tell; FolderEntry::error says why
};

struct FolderEntry {
    std::string_view name;  // valid until the next call of next() or the folder's end
    EntryKind kind = EntryKind::file;
    std::error_code error;  // set only for EntryKind::unknown
    // A link whose target lies on another machine than this one and than the
    // one the folder opened by path lies on (a symbolic link to
    // \\host\share): told from the link itself, its target never opened,
    // since opening it would sign in there with the account's credentials.
    // Its kind is link_to_folder when the link is one to a folder. Never set
    // where the host does the signing in itself (Linux: a network mount).
    bool on_other_machine = false;
    // A folder whose names lie elsewhere (a cloud placeholder, an offline
    // file): listing it makes the host fetch them.
    bool offline = false;
    // The host marks it a folder of its own that users are not to enter
    // (Windows: hidden and system, as profile junctions and "System Volume
    // Information" are); never set on Linux.
    bool marked_by_system = false;
};

// Identifies a folder on the host: device and inode, or volume serial number
// and file ID. The file is 0 when the host cannot tell, or gives the ID 0 (as
// some shares do for every file): then the folder is not known by it, though
// its volume may be.
struct FolderIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FolderIdentity&) const = default;
    bool known() const { return file != 0; }
};

// Threads that make a folder's lookups at once (Folder::look_up_at_once),
// shared by every folder read while it lives: a walk keeps one for its whole
// length. They start as lookups first want them, a fixed number at most, and
// end with it. It must outlive the folders that use it, and no lookup may be
// under way as it ends. Where the host makes lookups one after another, it
// holds nothing.
class LookupHelpers {
  public:
    LookupHelpers();
    ~LookupHelpers();
    LookupHelpers(const LookupHelpers&) = delete;
    LookupHelpers& operator=(const LookupHelpers&) = delete;

    struct State;  // the host's own

  private:
    friend class Folder;
    std::unique_ptr<State> state_;
};

// One open folder. One thread at a time uses it, except that several may
// open its subfolders (open_child) at once.
class Folder {
  public:
    // Opens the folder named by `path` as the user gave it, following links.
    // On failure the result is not open() and `error` says why.
    static Folder open(std::string_view path, std::error_code& error);

    // Opens the subfolder `name` of `parent`. `full_path` is the same folder's
    // whole path, for hosts that open by path. With `follow_link` false a link
    // in the name's place is not followed and the open fails, so a folder swapped
    // for a link after it was read cannot lead elsewhere.
    static Folder open_child(const Folder& parent, std::string_view name,
                             std::string_view full_path, bool follow_link, std::error_code& error);

    Folder();
    Folder(Folder&&) noexcept;
    Folder& operator=(Folder&&) noexcept;
    ~Folder();

    bool is_open() const;

    // The next entry, "." and ".." included where the host delivers them.
    // True with `entry` filled; false at the end (error clear) or when reading
    // failed (error set; the entries before it were delivered).
    bool next(FolderEntry& entry, std::error_code& error);

    // Lets next() look up to `lookups` entries' kinds at once, with the
    // threads of `helpers`, where the host makes each lookup wait (a folder of
    // links on a share or on a disk whose data is not cached); by default they
    // are looked up one after another. What next() delivers does not change;
    // where the host cannot make lookups at once, they are made one after
    // another.
    void look_up_at_once(std::size_t lookups, LookupHelpers& helpers);

    // The open folder's identity; fails only when the host cannot be asked,
    // and the result is then not known().
    FolderIdentity identity(std::error_code& error) const;

    // The open folder's path with every link resolved, as the host names it
    // now (it may differ in form from the paths the walk is given); for
    // telling by path whether a folder is one the walk is inside where its
    // identity is not known. Empty with `error` set where the host cannot tell.
    std::string resolved_path(std::error_code& error) const;

    // True when the folder is the root of a mount, a bind mount included
    // (which keeps the volume of the folder it was taken from). Asked after
    // identity(), which may learn it on the way.
    bool is_mount_root() const;

    // True when the folder lies on a kernel file system that holds no user
    // files (proc, sysfs, cgroup, ...). The walk asks when the volume changes.
    bool on_kernel_file_system() const;

    // For a folder on a kernel file system: the names of its subfolders that
    // lead down to mounts of other file systems (a tmpfs on /dev/shm below
    // devtmpfs), each once, in the host's mount order.
    std::vector<std::string> ways_to_mounts_below() const;

    // Releases the host's handle; the destructor does the same.
    void close();

  private:
    struct State;
    explicit Folder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The most handles (files, folders) the process may have open at once: the
// host's limit for this process, or a very large number when the host sets none.
std::size_t open_handle_limit();

// The handles the process holds open now (inherited ones too), so that a
// walk budgets only those left below the limit; 0 where the host cannot tell
// or sets no limit that they count against.
std::size_t open_handle_count();

// Grows the host's table of handles to hold `count` of them (within the
// process's limit) before threads open them: on Linux each growth of a
// threaded process's table holds every thread that opens a handle for an RCU
// grace period, milliseconds. The table never shrinks, so a process waits so
// at most once, here, and not at all while no other thread runs. Leaves no
// handle open. Best effort; nothing where the host cannot or need not.
void make_room_for_handles(std::size_t count);

// How often the calling thread has so far given up the processor to wait for
// something, not counting times it was merely preempted; nothing where the
// host cannot tell. A folder on a share or on a disk whose data is not cached
// makes the reader wait, one in memory does not.
std::optional<std::uint64_t> thread_waits();

// Lowers the calling thread's priority a little below the process's other
// threads for the rest of its life, so that a thread that works ahead of
// another gives way to it where they share the processors. A thread started by
// one that gave way goes no lower when it gives way in turn. Best effort.
void give_way_to_other_threads();

// While alive, folders are read with backup rights where the account holds
// them (on Windows SeBackupPrivilege, which administrators and backup
// operators hold, turned on in the process's token): a folder whose rights
// leave the account out is read all the same. Where the account holds no
// such rights, or the host has none, nothing changes. The rights are the
// process's, so one walk at a time takes them; when it ends they are as they
// were found.
class BackupReading {
  public:
    BackupReading();
    ~BackupReading();
    BackupReading(const BackupReading&) = delete;
    BackupReading& operator=(const BackupReading&) = delete;
    // True when folders are read with backup rights now.
    bool in_effect() const;

  private:
    struct State;  // the host's hold on the rights
    std::unique_ptr<State> state_;
};

}  // namespace kestrafin::platform
