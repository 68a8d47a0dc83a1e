// Several roots in one run of kestrafin-scan, and the record's name and its
// life: placed whole, refused before the walk, closed when stopped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host.h"
#include "scan/sinks/record_output.h"
#include "scanner/root_runs.h"
#include "tests/scanner/scan_run.h"
#include "tests/support/silent_share.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin;
using namespace kestrafin::testing;

namespace {

// A root holding `files` files in a folder past the default rule.
std::string make_root(const std::string& path, int files) {
    make_folder(path);
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i) names.push_back("file" + std::to_string(i));
    make_folder_chain(path, {std::string(120, 'a'), std::string(100, 'b')}, names);
    return path;
}

std::vector<nlohmann::json> record_lines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(read_bytes(path));
    for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

TEST(RecordNames, NoRootMakesANameOutsideTheFolderGiven) {
    struct Case {
        const char* root;
        const char* name;
    };
    const Case cases[] = {
        {"..", "root"},
        {"/", "root"},
        {"/srv/share", "srv_share"},
        {"../../etc/passwd", "etc_passwd"},
        {"\\\\fs01\\hr\\", "fs01_hr"},
        {"C:\\", "C"},
        {"CON", "_CON"},
        {"nul.txt", "_nul.txt"},
        {"com1 ", "_com1"},
        {"LPT9.log", "_LPT9.log"},
        {"COM10", "COM10"},
        {"a\nb\x01"
         "c\x7f",
         "a_b_c"},
        {"\xff\xfe", "root"},
        {" . ", "root"},
        {"x<y>:\"|?*z", "x_y_z"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(scan::file_name_safe(test.root), test.name) << test.root;
        const std::string path =
            scan::expand_record_name("scans/{root}.jsonl", {"h", 0, {test.root}});
        EXPECT_EQ(path, std::string("scans/") + test.name + ".jsonl") << test.root;
    }
    EXPECT_EQ(scan::file_name_safe(std::string(300, 'n')).size(), 100u);
    EXPECT_EQ(scan::expand_record_name("{host}-{date}-{time}-{root}.jsonl",
                                       {"fs01/../x", 1765290896, {"/srv/a", "/srv/b", "/srv/c"}}),
              "fs01_.._x-2025-12-09-143456-srv_a+2.jsonl");
}

// Calls as a test sees them: one line each, in the order they came.
class Recorder : public scanner::RootOutputs, public scan::Sink {
  public:
    scan::Sink& sink() override { return *this; }
    void root_begins(std::size_t index) override {
        lines.push_back("begin " + std::to_string(index));
    }
    void root_ends(std::size_t index, const scan::ScanReport& report,
                   const scan::ScanSummary& summary) override {
        lines.push_back("end " + std::to_string(index) + " " + std::to_string(report.entries()) +
                        " " + std::to_string(summary.files_seen()));
    }
    void entry(const scan::Entry& entry) override { lines.push_back(std::string(entry.path)); }
    void folder_unreadable(const scan::Entry& folder, int) override {
        lines.push_back("unreadable " + std::string(folder.path));
    }
    std::vector<std::string> lines;
};

TEST(RootRuns, RootsOnOtherVolumesKeepTheirTurnThroughTheScratchFile) {
    TempFolder local;
    TempFolder memory("/dev/shm");
    const std::vector<std::string> roots = {make_root(local / "one", 30), memory / "missing",
                                            make_root(memory / "two", 40),
                                            make_root(local / "three", 20)};
    scan::ScanRequest request;
    request.threads = 4;
    scanner::RootRunOptions options;
    options.summaries = true;
    options.held_bytes = 1;  // every call waiting for its turn goes through the file
    std::vector<std::string> expected;
    for (std::size_t index = 0; index < roots.size(); ++index) {
        Recorder alone;
        scanner::run_roots(request, {roots[index]}, options, alone, nullptr);
        ASSERT_GE(alone.lines.size(), 2u);
        expected.push_back("begin " + std::to_string(index));
        expected.insert(expected.end(), alone.lines.begin() + 1, alone.lines.end() - 1);
        expected.push_back("end " + std::to_string(index) + alone.lines.back().substr(5));
    }
    EXPECT_NE(platform::volume_of(local.path()), platform::volume_of(memory.path()));
    Recorder together;
    scanner::run_roots(request, roots, options, together, nullptr);
    EXPECT_EQ(together.lines, expected);
    EXPECT_EQ(expected.back(), "end 3 20 20");
}

TEST(ScannerRoots, RootsComeInTheirOrderAndAMissingOneSpoilsOnlyTheStatus) {
    TempFolder tree;
    const std::string one = make_root(tree / "one", 2), two = make_root(tree / "two", 3);
    const std::string missing = tree / "missing";
    const ScanRun first = run_scanner({one}), second = run_scanner({two});
    const ScanRun all = run_scanner({one, missing, two});
    EXPECT_EQ(all.status, 2);
    EXPECT_EQ(all.out, first.out + second.out);
    EXPECT_EQ(all.err,
              "kestrafin-scan: cannot read '" + missing + "': No such file or directory\n");

    tools::make_file(tree / "roots.txt",
                     "# shares\n" + one + "\n\n  \n" + missing + "\r\n  # " + two + "\n" + two);
    const ScanRun listed = run_scanner({"--roots", tree / "roots.txt"});
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(listed.out, all.out);
    // The command line's roots first; the file's second two is walked once.
    EXPECT_EQ(run_scanner({two, "--roots", tree / "roots.txt"}).out, second.out + first.out);
    EXPECT_EQ(run_scanner({two, one}).status, 0);

    EXPECT_EQ(run_scanner({"--count", one, missing, two}).out,
              "2 records found in " + one + "\n0 records found in " + missing +
                  "\n3 records found in " + two + "\n5 records found\n");
    const std::string summary = run_scanner({"--count", "--summary", one, missing, two}).out;
    const std::size_t at_two = summary.find("root " + two + ":\n");
    const std::size_t at_all = summary.find(
        "all 3 roots:\nfolders read: 6\nfolders unreadable: 1\n"
        "files seen: 5\nentries listed: 5\n");
    EXPECT_NE(summary.find("root " + one + ":\nfolders read: 3\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("root " + missing + ":\nfolders read: 0\nfolders unreadable: 1\n"),
              std::string::npos);
    EXPECT_NE(at_two, std::string::npos);
    EXPECT_NE(at_all, std::string::npos);
    EXPECT_LT(at_two, at_all);

    tools::make_file(tree / "empty.txt", "# none yet\n\n");
    EXPECT_EQ(run_scanner({"--roots", tree / "empty.txt"}).status, 2);
    EXPECT_EQ(run_scanner({"--roots", tree / "absent.txt"}).status, 2);
}

TEST(ScannerRecord, ARecordThatCannotBeWrittenStopsTheScanBeforeItsWalk) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    const std::string root = make_root(tree / "root", 1);
    make_folder(root + "/closed");
    chmod((root + "/closed").c_str(), 0000);
    make_folder(tree / "kept");
    chmod((tree / "kept").c_str(), 0555);
    for (const std::string& record : {tree / "nowhere/scan.jsonl", tree / "kept/scan.jsonl"}) {
        const ScanRun run = run_scanner({"--record", record, root}, true);
        EXPECT_EQ(run.status, 2) << record;
        EXPECT_EQ(run.out, "");
        // A walk would have said it cannot read the closed folder.
        EXPECT_EQ(run.err.find("closed"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("cannot "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(record), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(record));
    }
    chmod((root + "/closed").c_str(), 0755);
}

#ifdef KESTRAFIN_LATENCY_FS
// Whether some thread of `process` waits for a FUSE server's answer.
bool waits_on_share(pid_t process) {
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/task", error)) {
        std::ifstream wchan(task.path() / "wchan");
        std::string where;
        wchan >> where;
        if (where == "request_wait_answer") return true;
    }
    return false;
}

TEST(ScannerRecord, AScanStoppedBySigtermLeavesAWholeRecordMarkedStopped) {
    ShareFolders folders;
    make_root(folders.source + "/one", 3);
    make_root(folders.source + "/two", 3);
    ShareServer server(folders.source, folders.share);
    if (!server.serving()) GTEST_SKIP() << server.why_not();
    TempFolder out;
    const std::string record = out / "scan.jsonl";
    // The walk waits on the share until the test lets it answer.
    server.stop_answering();
    const pid_t scanner = fork();
    if (scanner == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        execl(KESTRAFIN_SCAN, KESTRAFIN_SCAN, "--record", record.c_str(),
              (folders.share + "/one").c_str(), (folders.share + "/two").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // The first root's walk has begun once the scanner waits on the share.
    bool waiting = false;
    for (int tries = 0; !(waiting = waits_on_share(scanner)) && tries < 10000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!waiting) {
        server.answer_again();
        kill(scanner, SIGKILL);
        waitpid(scanner, nullptr, 0);
        GTEST_SKIP() << "the host does not tell where a thread waits (/proc/PID/task/*/wchan)";
    }
    kill(scanner, SIGTERM);
    server.answer_again();
    int status = 0;
    waitpid(scanner, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::vector<nlohmann::json> lines = record_lines(record);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front()["kind"], "scan");
    EXPECT_EQ(lines.back()["kind"], "end");
    EXPECT_EQ(lines.back()["stopped"], true);
    EXPECT_EQ(lines.back()["exit_status"], 1);
    // The second root lies on the same share, so it was never reached.
    EXPECT_EQ(lines[lines.size() - 2]["kind"], "root");
    for (const nlohmann::json& line : lines) {
        if (line.contains("root")) {
            EXPECT_EQ(line["root"], folders.share + "/one");
        }
        if (line["kind"] == "root") {
            EXPECT_EQ(line["end"], "stopped");
        }
    }
}
#endif

}  // namespace
