// The record reader against records cut short, edited and hostile: each is
// refused naming the line at fault, and a sound one is handed on exactly.
#include "scan/record/record_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "tests/scan/record_lines.h"

using namespace kestrafin::scan::record;
using kestrafin::tests::TestRecord;

namespace {

struct Kept : RecordVisitor {
    std::vector<std::string> relative_paths;
    std::vector<std::uint32_t> reasons;
    std::vector<RootLine> roots;
    std::size_t ends = 0;
    void entry(const EntryLine& line) override {
        relative_paths.emplace_back(line.relative_path);
        reasons.push_back(line.reasons);
    }
    void root(const RootLine& line) override { roots.push_back(line); }
    void end(const EndLine& /*line*/) override { ++ends; }
};

// `text` in pieces of at most `piece` bytes.
ReadSome reading(const std::string& text, std::size_t piece = std::size_t(-1)) {
    return [&text, piece, at = std::size_t{0}](char* into, std::size_t size) mutable {
        const std::size_t got = std::min({size, piece, text.size() - at});
        std::memcpy(into, text.data() + at, got);
        at += got;
        return got;
    };
}

// A record of two roots: line 1 scan, 2-3 entries of /srv/a, 4 its root
// line, 5 an entry of /srv/b, 6 its root line, 7 end.
TestRecord two_roots() {
    TestRecord record;
    record.roots = {"/srv/a", "/srv/b"};
    record.entries = {{"/srv/a", "x/one.txt"},
                      {"/srv/a", "x/two.txt", {"folder_length", "path_length"}},
                      {"/srv/b", "y/three.txt"}};
    return record;
}

void replace_in(std::string& line, const std::string& from, const std::string& to) {
    const std::size_t at = line.find(from);
    ASSERT_NE(at, std::string::npos) << from << " in " << line;
    line.replace(at, from.size(), to);
}

}  // namespace

TEST(RecordReader, HandsOnASoundRecordWithExactBytes) {
    TestRecord record = two_roots();
    record.entries.push_back({"/srv/b", "y/caf\xE9.txt", {"name_length", "path_length"}});
    const std::string text = record.text();
    EXPECT_NE(text.find("relative_path_base64"), std::string::npos);
    Kept kept;
    // Lines that straddle the pieces read.
    read_record("r.jsonl", reading(text, 5), kept);
    ASSERT_EQ(kept.relative_paths.size(), 4u);
    EXPECT_EQ(kept.relative_paths[3], TestRecord::host_path("y/caf\xE9.txt"));
    EXPECT_EQ(kept.reasons[1], 0b110u) << "folder_length and path_length, by the scan's order";
    ASSERT_EQ(kept.roots.size(), 2u);
    EXPECT_EQ(kept.roots[1].entries_by_reason.at("path_length"), 1u);
    EXPECT_EQ(kept.ends, 1u);
}

TEST(RecordReader, RefusesEveryFaultNamingItsLine) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* name;
        std::function<void(Lines&)> spoil;
        std::size_t line;
        const char* says;
    };
    const Case cases[] = {
        {"cut short", [](Lines& l) { l.pop_back(); }, 6, "no end line"},
        {"cut inside a line", [](Lines& l) { l.back().resize(20); }, 7, "no line feed"},
        {"entries edited", [](Lines& l) { replace_in(l[3], "\"entries\":2", "\"entries\":3"); }, 4,
         "entries is 3, but the root has 2"},
        {"reason count edited",
         [](Lines& l) { replace_in(l[3], "\"path_length\":1", "\"path_length\":0"); }, 4,
         "entries_by_reason.path_length is 0"},
        {"folder to act on edited",
         [](Lines& l) { replace_in(l[3], "\"units_to_lose\":10", "\"units_to_lose\":11"); }, 4,
         "folders_to_act_on is not what the root's entry lines give"},
        {"end total edited", [](Lines& l) { replace_in(l[6], "\"entries\":3", "\"entries\":4"); },
         7, "entries is 4, but the roots have 3"},
        {"newer format", [](Lines& l) { replace_in(l[0], "\"format\":1", "\"format\":2"); }, 1,
         "format version 2, newer"},
        {"other program", [](Lines& l) { replace_in(l[0], "\"kestrafin-scan\"", "\"otherscan\""); },
         1, "another program"},
        {"2 MB line", [](Lines& l) { l[2].insert(1, std::string(2 << 20, ' ')); }, 3,
         "longer than 1048576"},
        {"invalid UTF-8", [](Lines& l) { replace_in(l[1], "one", "o\xFFne"); }, 2, "invalid UTF-8"},
        {"NUL byte", [](Lines& l) { replace_in(l[1], "one", std::string("o\0ne", 4)); }, 2,
         "holds a NUL"},
        {"escaped NUL", [](Lines& l) { replace_in(l[1], "one", "o\\u0000ne"); }, 2,
         "NUL in a text"},
        {"deep nesting",
         [](Lines& l) { replace_in(l[1], "{", "{\"x\":" + std::string(100000, '[') + ","); }, 2,
         "nests deeper"},
        {"2^63 for a length",
         [](Lines& l) {
             replace_in(l[1], "\"folder_length\":210", "\"folder_length\":9223372036854775808");
         },
         2, "folder_length is no integer"},
        {"-1 for a length",
         [](Lines& l) { replace_in(l[1], "\"path_length\":230", "\"path_length\":-1"); }, 2,
         "path_length is no integer"},
        {"1.5 for a count",
         [](Lines& l) { replace_in(l[3], "\"unreadable\":0", "\"unreadable\":1.5"); }, 4,
         "entries_by_reason.unreadable is no integer"},
        {"duplicate key", [](Lines& l) { replace_in(l[1], "{", "{\"path\":\"/x\","); }, 2,
         "repeats the key path"},
        {"scan_id mismatch",
         [](Lines& l) { replace_in(l[4], "0123456789abcdef0123", "f123456789abcdef0123"); }, 5,
         "scan_id other than"},
        {"entry of the next root first", [](Lines& l) { std::swap(l[3], l[4]); }, 4,
         "out of order"},
        {"entry after its root's root line", [](Lines& l) { l.insert(l.begin() + 5, l[1]); }, 6,
         "out of order"},
        {"unknown root", [](Lines& l) { replace_in(l[4], "\"/srv/b\"", "\"/srv/c\""); }, 5,
         "names a root the scan line does not"},
        {"missing key", [](Lines& l) { replace_in(l[1], ",\"path_length\":230", ""); }, 2,
         "lacks path_length"},
        {"unknown reason", [](Lines& l) { replace_in(l[1], "[\"folder_length\"]", "[\"long\"]"); },
         2, "reason long"},
        {"text and base64 disagree",
         [](Lines& l) {
             replace_in(l[1], "\"root\":\"/srv/a\"",
                        "\"root\":\"/srv/a\",\"root_base64\":\"L3Nydi9i\"");
         },
         2, "does not agree"},
        {"line after the end", [](Lines& l) { l.push_back(l[1]); }, 8, "after the end line"},
        {"many keys",
         [](Lines& l) {
             std::string keys;
             for (int key = 0; key < 100; ++key) keys += "\"k" + std::to_string(key) + "\":0,";
             replace_in(l[1], "{", "{" + keys);
         },
         2, "more keys in an object"},
        {"no object", [](Lines& l) { l[1] = "[1]"; }, 2, "no JSON object"},
        {"stopped before any root, yet a whole status",
         [](Lines& l) {
             l.erase(l.begin() + 1, l.end() - 1);
             replace_in(l[1], "\"stopped\":false", "\"stopped\":true");
             replace_in(l[1], "\"entries\":3", "\"entries\":0");
         },
         2, "exit_status is 0, but the worst of the roots' is 1"},
        {"no root", [](Lines& l) { replace_in(l[0], "[\"/srv/a\",\"/srv/b\"]", "[]"); }, 1,
         "no root"},
    };
    for (const Case& test : cases) {
        Lines lines = two_roots().lines();
        test.spoil(lines);
        std::string text = TestRecord::joined(lines);
        if (std::string_view(test.name) == "cut inside a line") text.pop_back();
        Kept kept;
        try {
            read_record("fs01.jsonl", reading(text), kept);
            ADD_FAILURE() << test.name << ": not refused";
        } catch (const RecordError& error) {
            EXPECT_EQ(error.line(), test.line) << test.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(test.says), std::string::npos)
                << test.name << ": " << error.what();
            EXPECT_TRUE(std::string(error.what())
                            .starts_with("fs01.jsonl:" + std::to_string(test.line) + ": "))
                << test.name;
        }
    }
}

TEST(RecordReader, RefusesAnEndlessLineHavingReadLittleMoreThanTheLongestLine) {
    std::size_t read = 0;
    const ReadSome endless = [&](char* into, std::size_t size) {
        std::memset(into, 'x', size);
        read += size;
        return size;
    };
    Kept kept;
    EXPECT_THROW(read_record("huge.jsonl", endless, kept), RecordError);
    EXPECT_LT(read, kLongestLine + (std::size_t{1} << 20));
}
