#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "platform/windows/process_start.h"
#include "platform/windows/system.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::platform;
using kestrafin::testing::long_form;
using kestrafin::testing::WindowsTempFolder;

namespace {

std::string read_whole(const std::string& path) {
    std::ifstream file(long_form(path), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace

TEST(WindowsPlatform, ProgramFolderHoldsTheRunningExecutable) {
    const std::string folder = program_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_FALSE(folder.starts_with("\\\\?\\"));
    EXPECT_EQ(folder.find('/'), std::string::npos);
    std::wstring module(32768, L'\0');
    module.resize(::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size())));
    const std::string executable = windows::utf8_from_wide(module);
    const std::string name = executable.substr(executable.find_last_of('\\') + 1);
    EXPECT_EQ(program_file(folder, name), executable);
}

TEST(WindowsPlatform, LargeBlocksAreWritableToTheLastByte) {
    constexpr std::size_t kSize = 64u << 20;
    auto* block = static_cast<unsigned char*>(allocate_large_block(kSize));
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    block[kSize - 1] = 2;
    EXPECT_EQ(block[0] + block[kSize - 1], 3);
    free_large_block(block, kSize);
    EXPECT_THROW(allocate_large_block(std::size_t{1} << 62), std::bad_alloc);
}

// That programs start, and from where, is windows_planting_test's.
TEST(WindowsPlatform, ACommandLineThatNamesNoProgramOfTheSystemIsRefused) {
    const struct {
        const char* line;
        DWORD error;
    } rows[] = {
        {"kestrafin-no-such-program.exe x", ERROR_FILE_NOT_FOUND},
        {"  ", ERROR_INVALID_PARAMETER},
        // Relative to the current folder, which anyone may have filled.
        {"tools\\cmd.exe /c exit", ERROR_INVALID_NAME},
        {"C:cmd.exe", ERROR_INVALID_NAME},
    };
    for (const auto& [line, expected] : rows) {
        try {
            windows::start_command_line(line, SW_SHOWNORMAL);
            ADD_FAILURE() << line << ": started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), static_cast<int>(expected)) << line;
        }
    }
}

TEST(WindowsPlatform, StreamsToFilesGetTheBytesUnchanged) {
    WindowsTempFolder folder;
    const std::string path = folder / "out.txt";
    const int descriptor = ::_wopen(long_form(path).c_str(), _O_WRONLY | _O_CREAT | _O_TEXT, 0600);
    ASSERT_GE(descriptor, 0);
    EXPECT_FALSE(stream_is_terminal(descriptor));
    EXPECT_EQ(terminal_columns(descriptor), 80u);
    // Text mode of the C runtime would add carriage returns; the stream must not.
    write_stream(descriptor, "C:\\a\xC3\xA9\nline two\n");
    ::_close(descriptor);
    EXPECT_EQ(read_whole(path), "C:\\a\xC3\xA9\nline two\n");
    EXPECT_THROW(write_stream(descriptor, "x"), std::system_error);
}
