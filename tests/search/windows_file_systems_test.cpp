// The walk on the file systems a Windows file server meets, played through
// the folder reader's calls (platform/windows/file_information.h) on a tree
// that Wine keeps: each refuses or changes what that file system does.
#include <gtest/gtest.h>

#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

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
    const wchar_t* denied = L"";  // a name whose open for listing is refused
    bool denied_marked_by_system = false;
    const wchar_t* unreachable = L"";  // a name that no open reaches
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
        return FileInformation::create_file(handle, access, attributes, status, share, disposition,
                                            options);
    }

    BOOL information_by_handle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer,
                               DWORD bytes) override {
        const bool id_class = kind == FileIdExtdDirectoryInfo || kind == FileIdBothDirectoryInfo;
        ++(id_class || kind == FileFullDirectoryInfo ? listings : queries);
        const DWORD refusal = id_class                        ? behaviour_.refuse_id_classes
                              : kind == FileFullDirectoryInfo ? behaviour_.refuse_full_class
                              : kind == FileAttributeTagInfo && behaviour_.refuse_tag_class
                                  ? ERROR_INVALID_PARAMETER
                                  : 0;
        if (refusal != 0) {
            ::SetLastError(refusal);
            return FALSE;
        }
        if (!FileInformation::information_by_handle(handle, kind, buffer, bytes)) return FALSE;
        if (kind == FileIdExtdDirectoryInfo) change_entries<FILE_ID_EXTD_DIR_INFO>(buffer);
        if (kind == FileIdBothDirectoryInfo) change_entries<FILE_ID_BOTH_DIR_INFO>(buffer);
        if (kind == FileFullDirectoryInfo) change_entries<FILE_FULL_DIR_INFO>(buffer);
        if (kind == FileIdInfo && behaviour_.zero_ids)
            static_cast<FILE_ID_INFO*>(buffer)->FileId = {};
        const DWORD no_directory_bit = ~DWORD{FILE_ATTRIBUTE_DIRECTORY};
        if (kind == FileAttributeTagInfo && behaviour_.hide_own_directory_bit)
            static_cast<FILE_ATTRIBUTE_TAG_INFO*>(buffer)->FileAttributes &= no_directory_bit;
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
                             FILE_INFORMATION_CLASS information_class, bool restart_scan) override {
        ++listings;
        const NTSTATUS result = FileInformation::query_directory(handle, status, buffer, bytes,
                                                                 information_class, restart_scan);
        if (result >= 0) change_entries<FILE_DIRECTORY_INFORMATION>(buffer);
        return result;
    }

  private:
    // Marks the denied name as the system's own where asked, and takes the
    // IDs away where the volume gives none.
    template <typename Entry>
    void change_entries(void* buffer) const {
        auto* bytes = static_cast<unsigned char*>(buffer);
        for (;;) {
            auto& entry = *reinterpret_cast<Entry*>(bytes);
            const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
            if (behaviour_.denied_marked_by_system && name == behaviour_.denied)
                entry.FileAttributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if constexpr (requires { entry.FileId; })
                if (behaviour_.zero_ids) entry.FileId = {};
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

}  // namespace

// root\<long>\{f, Protected\inside, Closed\inside}, root\up -> root and
// root\far -> a folder outside. The first row plays nothing.
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
    // Under Wine the link comes from the host's ln through start.exe, which
    // once made none in a full parallel run: setup, not the walk, so once more.
    if (!make_windows_folder_link(elsewhere.path(), root / "far") &&
        !make_windows_folder_link(elsewhere.path(), root / "far"))
        GTEST_SKIP() << "the system made no link to a folder outside the root";
    // The files below the root reached through `ups` links back to it.
    const auto files_through = [&](std::size_t ups) {
        std::string base = root.path();
        for (std::size_t n = 0; n < ups; ++n) base += "\\up";
        base += below_long;
        return std::vector<std::string>{base + "\\f", base + "\\Protected\\inside",
                                        base + "\\Closed\\inside"};
    };
    const std::vector<std::string> every_file = files_through(0);

    // What the walk did not enter, by the rule that held.
    struct Outcome {
        std::vector<std::string> entries = {};
        std::vector<std::string> unreadable = {};
        std::vector<std::string> declined = {};
    };
    const std::string up = root / "up";
    const std::string eight_ups = files_through(8)[0].substr(0, root.path().size() + 8 * 3);
    std::vector<std::string> nine_loops;
    for (std::size_t ups = 0; ups <= 8; ++ups)
        for (const std::string& file : files_through(ups)) nine_loops.push_back(file);
    const struct {
        const char* volume;
        Behaviour behaviour;
        Outcome outcome;
    } rows[] = {
        {"NTFS as Wine offers it", {}, {every_file, {}, {"cycle " + up}}},
        {"FAT32 or exFAT", {.refuse_tag_class = true}, {every_file, {}, {"cycle " + up}}},
        {"a NAS without the ID classes",
         {.refuse_id_classes = ERROR_INVALID_PARAMETER},
         {every_file, {}, {"cycle " + up}}},
        {"SMB1 (no ID classes, no directory bit)",
         {.refuse_id_classes = ERROR_NOT_SUPPORTED, .hide_own_directory_bit = true},
         {every_file, {}, {"cycle " + up}}},
        {"the plain listing only",
         {.refuse_id_classes = ERROR_INVALID_LEVEL, .refuse_full_class = ERROR_INVALID_FUNCTION},
         {every_file, {}, {"cycle " + up}}},
        {"a share of file ID 0", {.zero_ids = true}, {every_file, {}, {"path cycle " + up}}},
        {"ID 0 and no resolved paths",
         {.zero_ids = true, .no_resolved_path = true},
         {nine_loops,
          {},
          {"link depth " + eight_ups + "\\far", "link depth " + eight_ups + "\\up"}}},
        {"a system folder denied",
         {.denied = L"Protected", .denied_marked_by_system = true},
         {{every_file[0], every_file[2]},
          {},
          {"cycle " + up, "system " + long_folder + "\\Protected"}}},
        {"a user's folder denied",
         {.denied = L"Closed"},
         {{every_file[0], every_file[1]}, {long_folder + "\\Closed"}, {"cycle " + up}}},
        {"a link to a server down",
         {.unreachable = L"far"},
         {every_file, {root / "far"}, {"cycle " + up}}},
    };
    // Each call is a round trip on a share: the figures are printed for the
    // record, and the ID classes must spare queries.
    std::printf("calls per folder read           opens  queries  listings\n");
    std::vector<double> queries;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.volume);
        RecordingSink sink;
        {
            PlayedVolume volume(row.behaviour);
            search::searchfiles(root.path(), sink);
            const auto folders = static_cast<double>(sink.folders.size());
            queries.push_back(volume.queries / folders);
            std::printf("%-30.30s  %5.2f  %7.2f  %8.2f\n", row.volume, volume.opens / folders,
                        queries.back(), volume.listings / folders);
        }
        std::vector<std::string> declined;
        for (const auto& [rule, paths] : {std::pair{"cycle ", &sink.cycles},
                                          {"path cycle ", &sink.path_cycles},
                                          {"link depth ", &sink.link_depths},
                                          {"system ", &sink.system_folders}})
            for (const std::string& path : *paths) declined.push_back(rule + path);
        EXPECT_EQ(sorted(sink.entries), sorted(row.outcome.entries));
        EXPECT_EQ(sink.unreadable, row.outcome.unreadable);
        EXPECT_EQ(sorted(declined), sorted(row.outcome.declined));
    }
    EXPECT_LT(queries[0], queries[2]);  // NTFS against the NAS
}
