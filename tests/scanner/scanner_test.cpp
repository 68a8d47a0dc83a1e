// kestrafin-scan as a user runs it: a real process over real trees.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "listfile/saved_list.h"
#include "search/path_text.h"
#include "tests/scanner/scan_run.h"
#include "tests/support/temp_tree.h"
#include "tools/tree_generator.h"

using namespace kestrafin::testing;

namespace {

// The reference: find -L lists every entry that is no folder; keep those whose
// folder path is longer than `longer_than` UTF-16 code units.
std::set<std::string> reference(const std::string& root, std::size_t longer_than = 200) {
    const std::string command = "find -L '" + root + "' ! -type d -print0 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string all;
    char block[65536];
    std::size_t got = 0;
    while ((got = fread(block, 1, sizeof block, pipe)) > 0) all.append(block, got);
    pclose(pipe);
    std::set<std::string> kept;
    for (const auto& path : split_at(all, '\0'))
        if (kestrafin::search::utf16_length(path.substr(0, path.rfind('/'))) > longer_than)
            kept.insert(path);
    return kept;
}

struct GeneratedTree {
    TempFolder folder;
    std::string root = folder / "tree";
    GeneratedTree() {
        make_folder(root);
        kestrafin::tools::generate_tree(
            root, {.seed = 7, .folders = 800, .files = 6000, .folder_links = 6});
    }
};

}  // namespace

TEST(Scanner, ListsExactlyWhatFindListsInTheWalksOrder) {
    GeneratedTree tree;
    const ScanRun run = run_scanner({"-q", tree.root});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto entries = split_at(run.out, '\n');
    const std::set<std::string> listed(entries.begin(), entries.end());
    EXPECT_EQ(listed, reference(tree.root));
    ASSERT_GT(entries.size(), 100u);
    EXPECT_EQ(entries.size(), listed.size()) << "no entry twice";

    // A folder's own files come first and its subtree is listed in one piece.
    std::map<std::string, std::pair<std::size_t, std::size_t>> span;  // folder -> first, last
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string folder = entries[i].substr(0, entries[i].rfind('/'));
        for (; folder.size() > tree.root.size(); folder = folder.substr(0, folder.rfind('/'))) {
            auto [it, fresh] = span.try_emplace(folder, i, i);
            if (!fresh) {
                EXPECT_EQ(it->second.second, i - 1) << "subtree of " << folder << " broken up";
                it->second.second = i;
            }
        }
    }
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const std::string folder = entries[i].substr(0, entries[i].rfind('/'));
        const std::string before = entries[i - 1].substr(0, entries[i - 1].rfind('/'));
        EXPECT_FALSE(before.size() > folder.size() && before.rfind(folder + "/", 0) == 0)
            << entries[i] << " comes after a file of its own subfolder";
    }
}

TEST(Scanner, OptionsChangeWhatIsListedAndHow) {
    GeneratedTree tree;
    const ScanRun all = run_scanner({"-q", "--longer-than", "0", tree.root});
    EXPECT_EQ(all.status, 0);
    const auto everything = split_at(all.out, '\n');
    EXPECT_EQ(std::set<std::string>(everything.begin(), everything.end()), reference(tree.root, 0));

    // A limit that sets no folder rule keeps the one given before it.
    EXPECT_EQ(run_scanner({"-q", "--longer-than", "0", "--limit", "sharepoint", tree.root}).out,
              all.out);

    const ScanRun normal = run_scanner({"-q", tree.root});
    const std::size_t count = split_at(normal.out, '\n').size();
    const ScanRun counted = run_scanner({"--count", tree.root});
    EXPECT_EQ(counted.out, std::to_string(count) + " records found\n");

    const std::string list = tree.folder / "server.dxb";
    const ScanRun listed = run_scanner({"-q", "--list", list, tree.root});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(listed.out.empty());
    std::vector<std::string> from_list;
    kestrafin::listfile::load_list(list,
                                   [&](std::string_view text) { from_list.emplace_back(text); });
    EXPECT_EQ(from_list, split_at(normal.out, '\n'));
    // The count goes to the output while the entries go to the list.
    const ScanRun counted_to_list = run_scanner({"-q", "--count", "--list", list, tree.root});
    EXPECT_EQ(counted_to_list.out, std::to_string(count) + " records found\n");

    const ScanRun help = run_scanner({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kestrafin-scan"), std::string::npos);
    EXPECT_NE(help.out.find("-0"), std::string::npos);
    EXPECT_EQ(run_scanner({"--version"}).out, "kestrafin-scan 1.0.0\n");
}

TEST(Scanner, NullTerminatedEntriesKeepNamesWithLineBreaksApart) {
    TempFolder tree;
    const std::string folder = make_folder_chain(tree.path(), {std::string(200, 'n')});
    make_file(folder + "/two\nlines");
    make_file(folder + "/plain");
    const ScanRun zero = run_scanner({"-0", tree.path()});
    EXPECT_EQ(zero.status, 0);
    const auto entries = split_at(zero.out, '\0');
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()),
              (std::set<std::string>{folder + "/two\nlines", folder + "/plain"}));
    EXPECT_TRUE(zero.err.empty()) << zero.err;

    const ScanRun lines = run_scanner({tree.path()});
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.out.size(), zero.out.size());
    std::size_t warnings = 0;
    for (std::size_t at = lines.err.find("line break"); at != std::string::npos;
         at = lines.err.find("line break", at + 1))
        ++warnings;
    EXPECT_EQ(warnings, 1u) << lines.err;
    EXPECT_TRUE(run_scanner({"-q", tree.path()}).err.empty());
}

TEST(Scanner, ExitStatusTellsWhetherEveryFolderWasRead) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'x')}, {"file"});
    make_folder(top + "/closed");
    chmod((top + "/closed").c_str(), 0000);

    const ScanRun partly = run_scanner({top}, true);
    EXPECT_EQ(partly.status, 1);
    EXPECT_EQ(partly.out, top + "/file\n");
    EXPECT_EQ(partly.err, "kestrafin-scan: cannot read '" + top + "/closed': Permission denied\n");

    chmod((top + "/closed").c_str(), 0755);
    const ScanRun clean = run_scanner({top}, true);
    EXPECT_EQ(clean.status, 0);
    EXPECT_TRUE(clean.err.empty()) << "no progress line when standard error is no terminal";

    const ScanRun missing = run_scanner({tree / "missing"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "kestrafin-scan: cannot read '" + tree / "missing" +
                               "': No such file or directory\n");
    EXPECT_EQ(run_scanner({"--no-such-option"}).status, 2);
    EXPECT_EQ(run_scanner({"--longer-than", "many", top}).status, 2);
}

TEST(Scanner, EveryOutputThatCannotBeWrittenEndsWithStatusTwoAndTheReason) {
    TempFolder tree;
    make_folder_chain(tree.path(), {std::string(210, 'x')}, {"file"});
    const std::string scan = std::string("'") + KESTRAFIN_SCAN + "' ";
    const std::string root = " '" + tree.path() + "'";
    // Standard output goes to the full device; standard error is read.
    for (const std::string& arguments :
         {std::string("--help"), std::string("--version"), "-q" + root, "--count" + root,
          "-q --format csv" + root, "-q --format json --files-longer-than 0" + root,
          "--count --summary" + root}) {
        const auto [said, ran] =
            command_output(scan + arguments + " 2>&1 >/dev/full; echo \" status $?\"");
        EXPECT_TRUE(said.starts_with("kestrafin-scan: cannot write the output: ")) << said;
        EXPECT_TRUE(said.ends_with("No space left on device\n status 2\n")) << arguments << said;
    }
    const auto [said, ran] =
        command_output(scan + "-q --summary" + root + " >/dev/null 2>/dev/full; echo $?");
    EXPECT_EQ(said, "2\n") << "the summary on standard error";
    const auto [closed, ran_closed] = command_output(scan + "-q" + root + " 2>&1 >&-; echo $?");
    EXPECT_EQ(closed, "kestrafin-scan: cannot write the output: Bad file descriptor\n2\n");
}

TEST(Scanner, ExcludedFoldersAreNotReadAndVerboseNamesWhatWasLeftOut) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    make_folder_chain(tree.path(), {"app"}, {"main.c", "core.tmp"});
    make_folder_chain(tree.path(), {"app", "node_modules"});
    make_folder_chain(tree.path(), {"app", "build"});
    chmod((tree / "app/node_modules").c_str(), 0000);
    chmod((tree / "app/build").c_str(), 0000);

    const ScanRun run = run_scanner({"-v", "--longer-than", "0", "--exclude", "node_modules",
                                     "--exclude=*.tmp", "--exclude", "/app/build", tree.path()},
                                    true);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, tree / "app/main.c" + "\n");
    for (const std::string& said :
         {"kestrafin-scan: not entering '" + tree / "app/node_modules" + "': it is excluded\n",
          "kestrafin-scan: not entering '" + tree / "app/build" + "': it is excluded\n",
          "kestrafin-scan: leaving out '" + tree / "app/core.tmp" + "': it is excluded\n"})
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_EQ(run_scanner({"--exclude", "/", tree.path()}).status, 2);
}

TEST(Scanner, ShowsAProgressLineOnATerminalAndClearsIt) {
    TempFolder tree;
    const std::string root = tree / "tree";
    make_folder(root);
    kestrafin::tools::generate_tree(root,
                                    {.seed = 3, .folders = 300, .files = 1000, .folder_links = 0});
    int terminal = -1, device = -1;
    ASSERT_EQ(openpty(&terminal, &device, nullptr, nullptr, nullptr), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(terminal);
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        dup2(device, STDERR_FILENO);
        execl(KESTRAFIN_SCAN, KESTRAFIN_SCAN, root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(device);
    std::string screen;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(terminal, block, sizeof block)) > 0) screen.append(block, got);
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(screen.find(" folders read, "), std::string::npos) << screen;
    EXPECT_NE(screen.find(" listed, " + root), std::string::npos) << screen;
    EXPECT_TRUE(screen.ends_with("\r\033[K")) << "the line is cleared at the end";
    EXPECT_EQ(screen.find('\n'), std::string::npos) << "one line, redrawn in place";
}

namespace {

// Runs the scanner with standard output and standard error on one
// pseudo-terminal, as "nobody" when `ordinary` is set, and returns the screen.
std::string scan_on_terminal(const std::vector<std::string>& arguments, bool ordinary = false) {
    int terminal = -1, device = -1;
    if (openpty(&terminal, &device, nullptr, nullptr, nullptr) != 0) return "(no terminal)";
    const char* scanner = scanner_to_run(ordinary);
    const pid_t child = fork();
    if (child == 0) {
        close(terminal);
        dup2(device, STDOUT_FILENO);
        dup2(device, STDERR_FILENO);
        become_ordinary_child(ordinary);
        std::vector<char*> argv{const_cast<char*>(scanner)};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(scanner, argv.data());
        _exit(127);
    }
    close(device);
    std::string screen;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(terminal, block, sizeof block)) > 0) screen.append(block, got);
    close(terminal);
    waitpid(child, nullptr, 0);
    return screen;
}

// The screen without the progress line's own redraws and the terminal's CR LF.
std::string without_own_controls(std::string screen) {
    for (const std::string own : {"\r\033[K", "\r\n"}) {
        for (std::size_t at = screen.find(own); at != std::string::npos; at = screen.find(own))
            screen.replace(at, own.size(), own == "\r\n" ? "\n" : "");
    }
    return screen;
}

std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(Scanner, NamesWithEscapeSequencesReachATerminalOnlyEscaped) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    const std::string evil = "evil\033]2;PWNED\a\033[2J";
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'x'), evil}, {evil});
    make_folder(top + "/" + evil + "-closed");
    chmod((top + "/" + evil + "-closed").c_str(), 0000);
    // Inside the quotes of a whole path, the name's controls stand in $'...'.
    const std::string shown_evil = "evil'$'\\033'']2;PWNED'$'\\a\\033''[2J";
    const std::string shown_top =
        "'" + tree.path() + "/" + std::string(200, 'x') + "/" + shown_evil;

    const std::string screen = without_own_controls(scan_on_terminal({top}, true));
    for (const char control : {'\033', '\a'})
        EXPECT_EQ(screen.find(control), std::string::npos) << "raw control on the terminal";
    EXPECT_NE(screen.find(shown_top + "/" + shown_evil + "'\n"), std::string::npos)
        << "the entry, escaped: " << screen;
    EXPECT_NE(screen.find("kestrafin-scan: cannot read " + shown_top + "/" + shown_evil +
                          "-closed': Permission denied"),
              std::string::npos)
        << "the diagnostic, escaped: " << screen;

    for (const std::string format : {"csv", "json"}) {
        const std::string records =
            without_own_controls(scan_on_terminal({"-q", "--format", format, top}));
        for (const char control : {'\033', '\a'})
            EXPECT_EQ(records.find(control), std::string::npos) << format << ": " << records;
        EXPECT_NE(records.find("2;PWNED"), std::string::npos) << format << ": " << records;
    }

    // Anywhere but a terminal the bytes stay exact.
    const ScanRun piped = run_scanner({"-q", top});
    EXPECT_EQ(piped.out, top + "/" + evil + "\n");
    EXPECT_NE(run_scanner({"-q", "--format", "csv", top}).out.find(evil), std::string::npos);
    const ScanRun zero = run_scanner({"-q", "-0", top});
    EXPECT_EQ(zero.out, top + "/" + evil + std::string(1, '\0'));
    const std::string list = tree / "list.dxb";
    EXPECT_EQ(run_scanner({"-q", "--list", list, top}).status, 0);
    EXPECT_EQ(read_bytes(list), "\"" + top + "/" + evil + "\"\r\n");
    chmod((top + "/" + evil + "-closed").c_str(), 0755);
}

TEST(Scanner, ALineBreakInANameIsEscapedOnATerminalWithoutAWarning) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'x')}, {"two\nlines"});
    const std::string screen = without_own_controls(scan_on_terminal({top}));
    EXPECT_NE(screen.find("/two'$'\\n''lines'\n"), std::string::npos) << screen;
    // The warning is for output a program reads line by line; here the entry
    // stays on one line.
    EXPECT_EQ(screen.find("line break"), std::string::npos) << screen;
    EXPECT_NE(run_scanner({top}).err.find("a name holds a line break"), std::string::npos);
}

TEST(Scanner, AnInterruptedListLeavesTheFolderAsItWas) {
    GeneratedTree tree;
    const std::string lists = tree.folder / "lists";
    make_folder(lists);
    const std::string list = lists + "/server.dxb";
    make_file(list, "\"/old entry\"\r\n");
    for (const int signal_number : {SIGINT, SIGTERM, SIGKILL}) {
        const pid_t child = fork();
        if (child == 0) {
            if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
                _exit(126);
            execl(KESTRAFIN_SCAN, KESTRAFIN_SCAN, "--longer-than", "0", "--list", list.c_str(),
                  tree.root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the new list is open in the scanner, then interrupt it.
        const std::string descriptors = "/proc/" + std::to_string(child) + "/fd";
        bool list_open = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!list_open && std::chrono::steady_clock::now() < give_up) {
            std::error_code ignored;
            for (const auto& entry : std::filesystem::directory_iterator(descriptors, ignored)) {
                std::error_code unreadable;
                const auto target = std::filesystem::read_symlink(entry.path(), unreadable);
                if (!unreadable && target.string().rfind(lists + "/", 0) == 0) list_open = true;
            }
        }
        kill(child, signal_number);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(list_open) << "the scanner was interrupted while writing its list";
        ASSERT_TRUE(WIFSIGNALED(status)) << "the scan ended before the signal; use a larger tree";
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_EQ(names_in(lists), std::set<std::string>{"server.dxb"});
        EXPECT_EQ(read_bytes(list), "\"/old entry\"\r\n");
    }
}

TEST(Scanner, WarningsNeverLandInTheListWhenStartedWithoutStandardStreams) {
    // Started with standard output and error closed, the list file would get
    // descriptor 2, and every warning would be written into the list.
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {"top", "a"}, {"file"});
    make_link("..", top + "/back");
    const std::string list = tree / "list.dxb";
    const pid_t child = fork();
    if (child == 0) {
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        execl(KESTRAFIN_SCAN, KESTRAFIN_SCAN, "-v", "--longer-than", "0", "--list", list.c_str(),
              (tree / "top").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_bytes(list), "\"" + top + "/file\"\r\n");
}

TEST(Scanner, ListsOnlyIntoRegularFilesAndKeepsLinks) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'l')}, {"file"});
    const std::string fifo = tree / "fifo.dxb", real = tree / "real.dxb", link = tree / "link.dxb";
    check(mkfifo(fifo.c_str(), 0666) == 0, "mkfifo");
    const ScanRun into_fifo = run_scanner({"--list", fifo, top});
    EXPECT_EQ(into_fifo.status, 2);
    EXPECT_NE(into_fifo.err.find("it is a FIFO, not a regular file"), std::string::npos)
        << into_fifo.err;
    const ScanRun into_device = run_scanner({"--list", "/dev/null", top});
    EXPECT_EQ(into_device.status, 2);
    EXPECT_NE(into_device.err.find("it is a device, not a regular file"), std::string::npos);

    make_file(real, "old");
    make_link("real.dxb", link);
    EXPECT_EQ(run_scanner({"--list", link, top}).status, 0);
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read_bytes(real), "\"" + top + "/file\"\r\n");
}

TEST(Scanner, SaysWithVerboseWhichFoldersItDidNotEnterAndWhy) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'v')}, {"file"});
    make_folder_chain(top, {"shared"}, {"inside"});
    make_folder_chain(top, {"links"});
    make_link("..", top + "/links/back");
    make_link("../shared", top + "/links/first");
    make_folder_chain(top, {"more"});
    make_link("../shared", top + "/more/second");
    if (access("/proc/self", F_OK) == 0) make_link("/proc", top + "/more/proc");

    const ScanRun quiet = run_scanner({top});
    EXPECT_EQ(quiet.status, 0);
    const std::string counted =
        "kestrafin-scan: 2 folders not entered: 1 leading back into the walk, 1 already walked "
        "through a link";
    EXPECT_EQ(quiet.err, counted + "; -v names them\n");

    const ScanRun verbose = run_scanner({"-v", top});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, quiet.out);
    // Of the two links to "shared", the one the walk meets first is walked.
    const auto listed = split_at(verbose.out, '\n');
    ASSERT_EQ(listed.size(), 3u) << verbose.out;
    const bool first_walked = std::count(listed.begin(), listed.end(), top + "/links/first/inside");
    const std::string walked = top + (first_walked ? "/links/first" : "/more/second");
    const std::string skipped = top + (first_walked ? "/more/second" : "/links/first");
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              (std::set<std::string>{top + "/file", top + "/shared/inside", walked + "/inside"}));
    std::set<std::string> said;
    for (const auto& line : split_at(verbose.err, '\n')) said.insert(line);
    std::set<std::string> expected{
        counted,
        "kestrafin-scan: not entering '" + top +
            "/links/back': it leads back to a folder that is being walked",
        "kestrafin-scan: not entering '" + skipped +
            "': its folder was already walked through a link"};
    if (access("/proc/self", F_OK) == 0)
        expected.insert("kestrafin-scan: not entering '" + top +
                        "/more/proc': it lies on a kernel file system, which holds no user files");
    EXPECT_EQ(said, expected);
}

TEST(Scanner, NamesTheLinksAndVolumesItsOptionsLeaveUnentered) {
    TempFolder tree;
    TempFolder elsewhere("/dev/shm");
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(stat(tree.path().c_str(), &here), 0);
    ASSERT_EQ(stat(elsewhere.path().c_str(), &there), 0);
    if (here.st_dev == there.st_dev) GTEST_SKIP() << "/dev/shm is on the volume of " << tree.path();
    const std::string top = make_folder_chain(tree.path(), {"a"}, {"f"});
    make_link(top, tree / "l");
    make_link(elsewhere.path(), tree / "shm");
    const std::string declined = "kestrafin-scan: not entering '" + tree.path();
    const struct {
        std::vector<std::string> options;
        std::set<std::string> said;
    } cases[] = {
        {{"--no-follow"},
         {declined + "/l': it is a link, and --no-follow is given",
          declined + "/shm': it is a link, and --no-follow is given",
          "kestrafin-scan: 2 folders not entered: 2 links not followed"}},
        {{"-x"},
         {declined + "/shm': it lies on another volume, and --one-file-system is given",
          "kestrafin-scan: 1 folder not entered: 1 on another volume"}},
    };
    for (const auto& scan : cases) {
        std::vector<std::string> arguments = scan.options;
        arguments.insert(arguments.end(), {"-v", "--longer-than", "0", tree.path()});
        const ScanRun run = run_scanner(arguments);
        EXPECT_EQ(run.status, 0) << scan.options.front();
        const auto said = split_at(run.err, '\n');
        EXPECT_EQ(std::set<std::string>(said.begin(), said.end()), scan.said)
            << scan.options.front();
    }
}

TEST(Scanner, AFolderLeftUnenteredIsCheckedByItsNameAsAnyOther) {
    TempFolder tree;
    make_folder_chain(tree.path(), {"a"}, {"f"});
    make_link(tree / "a", tree / "bad?");
    const ScanRun run = run_scanner({"-q", "--no-follow", "--check", "windows", tree.path()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, tree / "bad?" + "\n");
}

TEST(Scanner, EveryThreadCountWritesTheSameBytesAndABadCountIsAUsageError) {
    GeneratedTree tree;
    const ScanRun one = run_scanner({"-q", "-j1", "--longer-than", "100", tree.root});
    EXPECT_EQ(one.status, 0);
    EXPECT_GT(split_at(one.out, '\n').size(), 100u);
    for (const std::vector<std::string>& threads :
         {std::vector<std::string>{"-j2"}, {"-j", "8"}, {"--threads", "64"}, {"--threads=3"}, {}}) {
        std::vector<std::string> arguments = threads;
        arguments.insert(arguments.end(), {"-q", "--longer-than", "100", tree.root});
        const ScanRun run = run_scanner(arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out == one.out) << (threads.empty() ? "default" : threads.front());
    }
    for (const std::string bad : {"-j0", "-jx", "--threads=1025", "--threads="}) {
        const ScanRun run = run_scanner({bad, tree.root});
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("--threads takes"), std::string::npos) << bad << ": " << run.err;
    }
    for (const std::string option : {"--threads", "--longer-than", "--files-longer-than"}) {
        const ScanRun run = run_scanner({option + "=18446744073709551616", tree.root});
        EXPECT_EQ(run.status, 2) << option;
        EXPECT_NE(run.err.find(option + ": the number '18446744073709551616' is too large"),
                  std::string::npos)
            << run.err;
    }
}
