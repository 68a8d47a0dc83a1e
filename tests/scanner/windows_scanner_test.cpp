// kestrafin-scan.exe run as Windows runs it: arguments on the wide command
// line, standard output and error into pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "listfile/saved_list.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/windows/privileges.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::testing;

namespace {

struct ScanResult {
    DWORD exit_code = 0;
    std::string output;
    std::string errors;
};

// Reads a pipe to its end on a thread of its own, so that neither pipe fills.
std::thread drain(HANDLE pipe, std::string& into) {
    return std::thread([pipe, &into] {
        char block[4096];
        DWORD got = 0;
        while (::ReadFile(pipe, block, sizeof block, &got, nullptr) && got > 0)
            into.append(block, got);
        ::CloseHandle(pipe);
    });
}

// Runs the scanner with `arguments` (UTF-8, each quoted on the command line).
ScanResult scan(const std::vector<std::string>& arguments) {
    // The build puts the tests and the scanner in sibling folders.
    const std::string scanner =
        kestrafin::platform::program_folder() + "\\..\\scanner\\kestrafin-scan.exe";
    std::string line = "\"" + scanner + "\"";
    for (const auto& argument : arguments) line += " \"" + argument + "\"";
    std::u16string wide_line = kestrafin::platform::utf16_from_utf8(line);
    std::wstring command(wide_line.begin(), wide_line.end());

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output_read, output_write, errors_read, errors_write;
    EXPECT_TRUE(::CreatePipe(&output_read, &output_write, &inherit, 0));
    EXPECT_TRUE(::CreatePipe(&errors_read, &errors_write, &inherit, 0));
    ::SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errors_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output_write;
    startup.hStdError = errors_write;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(output_write);
    ::CloseHandle(errors_write);
    ScanResult run;
    std::thread output = drain(output_read, run.output);
    std::thread errors = drain(errors_read, run.errors);
    if (started) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &run.exit_code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    output.join();
    errors.join();
    EXPECT_TRUE(started) << "cannot start " << line;
    return run;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the output ends within a line";
    return lines;
}

// A tree under a root whose name is not ASCII, with one folder past 200 units.
struct Tree {
    WindowsTempFolder temp;
    std::string root = temp / "r\xC3\xA9sum\xC3\xA9-\xE4\xB8\xAD";
    std::vector<std::string> expected;

    Tree() {
        make_windows_folder(root);
        std::string folder = root;
        for (int level = 0; level < 5; ++level) {
            folder += "\\" + std::string(45, 'a' + level) + "\xC3\xA9";
            make_windows_folder(folder);
            make_windows_file(folder + "\\f\xE2\x82\xAC" + std::to_string(level) + ".txt");
            if (kestrafin::platform::utf16_from_utf8(folder).size() > 200)
                expected.push_back(folder + "\\f\xE2\x82\xAC" + std::to_string(level) + ".txt");
        }
    }
};

}  // namespace

TEST(WindowsScanner, ListsTheTreeOfAWideRootAsUtf8Lines) {
    Tree tree;
    ASSERT_FALSE(tree.expected.empty());
    const ScanResult run = scan({tree.root});
    EXPECT_EQ(run.exit_code, 0u) << run.errors;
    // Bytes in a pipe: UTF-8 and bare line feeds, no carriage returns.
    EXPECT_EQ(run.output.find('\r'), std::string::npos);
    EXPECT_EQ(lines_of(run.output), tree.expected);

    const ScanResult counted = scan({"--count", tree.root});
    EXPECT_EQ(counted.output, std::to_string(tree.expected.size()) + " records found\n");
}

TEST(WindowsScanner, WritesTheSavedListThatTheListReaderReads) {
    Tree tree;
    const std::string list = tree.temp / "list \xE2\x82\xAC.dxb";
    const ScanResult run = scan({"--list", list, tree.root});
    EXPECT_EQ(run.exit_code, 0u) << run.errors;
    EXPECT_TRUE(run.output.empty());
    std::vector<std::string> loaded;
    kestrafin::listfile::load_list(list, [&](std::string_view text) { loaded.emplace_back(text); });
    EXPECT_EQ(loaded, tree.expected);
}

TEST(WindowsScanner, AMissingRootEndsWithStatusTwoAndNamesTheRoot) {
    WindowsTempFolder temp;
    const std::string missing = temp / "n\xC3\xB6ne";
    const ScanResult run = scan({missing});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_TRUE(run.output.empty());
    EXPECT_NE(run.errors.find("'" + missing + "'"), std::string::npos) << run.errors;
}

TEST(WindowsScanner, LengthsLeaveTheLongPathPrefixOut) {
    // A folder of 245 units holding files of 254 to 261: the last two are past MAX_PATH.
    WindowsTempFolder temp;
    const std::string root = temp / "r";
    make_windows_folder(root);
    const std::string folder =
        root + "\\" + std::string(244 - kestrafin::platform::utf16_from_utf8(root).size(), 'd');
    make_windows_folder(folder);
    for (std::size_t name = 8; name <= 15; ++name)
        make_windows_file(folder + "\\" + std::string(name, 'f'));
    for (const std::string prefix : {"", "\\\\?\\"}) {
        const ScanResult run = scan({"-q", "--limit", "windows", prefix + root});
        EXPECT_EQ(run.exit_code, 0u) << run.errors;
        std::vector<std::string> listed = lines_of(run.output);
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, (std::vector<std::string>{prefix + folder + "\\" + std::string(14, 'f'),
                                                    prefix + folder + "\\" + std::string(15, 'f')}))
            << "root " << prefix + root;
    }
}

TEST(WindowsScanner, SaysWhenItReadsWithBackupRights) {
    // Wine's token may hold the privilege or not; the scanner says so exactly
    // when this process can turn it on.
    const bool held =
        kestrafin::platform::windows::EnabledPrivilege(L"SeBackupPrivilege").enabled();
    Tree tree;
    for (const char* option : {"-v", "--summary"}) {
        const ScanResult run = scan({option, tree.root});
        EXPECT_EQ(run.exit_code, 0u) << run.errors;
        EXPECT_EQ(run.errors.find("with backup rights") != std::string::npos, held)
            << option << ":\n"
            << run.errors;
    }
    const ScanResult plain = scan({tree.root});
    EXPECT_EQ(plain.errors, "");
}

TEST(WindowsScanner, WritesARecordOfSeveralRootsWithTheHostAndTheAccount) {
    Tree tree;
    const std::string missing = tree.temp / "n\xC3\xB6ne";
    const ScanResult run =
        scan({"-q", "--record", tree.temp / "{host}-{root}.jsonl", tree.root, missing});
    EXPECT_EQ(run.exit_code, 2u) << run.errors;
    std::string record_name;
    for (const auto& item : std::filesystem::directory_iterator(as_path(tree.temp.path())))
        if (item.path().extension() == ".jsonl") record_name = item.path().filename().string();
    EXPECT_TRUE(record_name.ends_with("+1.jsonl")) << record_name;
    std::ifstream file(as_path(tree.temp / record_name), std::ios::binary);
    const std::vector<std::string> lines =
        lines_of({std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
    ASSERT_EQ(lines.size(), tree.expected.size() + 5);
    const auto kind_of = [](const std::string& line) {
        return line.substr(9, line.find('"', 9) - 9);
    };
    EXPECT_EQ(kind_of(lines.front()), "scan");
    EXPECT_EQ(lines.front().find("\"host\":\"\""), std::string::npos) << lines.front();
    EXPECT_EQ(lines.front().find("\"user\":\"\""), std::string::npos) << lines.front();
    for (std::size_t at = 1; at <= tree.expected.size(); ++at) {
        EXPECT_EQ(kind_of(lines[at]), "file");
        // Below the root, with the host's separator, escaped as JSON does.
        EXPECT_NE(lines[at].find("\"relative_path\":\"" + std::string(45, 'a') + "\xC3\xA9\\\\"),
                  std::string::npos)
            << lines[at];
    }
    const std::size_t end = lines.size() - 1;
    EXPECT_EQ(kind_of(lines[end - 3]), "root");
    EXPECT_NE(lines[end - 3].find("\"end\":\"complete\""), std::string::npos);
    EXPECT_EQ(kind_of(lines[end - 2]), "error");
    EXPECT_NE(lines[end - 1].find("\"end\":\"not_walked\",\"exit_status\":2"), std::string::npos)
        << lines[end - 1];
    EXPECT_NE(
        lines[end].find("\"stopped\":false,\"entries\":" + std::to_string(tree.expected.size()) +
                        ",\"unreadable\":1,\"exit_status\":2}"),
        std::string::npos)
        << lines[end];
}
