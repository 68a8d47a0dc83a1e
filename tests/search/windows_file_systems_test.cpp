// The walk on the file systems a Windows file server meets, played through
// the folder reader's calls (platform/windows/file_information.h) on a tree
// that Wine keeps: each refuses or changes what that file system does.
#include <gtest/gtest.h>

#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/folders.h"
#include "platform/windows/file_information.h"
#include "search/path_text.h"
#include "tests/search/recording_sink.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin;
using namespace kestrafin::testing;
namespace windows = kestrafin::platform::windows;

namespace {

constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kBadNetworkPath = static_cast<NTSTATUS>(0xC00000BE);

struct Behaviour {
    DWORD refuse_id_classes = 0;  // the error they are refused with; 0 answers them
    DWORD refuse_full_class = 0;
    bool refuse_tag_class = false;
    bool hide_own_directory_bit = false;  // in a handle's attributes, not in listings
    bool zero_ids = false;
    bool no_resolved_path = false;
    const wchar_t* denied = L"";        // a name whose open for listing is refused
    bool denied_marked_by_system = false;
    const wchar_t* unreachable = L"";   // a name that no open reaches
};

// The system's calls, changed as `behaviour` says, and counted.
class PlayedVolume : public windows::FileInformation {
  public:
    explicit PlayedVolume(const Behaviour& behaviour) : behaviour_(behaviour) {
        windows::replace_file_information(this);
    }
    ~PlayedVolume() override { windows::replace_file_information(nullptr); }

    std::atomic<std::size_t> opens = 0;
    std::atomic<std::size_t> queries = 0;   // of one handle's own information
    std::atomic<std::size_t> listings = 0;  // listing calls, refused ones included

    NTSTATUS create_file(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                         IO_STATUS_BLOCK* status, ULONG share, ULONG disposition,
                         ULONG options) override {
        ++opens;
        const UNICODE_STRING* name = attributes->ObjectName;
        const std::wstring_view opened(name->Buffer, name->Length / sizeof(wchar_t));
        // An empty name opens the folder itself again.
        if (!opened.empty() && opened == behaviour_.unreachable) return kBadNetworkPath;
        if (!opened.empty() && opened == behaviour_.denied && (access & FILE_LIST_DIRECTORY) != 0)
            return kAccessDenied;
        return FileInformation::create_file(handle, access, attributes, status, share,
                                            disposition, options);
    }

    BOOL information_by_handle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class,
                               void* buffer, DWORD bytes) override {
        const bool listing = information_class == FileIdExtdDirectoryInfo ||
                             information_class == FileIdBothDirectoryInfo ||
                             information_class == FileFullDirectoryInfo;
        ++(listing ? listings : queries);
        DWORD refusal = 0;
        if (information_class == FileIdExtdDirectoryInfo ||
            information_class == FileIdBothDirectoryInfo)
            refusal = behaviour_.refuse_id_classes;
        if (information_class == FileFullDirectoryInfo) refusal = behaviour_.refuse_full_class;
        if (information_class == FileAttributeTagInfo && behaviour_.refuse_tag_class)
            refusal = ERROR_INVALID_PARAMETER;
        if (refusal != 0) {
            ::SetLastError(refusal);
            return FALSE;
        }
        if (!FileInformation::information_by_handle(handle, information_class, buffer, bytes))
            return FALSE;
        if (information_class == FileIdExtdDirectoryInfo)
            change_entries<FILE_ID_EXTD_DIR_INFO>(buffer, [](FILE_ID_EXTD_DIR_INFO& entry) {
                std::memset(&entry.FileId, 0, sizeof entry.FileId);
            });
        if (information_class == FileIdBothDirectoryInfo)
            change_entries<FILE_ID_BOTH_DIR_INFO>(
                buffer, [](FILE_ID_BOTH_DIR_INFO& entry) { entry.FileId.QuadPart = 0; });
        if (information_class == FileFullDirectoryInfo)
            change_entries<FILE_FULL_DIR_INFO>(buffer, [](FILE_FULL_DIR_INFO&) {});
        if (information_class == FileIdInfo && behaviour_.zero_ids)
            std::memset(&static_cast<FILE_ID_INFO*>(buffer)->FileId, 0, sizeof(FILE_ID_128));
        if (information_class == FileAttributeTagInfo && behaviour_.hide_own_directory_bit)
            static_cast<FILE_ATTRIBUTE_TAG_INFO*>(buffer)->FileAttributes &=
                ~DWORD{FILE_ATTRIBUTE_DIRECTORY};
        if (information_class == FileBasicInfo && behaviour_.hide_own_directory_bit)
            static_cast<FILE_BASIC_INFO*>(buffer)->FileAttributes &=
                ~DWORD{FILE_ATTRIBUTE_DIRECTORY};
        return TRUE;
    }

    BOOL identity_by_handle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* information) override {
        ++queries;
        if (!FileInformation::identity_by_handle(handle, information)) return FALSE;
        if (behaviour_.zero_ids) information->nFileIndexHigh = information->nFileIndexLow = 0;
        return TRUE;
    }

    DWORD final_path(HANDLE handle, wchar_t* path, DWORD units, DWORD flags) override {
        ++queries;
        if (behaviour_.no_resolved_path) {
            ::SetLastError(ERROR_NOT_SUPPORTED);
            return 0;
        }
        return FileInformation::final_path(handle, path, units, flags);
    }

    NTSTATUS query_directory(HANDLE handle, IO_STATUS_BLOCK* status, void* buffer, ULONG bytes,
                             FILE_INFORMATION_CLASS information_class,
                             bool restart_scan) override {
        ++listings;
        const NTSTATUS result = FileInformation::query_directory(
            handle, status, buffer, bytes, information_class, restart_scan);
        if (result >= 0)
            change_entries<FILE_DIRECTORY_INFORMATION>(buffer, [](FILE_DIRECTORY_INFORMATION&) {});
        return result;
    }

  private:
    // Marks the denied name as the system's own where asked, and takes the
    // IDs away where the volume gives none.
    template <typename Entry, typename TakeId>
    void change_entries(void* buffer, TakeId take_id) const {
        auto* bytes = static_cast<unsigned char*>(buffer);
        for (;;) {
            auto& entry = *reinterpret_cast<Entry*>(bytes);
            const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
            if (behaviour_.denied_marked_by_system && name == behaviour_.denied)
                entry.FileAttributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if (behaviour_.zero_ids) take_id(entry);
            if (entry.NextEntryOffset == 0) return;
            bytes += entry.NextEntryOffset;
        }
    }

    Behaviour behaviour_;
};

std::vector<std::string> sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t n = 0; n < times; ++n) all += text;
    return all;
}

}  // namespace

// root\<long>\{f, Protected\inside, Closed\inside}, root\up -> root and
// root\far -> a folder outside.
TEST(WindowsFileSystems, EachVolumeIsWalkedAsItBehaves) {
    WindowsTempFolder root;
    WindowsTempFolder elsewhere;
    std::string long_folder = root.path();
    for (const char letter : {'d', 'e', 'f', 'g', 'h'}) {
        long_folder += "\\" + std::string(45, letter);
        make_windows_folder(long_folder);
    }
    const std::string below_long = long_folder.substr(root.path().size());
    for (const std::string name : {"Protected", "Closed"}) {
        make_windows_folder(long_folder + "\\" + name);
        make_windows_file(long_folder + "\\" + name + "\\inside");
    }
    make_windows_file(long_folder + "\\f");
    if (!make_windows_folder_link(root.path(), root / "up"))
        GTEST_SKIP() << "this system makes no folder links";
    ASSERT_TRUE(make_windows_folder_link(elsewhere.path(), root / "far"));
    // The files below the root reached through `ups` links back to it.
    const auto files_through = [&](std::size_t ups) {
        const std::string base = root.path() + repeated("\\up", ups) + below_long;
        return std::vector<std::string>{base + "\\f", base + "\\Protected\\inside",
                                        base + "\\Closed\\inside"};
    };
    const std::vector<std::string> every_file = files_through(0);

    struct Outcome {
        std::vector<std::string> entries = {};
        std::vector<std::string> unreadable = {};
        std::vector<std::string> cycles = {};
        std::vector<std::string> path_cycles = {};
        std::vector<std::string> link_depths = {};
        std::vector<std::string> system_folders = {};
    };
    const std::vector<std::string> loop = {root / "up"};
    std::vector<std::string> nine_loops;
    for (std::size_t ups = 0; ups <= 8; ++ups)
        for (const std::string& file : files_through(ups)) nine_loops.push_back(file);
    const std::string eight_ups = root.path() + repeated("\\up", 8);
    const struct {
        const char* volume;
        Behaviour behaviour;
        Outcome outcome;
    } rows[] = {
        {"NTFS as Wine offers it", {}, {.entries = every_file, .cycles = loop}},
        {"FAT32 or exFAT, without the tag class",
         {.refuse_tag_class = true},
         {.entries = every_file, .cycles = loop}},
        {"a NAS without the ID classes",
         {.refuse_id_classes = ERROR_INVALID_PARAMETER},
         {.entries = every_file, .cycles = loop}},
        {"SMB1: no ID classes, folders without their directory bit",
         {.refuse_id_classes = ERROR_NOT_SUPPORTED, .hide_own_directory_bit = true},
         {.entries = every_file, .cycles = loop}},
        {"a driver with the plain directory information only",
         {.refuse_id_classes = ERROR_INVALID_LEVEL, .refuse_full_class = ERROR_INVALID_FUNCTION},
         {.entries = every_file, .cycles = loop}},
        {"a share that gives every file the ID 0",
         {.zero_ids = true},
         {.entries = every_file, .path_cycles = loop}},
        {"a share without IDs or resolved paths",
         {.zero_ids = true, .no_resolved_path = true},
         {.entries = nine_loops, .link_depths = {eight_ups + "\\up", eight_ups + "\\far"}}},
        {"a system folder that refuses to be listed",
         {.denied = L"Protected", .denied_marked_by_system = true},
         {.entries = {every_file[0], every_file[2]},
          .cycles = loop,
          .system_folders = {long_folder + "\\Protected"}}},
        {"a user's folder that refuses to be listed",
         {.denied = L"Closed"},
         {.entries = {every_file[0], every_file[1]},
          .unreadable = {long_folder + "\\Closed"},
          .cycles = loop}},
        {"a link to a server that is down",
         {.unreachable = L"far"},
         {.entries = every_file, .unreadable = {root / "far"}, .cycles = loop}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.volume);
        RecordingSink sink;
        {
            PlayedVolume volume(row.behaviour);
            search::searchfiles(root.path(), true, sink);
        }
        EXPECT_EQ(sorted(sink.entries), sorted(row.outcome.entries));
        EXPECT_EQ(sink.unreadable, row.outcome.unreadable);
        EXPECT_EQ(sink.cycles, row.outcome.cycles);
        EXPECT_EQ(sink.path_cycles, row.outcome.path_cycles);
        EXPECT_EQ(sorted(sink.link_depths), sorted(row.outcome.link_depths));
        EXPECT_EQ(sink.system_folders, row.outcome.system_folders);
    }
}

// On a share each call is a round trip. The figures are printed for the
// record; what is checked is that the ID classes spare a query per folder.
TEST(WindowsFileSystems, ListingWithTheIdClassesSparesAQueryPerFolder) {
    WindowsTempFolder root;
    for (int top = 0; top < 8; ++top) {
        const std::string folder = root / ("top" + std::to_string(top));
        make_windows_folder(folder);
        for (int sub = 0; sub < 8; ++sub) {
            make_windows_folder(folder + "\\sub" + std::to_string(sub));
            make_windows_file(folder + "\\sub" + std::to_string(sub) + "\\file");
        }
    }
    // A subfolder known by its parent's listing is the folder it names.
    {
        std::error_code error;
        platform::Folder parent = platform::Folder::open(root.path(), error);
        platform::FolderEntry entry;
        while (parent.next(entry, error)) {
        }
        const platform::Folder child =
            platform::Folder::open_child(parent, "top3", root / "top3", false, error);
        EXPECT_EQ(child.identity(error), platform::Folder::open(root / "top3", error).identity(error));
    }
    struct Figures {
        double opens, queries, listings;
    };
    const auto walk = [&](const Behaviour& behaviour) {
        RecordingSink sink;
        PlayedVolume volume(behaviour);
        search::searchfiles(root.path(), true, sink);
        EXPECT_EQ(sink.folders.size(), 73u);
        const auto folders = static_cast<double>(sink.folders.size());
        return Figures{volume.opens / folders, volume.queries / folders,
                       volume.listings / folders};
    };
    const Figures with_ids = walk({});
    const Figures without_ids = walk({.refuse_id_classes = ERROR_INVALID_PARAMETER});
    std::printf("calls per folder    opens  queries  listings\n"
                "with the ID classes %5.2f  %7.2f  %8.2f\n"
                "without them        %5.2f  %7.2f  %8.2f\n",
                with_ids.opens, with_ids.queries, with_ids.listings, without_ids.opens,
                without_ids.queries, without_ids.listings);
    EXPECT_LT(with_ids.queries + 0.9, without_ids.queries);
}
