// Programs start by their full path in the system's folders: a file of a
// system program's name in the program's folder or the current folder never
// runs. This test runs from a folder of its own, since it puts such files
// beside itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <vector>

#include "platform/process.h"
#include "platform/windows/process_start.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::platform;
using kestrafin::testing::as_path;
using kestrafin::testing::WindowsTempFolder;

TEST(PlantedPrograms, ACopyInTheProgramsOrTheCurrentFolderIsNeverStarted) {
    // cmd.exe stands for every system program, since it leaves a record when
    // it is the one started; Explorer would open a browser or a window.
    WindowsTempFolder current, records;
    std::vector<std::filesystem::path> planted;
    for (const std::string& folder : {program_folder(), current.path()}) {
        planted.push_back(as_path(program_file(folder, "cmd.exe")));
        std::filesystem::copy_file(
            as_path(program_file(program_folder(), "kestrafin_planted_program.exe")),
            planted.back(), std::filesystem::copy_options::overwrite_existing);
    }
    ASSERT_TRUE(::SetCurrentDirectoryW(as_path(current.path()).c_str()));
    const std::string record = records / "started.txt";
    windows::start_command_line("cmd.exe /c echo started>\"" + record + "\"", SW_SHOWMINIMIZED);
    // Whichever program runs leaves its file.
    const auto ran = [&](const std::filesystem::path& program) {
        return std::filesystem::exists(program.wstring() + L".ran");
    };
    bool real_ran = false, planted_ran = false;
    for (int i = 0; i < 2000 && !real_ran && !planted_ran; ++i) {
        ::Sleep(10);
        real_ran = std::filesystem::exists(as_path(record));
        planted_ran = ran(planted[0]) || ran(planted[1]);
    }
    EXPECT_TRUE(real_ran);
    EXPECT_FALSE(planted_ran);
    // Off the temporary folders, so that they can go.
    ::SetCurrentDirectoryW(as_path(program_folder()).c_str());
    for (const auto& copy : planted) std::filesystem::remove(copy);
    std::filesystem::remove(planted[0].wstring() + L".ran");
}

TEST(PlantedPrograms, ExplorerIsAskedForByItsPathInTheSystemsFolders) {
    std::vector<windows::ProgramStart> starts;
    const windows::ReplacedProcessStart recording(
        [&](const windows::ProgramStart& start) { starts.push_back(start); });
    show_in_file_manager("C:\\data\\a, b\\report.pdf");
    open_address("http://kestrafin.example/");
    ASSERT_EQ(starts.size(), 2u);
    const std::wstring program = starts[0].program;
    std::wstring system32(MAX_PATH, L'\0'), windows_folder(MAX_PATH, L'\0');
    system32.resize(::GetSystemDirectoryW(system32.data(), MAX_PATH));
    windows_folder.resize(::GetSystemWindowsDirectoryW(windows_folder.data(), MAX_PATH));
    EXPECT_TRUE(program == system32 + L"\\explorer.exe" ||
                program == windows_folder + L"\\explorer.exe");
    EXPECT_EQ(starts[0].command_line,
              L"\"" + program + L"\" /select,\"C:\\data\\a, b\\report.pdf\"");
    EXPECT_EQ(starts[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(starts[1].command_line, L"\"" + program + L"\" http://kestrafin.example/");
    EXPECT_EQ(starts[1].show, SW_SHOWMINIMIZED);
}
