// kestrafin-scan as a user runs it: a real process over real trees.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "listfile/saved_list.h"
#include "search/path_text.h"
#include "tests/support/temp_tree.h"
#include "tools/tree_generator.h"

using namespace kestrafin::testing;

namespace {

struct ScanRun {
    std::string out;
    std::string err;
    int status = -1;
};

// Runs the scanner with `arguments`; as user "nobody" when `ordinary` is set
// and the tests run as root.
ScanRun scan(const std::vector<std::string>& arguments, bool ordinary = false) {
    TempFolder capture;
    const std::string out = capture / "out", err = capture / "err";
    const pid_t child = fork();
    if (child == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
        if (ordinary && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
        std::vector<char*> argv{const_cast<char*>(KESTRAFIN_SCAN)};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KESTRAFIN_SCAN, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {read_bytes(out), read_bytes(err), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::vector<std::string> split(const std::string& text, char end) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : text) {
        if (c == end) {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    EXPECT_TRUE(part.empty()) << "output ends with its terminator";
    return parts;
}

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
    for (const auto& path : split(all, '\0'))
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
    const ScanRun run = scan({"-q", tree.root});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto entries = split(run.out, '\n');
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
    const ScanRun all = scan({"-q", "--longer-than", "0", tree.root});
    EXPECT_EQ(all.status, 0);
    const auto everything = split(all.out, '\n');
    EXPECT_EQ(std::set<std::string>(everything.begin(), everything.end()), reference(tree.root, 0));

    const ScanRun normal = scan({"-q", tree.root});
    const std::size_t count = split(normal.out, '\n').size();
    const ScanRun counted = scan({"--count", tree.root});
    EXPECT_EQ(counted.out, std::to_string(count) + " records found\n");

    const std::string list = tree.folder / "server.dxb";
    const ScanRun listed = scan({"-q", "--list", list, tree.root});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(listed.out.empty());
    std::vector<std::string> from_list;
    kestrafin::listfile::load_list(list,
                                   [&](std::string_view text) { from_list.emplace_back(text); });
    EXPECT_EQ(from_list, split(normal.out, '\n'));

    const ScanRun help = scan({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kestrafin-scan"), std::string::npos);
    EXPECT_NE(help.out.find("-0"), std::string::npos);
    EXPECT_EQ(scan({"--version"}).out, "kestrafin-scan 1.0.0\n");
}

TEST(Scanner, NullTerminatedEntriesKeepNamesWithLineBreaksApart) {
    TempFolder tree;
    const std::string folder = make_folder_chain(tree.path(), {std::string(200, 'n')});
    make_file(folder + "/two\nlines");
    make_file(folder + "/plain");
    const ScanRun zero = scan({"-0", tree.path()});
    EXPECT_EQ(zero.status, 0);
    const auto entries = split(zero.out, '\0');
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()),
              (std::set<std::string>{folder + "/two\nlines", folder + "/plain"}));
    EXPECT_TRUE(zero.err.empty()) << zero.err;

    const ScanRun lines = scan({tree.path()});
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.out.size(), zero.out.size());
    std::size_t warnings = 0;
    for (std::size_t at = lines.err.find("line break"); at != std::string::npos;
         at = lines.err.find("line break", at + 1))
        ++warnings;
    EXPECT_EQ(warnings, 1u) << lines.err;
    EXPECT_TRUE(scan({"-q", tree.path()}).err.empty());
}

TEST(Scanner, ExitStatusTellsWhetherEveryFolderWasRead) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'x')}, {"file"});
    make_folder(top + "/closed");
    chmod((top + "/closed").c_str(), 0000);

    const ScanRun partly = scan({top}, true);
    EXPECT_EQ(partly.status, 1);
    EXPECT_EQ(partly.out, top + "/file\n");
    EXPECT_EQ(partly.err, "kestrafin-scan: cannot read '" + top + "/closed': Permission denied\n");

    chmod((top + "/closed").c_str(), 0755);
    const ScanRun clean = scan({top}, true);
    EXPECT_EQ(clean.status, 0);
    EXPECT_TRUE(clean.err.empty()) << "no progress line when standard error is no terminal";

    const ScanRun missing = scan({tree / "missing"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "kestrafin-scan: cannot read '" + tree / "missing" +
                               "': No such file or directory\n");
    EXPECT_EQ(scan({"--no-such-option"}).status, 2);
    EXPECT_EQ(scan({"--longer-than", "many", top}).status, 2);
    EXPECT_EQ(scan({top, top}).status, 2);
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
