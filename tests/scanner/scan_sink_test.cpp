// What one folder's files may hold while they wait for the collision check.
#include "scanner/scan_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "search/folder_listing.h"

using namespace kestrafin::scanner;

namespace {

struct SinkRun {
    std::set<std::string> records;
    std::string errors;
};

std::string contents(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

// Hands the files `names` of one folder to a sink bound to `most_held_bytes`.
SinkRun run_sink(std::size_t most_held_bytes, const std::vector<std::string>& names) {
    const ScanOptions options =
        parse_scan_options({"-q", "--format", "csv", "--summary", "--check", "windows", "/r"});
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    {
        ScanSink sink(options, fileno(out), fileno(err), most_held_bytes);
        kestrafin::search::FolderListing listing;
        sink.folder_listed("/r", listing);
        for (const std::string& name : names) sink.add_entry("/r/d/" + name);
        sink.folder_listed("/r/d", listing);
        sink.finish();
    }
    SinkRun run;
    std::string text = contents(out);
    for (std::size_t start = text.find('\n') + 1, end; (end = text.find('\n', start)) != text.npos;
         start = end + 1)
        run.records.insert(text.substr(start, end - start));
    run.errors = contents(err);
    return run;
}

const std::vector<std::string> kNames = {"a", "A", "b", "B", "c:", "e"};

}  // namespace

TEST(ScanSink, AFolderPastTheBoundStreamsItsFilesWithoutTheCollisionCheck) {
    const SinkRun held = run_sink(kMostHeldBytes, kNames);
    EXPECT_EQ(held.records,
              (std::set<std::string>{"/r/d/a,4,6,file,collision,\r", "/r/d/A,4,6,file,collision,\r",
                                     "/r/d/b,4,6,file,collision,\r", "/r/d/B,4,6,file,collision,\r",
                                     "/r/d/c:,4,7,file,invalid_character,\r"}));
    EXPECT_EQ(held.errors.find("collisions"), std::string::npos) << held.errors;

    // Room for two of them.
    const SinkRun streamed = run_sink(2 * 64, kNames);
    EXPECT_EQ(streamed.records, (std::set<std::string>{"/r/d/c:,4,7,file,invalid_character,\r"}));
    EXPECT_NE(streamed.errors.find("kestrafin-scan: '/r/d' holds too many files to check their "
                                   "names for collisions; its other rules are checked\n"),
              std::string::npos)
        << streamed.errors;
    EXPECT_NE(streamed.errors.find("folders too large to check for collisions: 1\n"),
              std::string::npos)
        << streamed.errors;
}
