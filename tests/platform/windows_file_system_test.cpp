#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/files.h"
#include "platform/windows/renaming.h"
#include "platform/windows/system.h"
// After windows.h, which it needs.
#include <sddl.h>
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::platform;
using namespace kestrafin::testing;

namespace {

DWORD attributes_of(const std::string& path) {
    return ::GetFileAttributesW(long_form(path).c_str());
}

std::vector<std::string> names_in(const std::string& folder) {
    // The C++ library's folder iterator does not take the "\\?\" prefix.
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((long_form(folder).wstring() + L"\\*").c_str(), &found);
    EXPECT_NE(search, INVALID_HANDLE_VALUE);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = WindowsTempFolder::utf8(found.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// A folder whose path is far past the system's 260-character limit.
std::string deep_folder(const WindowsTempFolder& temp) {
    std::string folder = temp.path();
    for (int level = 0; level < 8; ++level) {
        folder += "\\" + std::string(50, 'a' + level) + "\xC3\xA9";
        make_windows_folder(folder);
    }
    return folder;
}

// The access list of `path` in the system's text form; empty when unreadable.
std::wstring access_list(const std::string& path) {
    DWORD size = 0;
    ::GetFileSecurityW(long_form(path).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::string descriptor(size, '\0');
    wchar_t* text = nullptr;
    if (size == 0 ||
        !::GetFileSecurityW(long_form(path).c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                            size, &size) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return {};
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

// Plays a system that grants the one-step rename with POSIX semantics (Windows
// 10 from version 1607 on NTFS), through the plain rename Wine offers, or
// one that refuses it, as FAT32 and older servers do.
struct PlayedPosixRenames : windows::Renaming {
    BOOL rename_by_handle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS, FILE_RENAME_INFO* information,
                          DWORD bytes) override {
        ++asked;
        if (refuse) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::string plain(reinterpret_cast<const char*>(information), bytes);
        auto* as_plain = reinterpret_cast<FILE_RENAME_INFO*>(plain.data());
        as_plain->Flags = 0;
        as_plain->ReplaceIfExists = TRUE;
        return Renaming::rename_by_handle(file, FileRenameInfo, as_plain, bytes);
    }
    bool refuse = false;
    int asked = 0;
};

}  // namespace

TEST(WindowsFileSystem, AReplacedFileKeepsItsAccessListAndAttributes) {
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "the rename with POSIX semantics refused" : "granted");
        WindowsTempFolder temp;
        const std::string path = temp / "kestrafinlist.dxb";
        replace_file(path, "old", "saved list");
        // Protected, so that no folder's list is inherited in its place.
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
        const bool set =
            ::SetFileSecurityW(long_form(path).c_str(), DACL_SECURITY_INFORMATION, descriptor);
        ::LocalFree(descriptor);
        const std::wstring before = access_list(path);
        if (!set || before.find(L"WD") == std::wstring::npos)
            GTEST_SKIP() << "this file system keeps no access lists";
        ASSERT_TRUE(::SetFileAttributesW(long_form(path).c_str(), FILE_ATTRIBUTE_HIDDEN));

        PlayedPosixRenames renaming;
        renaming.refuse = refuse;
        windows::replace_renaming(&renaming);
        replace_file(path, "new", "saved list");
        windows::replace_renaming(nullptr);

        EXPECT_EQ(renaming.asked, 1);
        EXPECT_EQ(read_file(path, "saved list"), "new");
        EXPECT_EQ(access_list(path), before);
        EXPECT_EQ(attributes_of(path) & ~FILE_ATTRIBUTE_ARCHIVE,
                  static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(names_in(temp.path()), std::vector<std::string>{"kestrafinlist.dxb"});
    }
}

TEST(WindowsFileSystem, ReplacesFilesWholeAndLeavesNoTemporaryFile) {
    WindowsTempFolder temp;
    const std::string folder = deep_folder(temp);
    const std::string path = folder + "\\kestrafin \xE2\x82\xAC.ini";
    replace_file(path, "first\n", "settings file");
    EXPECT_EQ(read_file(path, "settings file"), "first\n");
    const std::string large(3 << 20, 'x');
    replace_file(path, large, "settings file");
    EXPECT_EQ(read_file(path, "settings file"), large);
    EXPECT_EQ(names_in(folder), std::vector<std::string>{"kestrafin \xE2\x82\xAC.ini"});
    {
        AtomicFileWriter dropped(path, "settings file");
        dropped.write("never committed");
    }
    EXPECT_EQ(read_file(path, "settings file"), large);
    EXPECT_EQ(names_in(folder), std::vector<std::string>{"kestrafin \xE2\x82\xAC.ini"});
}

TEST(WindowsFileSystem, ReadOnlyHiddenAndSystemFilesBecomeArchiveOnly) {
    WindowsTempFolder temp;
    const std::string path = temp / "kestrafin.ini";
    replace_file(path, "x", "settings file");
    ASSERT_TRUE(::SetFileAttributesW(long_form(path).c_str(), FILE_ATTRIBUTE_READONLY |
                                                                  FILE_ATTRIBUTE_HIDDEN |
                                                                  FILE_ATTRIBUTE_SYSTEM));
    EXPECT_TRUE(file_exists(path));
    EXPECT_FALSE(visible_file_exists(path));
    EXPECT_THROW(refuse_read_only_file(path, "settings file"), std::system_error);
    make_writable(path, "settings file");
    EXPECT_EQ(attributes_of(path), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(visible_file_exists(path));
    EXPECT_NO_THROW(refuse_read_only_file(path, "settings file"));
    EXPECT_THROW(make_writable(temp / "missing", "settings file"), std::system_error);
}

TEST(WindowsFileSystem, CreatesMissingFilesAndKeepsExistingOnes) {
    WindowsTempFolder temp;
    const std::string path = temp / "kestrafinlist.dxb";
    EXPECT_FALSE(file_exists(path));
    ensure_file_exists(path, "saved list");
    EXPECT_TRUE(visible_file_exists(path));
    replace_file(path, "kept", "saved list");
    ensure_file_exists(path, "saved list");
    EXPECT_EQ(read_file(path, "saved list"), "kept");
    EXPECT_FALSE(visible_file_exists(temp.path()));  // a folder is no file
}

TEST(WindowsFileSystem, FailuresNameTheFileAndTheSystemsReason) {
    WindowsTempFolder temp;
    const std::string missing = temp / "missing.ini";
    try {
        read_file(missing, "settings file");
        FAIL() << "a missing file was read";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
        EXPECT_NE(std::string(error.what()).find("settings file '" + missing + "'"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_THROW(replace_file(temp / "no folder\\x.ini", "x", "settings file"), std::system_error);
    EXPECT_THROW(read_file(std::string("a\0b", 3), "settings file"), std::system_error);
}

TEST(WindowsFileSystem, NamesThatAreNoRegularFileAreRefused) {
    WindowsTempFolder temp;
    const std::string folder = temp / "a folder";
    make_windows_folder(folder);
    for (const auto& action : std::vector<std::function<void()>>{
             [&] { read_file(folder, "settings file"); },
             [&] { ensure_file_exists(folder, "settings file"); },
             [&] { AtomicFileWriter writer(folder, "saved list"); }}) {
        try {
            action();
            ADD_FAILURE() << "a folder was taken for a file";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), make_error_code(FileKind::Folder)) << error.what();
        }
    }
    // "CON" names the console device wherever it stands.
    try {
        read_file(temp / "CON", "settings file");
        ADD_FAILURE() << "a device was read as a file";
    } catch (const std::system_error& error) {
        EXPECT_NE(error.code(), std::error_code()) << error.what();
    }
}

TEST(WindowsFileSystem, AReadOnlyFileRefusesTheWriterAndStaysAsItWas) {
    WindowsTempFolder temp;
    const std::string path = temp / "kestrafinlist.dxb";
    replace_file(path, "old", "saved list");
    ASSERT_TRUE(::SetFileAttributesW(long_form(path).c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        AtomicFileWriter writer(path, "saved list");
        ADD_FAILURE() << "a read-only file was opened for output";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }
    EXPECT_EQ(read_file(path, "saved list"), "old");
    EXPECT_NE(attributes_of(path) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(names_in(temp.path()), std::vector<std::string>{"kestrafinlist.dxb"});
}

TEST(WindowsFileSystem, EveryNameOfAFileWithSeveralSeesTheNewContent) {
    WindowsTempFolder temp;
    const std::string first = temp / "first.ini";
    const std::string second = temp / "second.ini";
    replace_file(first, "old content", "settings file");
    if (!::CreateHardLinkW(long_form(second).c_str(), long_form(first).c_str(), nullptr))
        GTEST_SKIP() << "this system makes no hard links";
    replace_file(first, "new", "settings file");
    EXPECT_EQ(read_file(first, "settings file"), "new");
    EXPECT_EQ(read_file(second, "settings file"), "new");
    EXPECT_EQ(names_in(temp.path()), (std::vector<std::string>{"first.ini", "second.ini"}));
}

TEST(WindowsFileSystem, ALinkStaysALinkAndItsTargetGetsTheContent) {
    WindowsTempFolder temp;
    make_windows_folder(temp / "real");
    const std::string target = temp / "real\\kestrafin.ini";
    const std::string link = temp / "kestrafin.ini";
    replace_file(target, "old", "settings file");
    if (!make_windows_file_link(target, link)) GTEST_SKIP() << "this system makes no file links";
    replace_file(link, "new", "settings file");
    EXPECT_EQ(read_file(target, "settings file"), "new");
    // Still a link: what the target holds next is what the link reads.
    replace_file(target, "third", "settings file");
    EXPECT_EQ(read_file(link, "settings file"), "third");
    EXPECT_EQ(names_in(temp / "real"), std::vector<std::string>{"kestrafin.ini"});
}

TEST(WindowsFileSystem, TheSequentialReaderReadsAWholeFileInPiecesAndRefusesFolders) {
    WindowsTempFolder temp;
    const std::string folder = deep_folder(temp);
    const std::string path = folder + "\\list.dxb";
    std::string content;
    for (int line = 0; content.size() < (3u << 20); ++line) content += std::to_string(line) + "\n";
    replace_file(path, content, "saved list");
    SequentialFileReader reader(path, "saved list");
    std::string read_back;
    char piece[65536];
    while (const std::size_t got = reader.read(piece, sizeof piece)) read_back.append(piece, got);
    EXPECT_EQ(read_back, content);
    EXPECT_EQ(reader.read(piece, sizeof piece), 0u);
    try {
        SequentialFileReader refused(folder, "saved list");
        ADD_FAILURE() << "a folder was opened as a file";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), make_error_code(FileKind::Folder));
    }
    try {
        SequentialFileReader missing(folder + "\\missing.dxb", "saved list");
        ADD_FAILURE() << "a missing file was opened";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
    }
}
