// Programs are started by their full path in the system's folders: a file of
// a system program's name in the program's folder or the current folder is
// never started. This test runs from a folder of its own, since it puts such
// files beside itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/windows/process_start.h"
#include "platform/windows/system.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::platform;
using kestrafin::testing::as_path;
using kestrafin::testing::WindowsTempFolder;

namespace {

std::wstring system_folder(UINT (*call)(LPWSTR, UINT)) {
    std::wstring folder(MAX_PATH, L'\0');
    folder.resize(call(folder.data(), static_cast<UINT>(folder.size())));
    return folder;
}

// Copies of the planted program under `name` in the program's folder and in
// a current folder of its own, while alive.
struct PlantedCopies {
    WindowsTempFolder current;
    std::vector<std::filesystem::path> copies;
    std::wstring old_current = system_folder([](LPWSTR into, UINT size) {
        return static_cast<UINT>(::GetCurrentDirectoryW(size, into));
    });

    explicit PlantedCopies(const std::string& name) {
        const std::string planted = program_file(program_folder(), "kestrafin_planted_program.exe");
        for (const std::string& folder : {program_folder(), current.path()}) {
            copies.push_back(as_path(program_file(folder, name)));
            std::filesystem::copy_file(as_path(planted), copies.back(),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        EXPECT_TRUE(::SetCurrentDirectoryW(as_path(current.path()).c_str()));
    }
    ~PlantedCopies() {
        ::SetCurrentDirectoryW(old_current.c_str());
        std::error_code ignored;
        for (const auto& copy : copies) {
            std::filesystem::remove(copy, ignored);
            std::filesystem::remove(copy.wstring() + L".ran", ignored);
        }
    }
    bool any_ran() const {
        for (const auto& copy : copies)
            if (std::filesystem::exists(copy.wstring() + L".ran")) return true;
        return false;
    }
};

}  // namespace

TEST(PlantedPrograms, ACopyInTheProgramsOrTheCurrentFolderIsNeverStarted) {
    // cmd.exe stands for every system program: it leaves a record of its own
    // when it is the one started. Explorer would open a browser or a window.
    const PlantedCopies planted("cmd.exe");
    WindowsTempFolder folder;
    const std::string record = folder / "started.txt";
    start_program("cmd.exe /c echo started>\"" + record + "\"", WindowStyle::MinimizedWithFocus);
    // Whichever program is started leaves its file; none is a failure too.
    bool real_ran = false;
    for (int i = 0; i < 2000 && !real_ran && !planted.any_ran(); ++i) {
        ::Sleep(10);
        real_ran = std::filesystem::exists(as_path(record));
    }
    EXPECT_TRUE(real_ran);
    EXPECT_FALSE(planted.any_ran());
}

TEST(PlantedPrograms, ExplorerIsAskedForByItsPathInTheSystemsFolders) {
    std::vector<windows::ProgramStart> starts;
    const windows::ReplacedProcessStart recording(
        [&](const windows::ProgramStart& start) { starts.push_back(start); });
    show_in_file_manager("C:\\data\\a, b\\report.pdf");
    start_program("explorer http://kestrafin.example/", WindowStyle::MinimizedWithFocus);
    start_program("\"explorer.exe\" /e", WindowStyle::NormalWithFocus);
    ASSERT_EQ(starts.size(), 3u);
    const std::wstring program = starts[0].program;
    const std::wstring system32 = system_folder(::GetSystemDirectoryW);
    const std::wstring windows_folder = system_folder(::GetSystemWindowsDirectoryW);
    EXPECT_TRUE(program == system32 + L"\\explorer.exe" ||
                program == windows_folder + L"\\explorer.exe")
        << windows::utf8_from_wide(program);
    EXPECT_EQ(starts[0].command_line, L"\"" + program + L"\" /select,\"C:\\data\\a, b\\report.pdf\"");
    EXPECT_EQ(starts[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(starts[1].command_line, L"\"" + program + L"\" http://kestrafin.example/");
    EXPECT_EQ(starts[1].show, SW_SHOWMINIMIZED);
    EXPECT_EQ(starts[2].program, program);
    EXPECT_EQ(starts[2].command_line, L"\"" + program + L"\" /e");
}
