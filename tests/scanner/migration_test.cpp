// kestrafin-scan before a move, as a user runs it on real trees: lengths at
// the destination, the presets, output for spreadsheets and scripts, and the
// summary.
#include <gtest/gtest.h>
#include <pty.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "search/path_text.h"
#include "tests/scanner/scan_run.h"
#include "tools/tree_generator.h"

using namespace kestrafin::testing;
using kestrafin::search::utf16_length;

namespace {

const std::string kE = "\xC3\xA9";       // é, one UTF-16 unit in two bytes
const std::string kU = "\xC3\xBC";       // ü
const std::string kUEscaped = "%C3%BC";  // ü in a URL

// Creates folders below the existing `base`, named with é, until the directory
// string of the last one has exactly `units` UTF-16 units; returns its path.
std::string folder_of_length(const std::string& base, std::size_t units) {
    std::size_t remaining = units - utf16_length(base);
    std::vector<std::string> names;
    while (remaining > 0) {
        std::size_t name_units = std::min<std::size_t>(remaining - 1, 100);
        if (remaining - 1 - name_units == 1) --name_units;  // no room left for a name
        std::string name;
        for (std::size_t i = 0; i < name_units; ++i) name += kE;
        names.push_back(name);
        remaining -= name_units + 1;
    }
    const std::string folder = make_folder_chain(base, names);
    EXPECT_EQ(utf16_length(folder), units);
    return folder;
}

std::string with_length(const std::string& folder, const std::string& name) {
    make_folder(folder + "/" + name);
    return folder + "/" + name;
}

// `path` below `root` as it is named at the destination.
std::string at_target(const std::string& prefix, char separator, const std::string& root,
                      const std::string& path) {
    std::string rest = path.substr(root.size() + 1);
    std::replace(rest.begin(), rest.end(), '/', separator);
    return prefix + separator + rest;
}

std::set<std::string> as_set(const std::vector<std::string>& entries) {
    return {entries.begin(), entries.end()};
}

// A prefix kind: builds a prefix whose counted part has `units` units.
struct PrefixKind {
    const char* name;
    std::string (*make)(std::size_t units);
    char separator;
};

std::string padded(std::string prefix, std::size_t counted, std::size_t units,
                   const std::string& pad) {
    for (; counted < units; ++counted) prefix += pad;
    return prefix;
}

const PrefixKind kPrefixKinds[] = {
    {"unc", [](std::size_t units) { return padded("\\\\srv\\share\\", 12, units, kU); }, '\\'},
    {"drive", [](std::size_t units) { return padded("D:\\\xC3\x84rchiv\\", 10, units, kU); }, '\\'},
    // Counted: "/sites/Team Site/" and one ü per escape.
    {"url",
     [](std::size_t units) {
         return padded("https://contoso.sharepoint.com/sites/Team%20Site/", 17, units, kUEscaped);
     },
     '/'},
    {"posix", [](std::size_t units) { return padded("/mnt/n" + kE + "u/", 9, units, kU); }, '/'},
};

void PrintTo(const PrefixKind& kind, std::ostream* out) {
    *out << kind.name;
}

class TargetPrefixBoundary : public ::testing::TestWithParam<PrefixKind> {};

}  // namespace

TEST_P(TargetPrefixBoundary, ListsAFolderByItsLengthAtTheDestination) {
    const PrefixKind& kind = GetParam();
    TempFolder temp;
    const std::string root = with_length(temp.path(), "src");
    const std::size_t root_units = utf16_length(root);
    const std::string near = folder_of_length(with_length(root, "a"), 190);
    const std::string over = folder_of_length(with_length(root, "b"), 205);
    const std::string name = "f" + kU + ".txt";
    make_file(near + "/" + name);
    make_file(over + "/" + name);
    make_file(root + "/top.txt");

    EXPECT_EQ(as_set(split_at(run_scanner({"-q", root}).out, '\n')),
              (std::set<std::string>{over + "/" + name}));
    // Counted part of the prefix: 10 or 11 units more than the root pushes the
    // 190-unit folder to 200 or 201; 5 or 4 fewer pulls the 205-unit one to 200 or 201.
    for (const std::size_t counted :
         {root_units + 10, root_units + 11, root_units - 5, root_units - 4}) {
        const std::string prefix = kind.make(counted);
        const ScanRun run = run_scanner({"-q", "--print-target", "--target-prefix", prefix, root});
        ASSERT_EQ(run.status, 0) << run.err;
        std::set<std::string> expected;
        for (const std::string& folder : {near, over})
            if (counted + utf16_length(folder) - root_units > 200)
                expected.insert(at_target(prefix, kind.separator, root, folder + "/" + name));
        EXPECT_EQ(as_set(split_at(run.out, '\n')), expected) << "prefix " << prefix;
    }

    const std::string prefix = kind.make(root_units + 11);
    const ScanRun csv = run_scanner({"-q", "--format", "csv", "--target-prefix", prefix, root});
    const std::string line = near + "/" + name + ",201,208," +
                             at_target(prefix, kind.separator, root, near + "/" + name) +
                             ",file,folder_length,\r\n";
    EXPECT_NE(csv.out.find("\r\n" + line), std::string::npos) << csv.out;
}

INSTANTIATE_TEST_SUITE_P(Prefixes, TargetPrefixBoundary, ::testing::ValuesIn(kPrefixKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MigrationScan, PresetsAndRulesListOnlyPastTheirLimits) {
    TempFolder temp;
    const std::string root = with_length(temp.path(), "w");
    const std::string folder247 = folder_of_length(with_length(root, "a"), 247);
    const std::string path259 = folder247 + "/" + std::string(11, 'n');
    const std::string path260 = folder247 + "/" + std::string(12, 'n');
    const std::string folder248 = folder_of_length(with_length(root, "b"), 248);
    const std::string folder300 = folder_of_length(with_length(root, "c"), 300);
    const std::string path400 = folder300 + "/" + std::string(99, 'n');
    const std::string path401 = folder300 + "/" + std::string(100, 'n');
    for (const auto& file : {path259, path260, folder248 + "/b", path400, path401, root + "/top"})
        make_file(file);
    ASSERT_EQ(utf16_length(path401), 401u);

    const auto listed = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "-q");
        arguments.push_back(root);
        const ScanRun run = run_scanner(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        return as_set(split_at(run.out, '\n'));
    };
    const std::set<std::string> in300{path400, path401};
    std::set<std::string> windows{path260, folder248 + "/b"};
    windows.insert(in300.begin(), in300.end());
    EXPECT_EQ(listed({"--limit", "windows"}), windows);
    EXPECT_EQ(listed({"--files-longer-than", "259", "--longer-than=247"}), windows);
    EXPECT_EQ(listed({"--limit=sharepoint"}), (std::set<std::string>{path401}));
    EXPECT_EQ(listed({"--check", "windows"}), windows);
    EXPECT_EQ(listed({"--check=sharepoint", "--check", "onedrive"}),
              (std::set<std::string>{path401}));
    EXPECT_EQ(listed({"--check", "sharepoint", "--longer-than", "247"}),
              (std::set<std::string>{folder248 + "/b", path400, path401}))
        << "a profile's rules join those given";
    EXPECT_EQ(listed({"--files-longer-than", "259"}),
              (std::set<std::string>{path260, path400, path401}))
        << "a file rule alone leaves the default folder rule out";
    std::set<std::string> defaults{path259, path260, folder248 + "/b"};
    defaults.insert(in300.begin(), in300.end());
    EXPECT_EQ(listed({}), defaults);

    // A URL counts from the path after the host, escapes decoded: one unit
    // more than the root pushes the 400-unit path over, one fewer pulls the
    // 401-unit path under.
    const std::size_t root_units = utf16_length(root);
    const auto url = kPrefixKinds[2].make;
    EXPECT_EQ(listed({"--limit", "sharepoint", "--target-prefix", url(root_units + 1)}), in300);
    EXPECT_EQ(listed({"--limit", "sharepoint", "--target-prefix", url(root_units - 1)}),
              std::set<std::string>{});
    EXPECT_EQ(listed({"--limit", "sharepoint", "--target-prefix", url(root_units)}),
              (std::set<std::string>{path401}));
}

TEST(MigrationScan, AnEmptyFolderIsOneRecordWhenItsOwnLengthIsRefused) {
    // Empty folders of 404 and 252 units, below folders short enough for every profile.
    TempFolder temp;
    const std::string root = with_length(temp.path(), "e");
    const std::string parent = with_length(root, std::string(200, 'p'));
    const std::string f404 = with_length(parent, std::string(403 - utf16_length(parent), 'q'));
    const std::string f252 = with_length(root, std::string(251 - utf16_length(root), 'r'));
    const std::string r404 = f404 + ",404,404,folder,", r252 = f252 + ",252,252,folder,";
    for (const auto& [profile, expected] : std::map<std::string, std::set<std::string>>{
             {"windows", {r404 + "path_length folder_length,\r", r252 + "folder_length,\r"}},
             {"sharepoint", {r404 + "path_length,\r"}},
             {"onedrive", {r404 + "path_length,\r"}}}) {
        const ScanRun run = run_scanner({"-q", "--format", "csv", "--check", profile, root});
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<std::string> records = split_at(run.out, '\n');
        EXPECT_EQ(std::set<std::string>(records.begin() + 1, records.end()), expected) << profile;
    }
}

TEST(MigrationScan, RefusesOptionsThatDoNotGoTogetherAndStatesEachPreset) {
    const std::vector<std::vector<std::string>> refused = {
        {"--limit", "mac"},
        {"--check", "onedrive-for-mac"},
        {"--format", "xml"},
        {"--format", "csv", "-0"},
        {"--format", "json", "--count"},
        {"--format", "csv", "--list", "/tmp/x.dxb"},
        {"--print-target"},
        {"--print-target", "--target-prefix", "D:\\", "--format", "json"},
        {"--target-prefix", ""},
        {"--files-longer-than", "-1"},
    };
    for (const auto& arguments : refused) {
        const ScanRun run = run_scanner(arguments);
        EXPECT_EQ(run.status, 2) << arguments.front() << " " << arguments.back();
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(run.err.starts_with("kestrafin-scan: ")) << run.err;
    }
    const std::string help = run_scanner({"--help"}).out;
    for (const char* stated :
         {"--limit windows", "longer than 259", "longer than 247", "--limit sharepoint",
          "longer than 400", "--check windows|sharepoint|onedrive", "--target-prefix",
          "--format lines|csv|json", "--summary"})
        EXPECT_NE(help.find(stated), std::string::npos) << stated;
}

namespace {

// A tree whose names are hard on CSV and JSON writers.
struct AwkwardTree {
    TempFolder temp;
    std::string root = temp / "awkward";
    std::string bad_name = "bad\xFF\xFE bytes";
    AwkwardTree() {
        make_folder(root);
        const std::string sub = root + "/sub, \"quoted\"";
        make_folder(sub);
        for (const std::string& folder : {root, sub})
            for (const std::string& name : std::vector<std::string>{
                     "quote\"d.txt", "com,ma.txt", "line\nbreak", "cr\r\nlf", "\xC3\xBCml" + kE,
                     bad_name, "=1+2", " lead space", "tab\there"})
                make_file(folder + "/" + name);
    }
};

bool has_python() {
    return command_output("python3 -c 'print(1)' 2>/dev/null").first == "1\n";
}

// Runs `script` with python3 on `data`; its output, one line per record,
// holds hexadecimal fields separated by blanks.
std::vector<std::vector<std::string>> python_records(const std::string& script,
                                                     const std::string& data) {
    TempFolder work;
    make_file(work / "read.py", script);
    make_file(work / "data", data);
    const auto [output, ok] = command_output("python3 " + work / "read.py" + " " + work / "data");
    EXPECT_TRUE(ok) << "python3 could not read the output:\n" << output;
    std::vector<std::vector<std::string>> records;
    for (const std::string& line : split_at(output, '\n')) {
        std::istringstream fields(line);
        std::vector<std::string> record;
        for (std::string field; fields >> field;) record.push_back(field);
        records.push_back(record);
    }
    return records;
}

std::string unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

constexpr char kUncPrefix[] = "\\\\srv\\d\xC3\xA9pt";

struct ExpectedLengths {
    std::size_t folder;
    std::size_t path;
};

ExpectedLengths lengths_at_target(const std::string& target) {
    return {utf16_length(target.substr(0, target.rfind('\\'))), utf16_length(target)};
}

}  // namespace

TEST(MigrationScan, CsvReadsBackWithPythonsCsvReader) {
    if (!has_python()) GTEST_SKIP() << "python3 is not installed, so no CSV reader to check with";
    AwkwardTree tree;
    const auto entries =
        split_at(run_scanner({"-q", "-0", "--longer-than", "0", tree.root}).out, '\0');
    ASSERT_EQ(entries.size(), 18u);
    const ScanRun run = run_scanner(
        {"-q", "--format", "csv", "--longer-than", "0", "--target-prefix", kUncPrefix, tree.root});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto records = python_records(R"(import csv, io, sys
data = open(sys.argv[1], 'rb').read()
assert data.startswith(b'\xef\xbb\xbf'), 'no byte order mark'
text = data.decode('utf-8-sig', 'surrogateescape')
for row in csv.reader(io.StringIO(text, newline=''), strict=True):
    print(' '.join(field.encode('utf-8', 'surrogateescape').hex() or '-' for field in row))
)",
                                        run.out);
    ASSERT_EQ(records.size(), entries.size() + 1);
    std::vector<std::string> header;
    for (const auto& field : records[0]) header.push_back(unhex(field));
    EXPECT_EQ(header, (std::vector<std::string>{"path", "folder_length", "path_length",
                                                "target_path", "kind", "reasons", "error"}));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& record = records[i + 1];
        ASSERT_EQ(record.size(), 7u);
        const std::string target = at_target(kUncPrefix, '\\', tree.root, entries[i]);
        EXPECT_EQ(unhex(record[0]), entries[i]);
        EXPECT_EQ(unhex(record[1]), std::to_string(lengths_at_target(target).folder));
        EXPECT_EQ(unhex(record[2]), std::to_string(lengths_at_target(target).path));
        EXPECT_EQ(unhex(record[3]), target);
        EXPECT_EQ(unhex(record[4]), "file");
        EXPECT_EQ(unhex(record[5]), "folder_length");
        EXPECT_EQ(record[6], "-") << "no error";
    }
}

TEST(MigrationScan, JsonReadsBackOneObjectPerLineAndKeepsEveryByte) {
    if (!has_python()) GTEST_SKIP() << "python3 is not installed, so no JSON parser to check with";
    AwkwardTree tree;
    const auto entries =
        split_at(run_scanner({"-q", "-0", "--longer-than", "0", tree.root}).out, '\0');
    const ScanRun run = run_scanner(
        {"-q", "--format", "json", "--longer-than", "0", "--target-prefix", kUncPrefix, tree.root});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto records = python_records(R"(import base64, json, sys
lines = open(sys.argv[1], 'rb').read().split(b'\n')
assert lines[-1] == b'', 'the last object ends its line'
for line in lines[:-1]:
    entry = json.loads(line)
    fields = []
    for key in ('path', 'target_path'):
        if key + '_base64' in entry:
            assert '\ufffd' in entry[key], 'a marked text shows its stray bytes'
            fields += [base64.b64decode(entry[key + '_base64'], validate=True).hex(), '1']
        else:
            fields += [entry[key].encode('utf-8').hex(), '0']
    known = {'path', 'path_base64', 'folder_length', 'path_length', 'target_path',
             'target_path_base64', 'kind', 'reasons'}
    assert set(entry) <= known, entry
    assert entry['kind'] == 'file' and entry['reasons'] == ['folder_length'], entry
    fields += [str(entry['folder_length']), str(entry['path_length'])]
    print(' '.join(fields))
)",
                                        run.out);
    ASSERT_EQ(records.size(), entries.size());
    std::size_t marked = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& record = records[i];
        ASSERT_EQ(record.size(), 6u);
        const std::string target = at_target(kUncPrefix, '\\', tree.root, entries[i]);
        const bool invalid = entries[i].ends_with(tree.bad_name);
        EXPECT_EQ(unhex(record[0]), entries[i]);
        EXPECT_EQ(record[1], invalid ? "1" : "0") << entries[i];
        EXPECT_EQ(unhex(record[2]), target);
        EXPECT_EQ(record[3], invalid ? "1" : "0");
        EXPECT_EQ(record[4], std::to_string(lengths_at_target(target).folder));
        EXPECT_EQ(record[5], std::to_string(lengths_at_target(target).path));
        marked += invalid;
    }
    EXPECT_EQ(marked, 2u);
}

namespace {

// Every file below `root` (find lists what is no folder) and the number of folders.
std::pair<std::vector<std::string>, std::size_t> files_and_folders(const std::string& root) {
    const auto files =
        split_at(command_output("find '" + root + "' ! -type d -print0").first, '\0');
    const auto folders =
        split_at(command_output("find '" + root + "' -type d -print0").first, '\0');
    return {files, folders.size()};
}

std::size_t figure(const std::string& summary, const std::string& label) {
    const std::size_t at = summary.find(label + ": ");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no figure '" << label << "' in\n" << summary;
        return 0;
    }
    return std::stoul(summary.substr(at + label.size() + 2));
}

std::size_t folder_units(const std::string& path) {
    return utf16_length(path.substr(0, path.rfind('/')));
}

}  // namespace

TEST(MigrationScan, SummaryFiguresMatchTheEntriesListed) {
    TempFolder temp;
    const std::string root = temp / "tree";
    make_folder(root);
    kestrafin::tools::generate_tree(root,
                                    {.seed = 11, .folders = 500, .files = 4000, .folder_links = 0});
    const ScanRun run = run_scanner({"-q", "-0", "--limit", "windows", "--summary", root});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto entries = split_at(run.out, '\0');
    const auto [files, folders] = files_and_folders(root);
    const std::string& summary = run.err;

    std::set<std::string> expected;
    std::size_t by_folder = 0, by_file = 0;
    for (const auto& file : files) {
        const bool folder_rule = folder_units(file) > 247, file_rule = utf16_length(file) > 259;
        if (folder_rule || file_rule) expected.insert(file);
    }
    for (const auto& entry : entries) {
        by_folder += folder_units(entry) > 247;
        by_file += utf16_length(entry) > 259;
    }
    EXPECT_EQ(as_set(entries), expected);
    ASSERT_GT(by_folder, 0u);
    ASSERT_GT(by_file, 0u);
    EXPECT_EQ(figure(summary, "folders read"), folders);
    EXPECT_EQ(figure(summary, "folders unreadable"), 0u);
    EXPECT_EQ(figure(summary, "files seen"), files.size());
    EXPECT_EQ(figure(summary, "entries listed"), entries.size());
    EXPECT_EQ(figure(summary, "entries whose folder path is longer than 247"), by_folder);
    EXPECT_EQ(figure(summary, "entries whose path is longer than 259"), by_file);

    // The ten longest of all files seen, longest first, then the histogram.
    std::vector<std::size_t> lengths;
    std::map<std::size_t, std::size_t> bands;
    for (const auto& file : files) {
        lengths.push_back(utf16_length(file));
        ++bands[(lengths.back() - 1) / 20];
    }
    std::sort(lengths.rbegin(), lengths.rend());
    std::istringstream lines(summary.substr(summary.find("longest paths of all files seen:\n")));
    std::string line;
    std::getline(lines, line);
    const std::set<std::string> all(files.begin(), files.end());
    for (std::size_t i = 0; i < 10; ++i) {
        ASSERT_TRUE(std::getline(lines, line));
        const std::size_t blank = line.find(' ', 2);
        const std::string path = line.substr(blank + 1);
        EXPECT_EQ(std::stoul(line.substr(2, blank - 2)), lengths[i]) << line;
        EXPECT_EQ(utf16_length(path), lengths[i]);
        EXPECT_TRUE(all.contains(path)) << path;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "path lengths of all files seen, in bands of 20:");
    std::size_t band = 0, counted = 0;
    for (; std::getline(lines, line); ++band) {
        std::istringstream fields(line);
        std::string range;
        std::size_t count = 0;
        fields >> range >> count;
        EXPECT_EQ(range, std::to_string(band * 20 + 1) + "-" + std::to_string(band * 20 + 20));
        EXPECT_EQ(count, bands.contains(band) ? bands[band] : 0) << range;
        counted += count;
    }
    EXPECT_EQ(band, bands.rbegin()->first + 1) << "the chart ends with the longest band";
    EXPECT_EQ(counted, files.size());

    const ScanRun counted_only = run_scanner({"--count", "--limit", "windows", "--summary", root});
    EXPECT_EQ(counted_only.out, summary) << "with --count the summary stands alone";
    EXPECT_TRUE(counted_only.err.empty()) << counted_only.err;
}

TEST(MigrationScan, SummaryDrawsBarsOnATerminalAndNoControlCharacters) {
    TempFolder temp;
    const std::string root = temp / "tree";
    make_folder(root);
    make_file(root + "/\033[31mred\033[0m");
    make_file(root + "/" + std::string(70, 'x'));
    int terminal = -1, device = -1;
    ASSERT_EQ(openpty(&terminal, &device, nullptr, nullptr, nullptr), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(terminal);
        dup2(device, STDOUT_FILENO);
        execl(KESTRAFIN_SCAN, KESTRAFIN_SCAN, "--count", "--summary", root.c_str(),
              static_cast<char*>(nullptr));
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
    EXPECT_EQ(screen.find('\033'), std::string::npos) << screen;
    EXPECT_NE(screen.find("/'$'\\033''[31mred'$'\\033''[0m'"), std::string::npos) << screen;
    // Both files share the longest band but one: one mark at least each.
    EXPECT_NE(screen.find("1 #"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("41-60          0 #"), std::string::npos) << "no mark for an empty band";
}
