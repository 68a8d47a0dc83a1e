// The walk over Windows trees, through the Windows folder reader.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <filesystem>

#include "platform/folders.h"
#include "platform/windows/reparse_data.h"
#include "search/path_text.h"
#include "search/walk_seams.h"
#include "tests/search/recording_sink.h"
#include "tests/support/reparse_data_bytes.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin;
using namespace kestrafin::testing;

namespace {

// A name of `units` UTF-16 units built from two-byte and four-byte characters.
std::string non_ascii_name(std::size_t units) {
    std::string name;
    for (; units >= 2; units -= 2) name += "\xF0\x9F\x98\x80";  // one pair: two units
    if (units == 1) name += "\xC3\xA9";
    return name;
}

// Makes folders below `parent` so that the last one's path is exactly `units`
// long. Each name stays short: the Unix file systems under Wine allow 255 bytes.
std::string folder_of_length(const std::string& parent, std::size_t units) {
    std::string path = parent;
    while (search::utf16_length(path) + 1 < units) {
        const std::size_t left = units - search::utf16_length(path) - 1;
        // With 41 units left, a name of 40 and its separator would end the
        // chain one unit short, with no room for another; take a shorter name.
        const std::size_t name_units = left <= 40 ? left : (left == 41 ? 20 : 40);
        path += "\\" + non_ascii_name(name_units);
        make_windows_folder(path);
    }
    EXPECT_EQ(search::utf16_length(path), units);
    return path;
}

std::vector<std::pair<std::string, platform::EntryKind>> read_folder(const std::string& path) {
    std::error_code error;
    platform::Folder folder = platform::Folder::open(path, error);
    EXPECT_TRUE(folder.is_open()) << path << ": " << error.message();
    std::vector<std::pair<std::string, platform::EntryKind>> entries;
    platform::FolderEntry entry;
    while (folder.next(entry, error)) entries.emplace_back(entry.name, entry.kind);
    EXPECT_FALSE(error) << error.message();
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

TEST(WindowsWalk, ReaderDeliversNamesKindsAndTheDots) {
    WindowsTempFolder root;
    make_windows_file(root / "file.txt");
    make_windows_folder(root / "sub");
    make_windows_file(root / "\xE4\xB8\xAD\xF0\x9F\x98\x80.txt");
    using Kind = platform::EntryKind;
    const std::vector<std::pair<std::string, Kind>> expected = {
        {".", Kind::folder},
        {"..", Kind::folder},
        {"file.txt", Kind::file},
        {"sub", Kind::folder},
        {"\xE4\xB8\xAD\xF0\x9F\x98\x80.txt", Kind::file}};
    EXPECT_EQ(read_folder(root.path()), expected);

    std::error_code error;
    platform::Folder parent = platform::Folder::open(root.path(), error);
    platform::Folder child =
        platform::Folder::open_child(parent, "sub", root / "sub", false, error);
    ASSERT_TRUE(child.is_open()) << error.message();
    const platform::FolderIdentity sub = child.identity(error);
    EXPECT_FALSE(error);
    EXPECT_NE(sub, parent.identity(error));
    EXPECT_EQ(platform::Folder::open(root / "sub\\.", error).identity(error), sub);
    // Only one name inside the parent is opened, never a way out of it.
    for (const std::string name : {"..", ".", "sub\\..", ""}) {
        platform::Folder::open_child(parent, name, root / name, true, error);
        EXPECT_EQ(error, std::error_code(ERROR_INVALID_NAME, std::system_category())) << name;
    }

    platform::Folder::open(root / "missing", error);
    EXPECT_EQ(error, std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
    platform::Folder::open(root / "file.txt", error);
    EXPECT_TRUE(error);
}

TEST(WindowsWalk, FoldersOfTwoHundredAndOneUnitsListTheirFilesAndOfTwoHundredDoNot) {
    WindowsTempFolder root;
    const std::string at_limit = folder_of_length(root.path(), 200);
    const std::string past_limit = folder_of_length(root.path(), 201);
    make_windows_file(at_limit + "\\a.txt");
    make_windows_file(past_limit + "\\b\xC3\xA9.txt");
    EXPECT_EQ(search_entries(root.path()),
              std::vector<std::string>{past_limit + "\\b\xC3\xA9.txt"});
}

TEST(WindowsWalk, PathsPastTheSystemLimitAreWalkedAndShownWithoutPrefix) {
    WindowsTempFolder root;
    std::string folder = root.path();
    std::vector<std::string> expected;
    while (search::utf16_length(folder) <= 1100) {
        folder += "\\" + std::string(60, 'd');
        make_windows_folder(folder);
        make_windows_file(folder + "\\f");
        if (search::utf16_length(folder) > 200) expected.push_back(folder + "\\f");
    }
    RecordingSink sink;
    search::searchfiles(root.path(), sink);
    EXPECT_EQ(sink.entries, expected);
    EXPECT_TRUE(sink.unreadable.empty());
    ASSERT_FALSE(sink.entries.empty());
    EXPECT_GT(search::utf16_length(sink.entries.back()), 1000u);
    for (const auto& entry : sink.entries) EXPECT_FALSE(entry.starts_with("\\\\?\\"));
}

// Without the "\\?\" prefix the system drops a name's trailing dots and
// spaces, and "dot." would be read as its neighbour "dot".
TEST(WindowsWalk, NamesEndingInDotsOrSpacesAreReadAsTheyAre) {
    WindowsTempFolder root;
    const std::string base = folder_of_length(root.path(), 205);
    std::vector<std::string> expected;
    for (const std::string name : {"dot.", "dot", "space ", "space"}) {
        make_windows_folder(base + "\\" + name);
        const std::string file = base + "\\" + name + "\\in " + name;
        make_windows_file(file);
        expected.push_back(file);
    }
    RecordingSink sink;
    search::searchfiles(root.path(), sink);
    std::sort(sink.entries.begin(), sink.entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sink.entries, expected);
    EXPECT_TRUE(sink.unreadable.empty());
}

TEST(WindowsWalk, LinksToFoldersAreEnteredButNotWhenTheyLeadBack) {
    WindowsTempFolder root;
    std::string deep = root.path();
    for (const char letter : {'d', 'e', 'f', 'g', 'h'}) {
        deep += "\\" + std::string(45, letter);
        make_windows_folder(deep);
    }
    ASSERT_GT(deep.size(), 200u);
    make_windows_file(deep + "\\x");
    if (!make_windows_folder_link(deep, deep + "\\back"))
        GTEST_SKIP() << "this system makes no folder links";
    ASSERT_TRUE(make_windows_folder_link(root.path(), root / "up"));
    // A link to a sibling is walked again under the link's path.
    const std::string sibling = root / std::string(200, 's');
    make_windows_folder(sibling);
    ASSERT_TRUE(make_windows_folder_link(deep, sibling + "\\again"));
    RecordingSink sink;
    search::searchfiles(root.path(), sink);
    std::sort(sink.entries.begin(), sink.entries.end());
    std::vector<std::string> expected = {deep + "\\x", sibling + "\\again\\x"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sink.entries, expected);
    std::sort(sink.cycles.begin(), sink.cycles.end());
    expected = {root / "up", deep + "\\back", sibling + "\\again\\back"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sink.cycles, expected);
}

TEST(WindowsWalk, AMissingRootIsReportedAndListsNothing) {
    WindowsTempFolder root;
    RecordingSink sink;
    search::searchfiles(root / "missing", sink);
    EXPECT_TRUE(sink.entries.empty());
    EXPECT_EQ(sink.unreadable, std::vector<std::string>{root / "missing"});
}

namespace {

// Sets the folder's access list from a security descriptor text.
bool set_access(const std::string& path, const wchar_t* descriptor_text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor_text, SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    const bool set =
        ::SetFileSecurityW(long_form(path).c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
    ::LocalFree(descriptor);
    return set;
}

}  // namespace

TEST(WindowsWalk, AnUnreadableFolderIsReportedAndTheWalkGoesOn) {
    WindowsTempFolder root;
    const std::string deep = folder_of_length(root.path(), 205);
    const std::string closed = deep + "\\closed";
    const std::string open = deep + "\\open";
    make_windows_folder(closed);
    make_windows_folder(open);
    make_windows_file(closed + "\\hidden");
    make_windows_file(open + "\\seen");
    // Everyone is denied everything; the owner may still give the rights back.
    ASSERT_TRUE(set_access(closed, L"D:P(D;OICI;FA;;;WD)"));
    std::error_code error;
    const bool enforced = !platform::Folder::open(closed, error).is_open();
    RecordingSink sink;
    if (enforced) search::searchfiles(root.path(), sink);
    set_access(closed, L"D:(A;OICI;FA;;;WD)");
    if (!enforced) GTEST_SKIP() << "this system does not enforce folder access lists (Wine)";
    EXPECT_EQ(sink.entries, std::vector<std::string>{open + "\\seen"});
    EXPECT_EQ(sink.unreadable, std::vector<std::string>{closed});
}

namespace {

// Reparse data of a symbolic link to \\SERVER\share, as a link planted
// there would have; Wine makes no such link.
std::error_code read_link_to_server(void* folder, std::wstring_view name,
                                    std::vector<std::uint8_t>& data) {
    if (name != L"remote") return platform::windows::read_reparse_data(folder, name, data);
    data = reparse_data_bytes(u"\\??\\UNC\\SERVER\\share");
    return {};
}

}  // namespace

TEST(WindowsWalk, ALinkToAnotherMachineIsNeverEntered) {
    WindowsTempFolder root;
    // Each link to a folder of its own, so that neither is a web of links.
    for (const char* folder : {"target", "other"}) {
        make_windows_folder(root / folder);
        make_windows_file(root / folder + "\\inside");
    }
    if (!make_windows_folder_link(root / "other", root / "remote"))
        GTEST_SKIP() << "this system makes no folder links";
    ASSERT_TRUE(make_windows_folder_link(root / "target", root / "local"));
    platform::windows::replace_reparse_data_reader(&read_link_to_server);
    for (const std::size_t threads : {1, 4}) {
        RecordingSink sink;
        search::searchfiles(root.path(), sink, {.longer_than = 0, .threads = threads},
                            {.read_ahead_after_folders = 1});
        std::sort(sink.entries.begin(), sink.entries.end());
        const std::vector<std::string> expected = {root / "local\\inside", root / "other\\inside",
                                                   root / "target\\inside"};
        EXPECT_EQ(sink.entries, expected) << threads << " threads";
        const std::vector<std::pair<std::string, search::NotEntered>> declined = {
            {root / "remote", search::NotEntered::other_machine}};
        EXPECT_EQ(sink.not_entered, declined) << threads << " threads";
    }
    platform::windows::replace_reparse_data_reader(nullptr);
}

// A link to nothing, or to a file, is listed as a file, as on other hosts;
// it is no folder that could not be read.
TEST(WindowsWalk, LinksToNothingAndToFilesAreListedAsFiles) {
    WindowsTempFolder root;
    std::string deep = root.path();
    for (const char letter : {'d', 'e', 'f', 'g', 'h'}) {
        deep += "\\" + std::string(45, letter);
        make_windows_folder(deep);
    }
    make_windows_file(deep + "\\target.txt");
    if (!make_windows_file_link(deep + "\\target.txt", deep + "\\to file"))
        GTEST_SKIP() << "this system makes no links";
    make_windows_folder(deep + "\\gone");
    ASSERT_TRUE(make_windows_folder_link(deep + "\\gone", deep + "\\to nothing"));
    ASSERT_TRUE(run_unix_program(L"/bin/rmdir", {deep + "\\gone"},
                                 [&] { return !exists(deep + "\\gone"); }) ||
                ::RemoveDirectoryW(long_form(deep + "\\gone").c_str()));
    WIN32_FIND_DATAW found{};
    const HANDLE listed = ::FindFirstFileW(long_form(deep + "\\to nothing").c_str(), &found);
    if (listed == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "this system does not list a link to nothing (Wine)";
    ::FindClose(listed);
    RecordingSink sink;
    search::searchfiles(root.path(), sink);
    std::sort(sink.entries.begin(), sink.entries.end());
    const std::vector<std::string> expected = {deep + "\\target.txt", deep + "\\to file",
                                               deep + "\\to nothing"};
    EXPECT_EQ(sink.entries, expected);
    EXPECT_TRUE(sink.unreadable.empty());
}

// The walk holds a folder open while it reads it. When the folder is renamed
// and a link to another tree takes its name meanwhile, its subfolders are
// still opened in the folder that was read, not through the link.
TEST(WindowsWalk, SubfoldersAreOpenedInTheFolderHeldNotByItsPath) {
    WindowsTempFolder root;
    make_windows_folder(root / "held");
    make_windows_folder(root / "held\\sub");
    make_windows_file(root / "held\\sub\\inside");
    make_windows_folder(root / "elsewhere");
    make_windows_folder(root / "elsewhere\\sub");
    make_windows_file(root / "elsewhere\\sub\\outside");
    std::error_code error;
    const platform::Folder held = platform::Folder::open(root / "held", error);
    ASSERT_TRUE(held.is_open()) << error.message();
    if (!run_unix_program(L"/bin/mv", {root / "held", root / "moved"},
                          [&] { return exists(root / "moved"); }))
        GTEST_SKIP() << "no host program can move the folder while it is open (not Wine)";
    ASSERT_TRUE(make_windows_folder_link(root / "elsewhere", root / "held"));

    platform::Folder sub =
        platform::Folder::open_child(held, "sub", root / "held\\sub", false, error);
    ASSERT_TRUE(sub.is_open()) << error.message();
    std::vector<std::string> names;
    platform::FolderEntry entry;
    while (sub.next(entry, error))
        if (entry.name != "." && entry.name != "..") names.emplace_back(entry.name);
    EXPECT_FALSE(error) << error.message();
    EXPECT_EQ(names, std::vector<std::string>{"inside"});
}

// An open folder keeps users from renaming or moving the folders above it,
// so a walk of many folders at the default threads holds only its descent's
// handles and a few per thread. The sink counts the process's handles as
// folders are done, the walk waiting meanwhile.
TEST(WindowsWalk, AWalkOfTwentyThousandFoldersHoldsAFewHandlesPerThread) {
    WindowsTempFolder root;
    std::size_t made = 0;
    for (int top = 0; top < 10; ++top) {
        const std::string first = root / ("t" + std::to_string(top));
        make_windows_folder(first);
        for (int middle = 0; middle < 10; ++middle) {
            const std::string second = first + "\\m" + std::to_string(middle);
            make_windows_folder(second);
            for (int low = 0; low < 10; ++low) {
                const std::string third = second + "\\l" + std::to_string(low);
                make_windows_folder(third);
                for (int leaf = 0; leaf < 20; ++leaf)
                    make_windows_folder(third + "\\f" + std::to_string(leaf));
                made += 21;
            }
            ++made;
        }
        ++made;
    }
    // Files and folders only, not the threads' own handles and events: the
    // valid handle values of disk files are counted, all of them below the
    // values a small process reaches. (Wine counts no handles in
    // GetProcessHandleCount.)
    const auto handles = [] {
        DWORD count = 0;
        for (std::uintptr_t value = 4; value < 0x10000; value += 4)
            if (::GetFileType(reinterpret_cast<HANDLE>(value)) == FILE_TYPE_DISK) ++count;
        return count;
    };
    struct HandleCountingSink : kestrafin::testing::WalkHooks {
        std::size_t folders = 0;
        std::size_t most_open = 0;
        DWORD (*count)() = nullptr;
        void add_entry(std::string_view) override {}
        void folder_done(std::string_view) override {
            if (++folders % 128 == 0) most_open = std::max<std::size_t>(most_open, count());
        }
    } sink;
    sink.count = +handles;
    const std::size_t before = handles();
    const search::SearchOptions options{.threads = search::kDefaultThreads};
    search::searchfiles(root.path(), sink, options, {.read_ahead_after_folders = 1});
    ASSERT_EQ(sink.folders, made + 1);
    ASSERT_GT(sink.most_open, before) << "no handle was counted";
    EXPECT_LE(sink.most_open - before,
              options.open_folders + 1 + search::kHandlesMostPerThread * options.threads);
}
