// What one folder's files may hold while they wait for the collision check.
#include "scanner/scan_sink.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "search/folder_listing.h"

using namespace kestrafin::scanner;

namespace {

std::string contents(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

}  // namespace

TEST(ScanSink, AFolderPastTheBoundStreamsItsFilesWithoutTheCollisionCheck) {
    const ScanOptions options =
        parse_scan_options({"-q", "--format", "csv", "--summary", "--check", "windows", "/r"});
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    {
        // Room for two of the files: "a" and "A" wait, then all go on.
        ScanSink sink(options, fileno(out), fileno(err), 2 * 64);
        const kestrafin::search::FolderListing listing;
        sink.folder_listed("/r", listing);
        for (const char* name : {"a", "A", "b", "B", "c:"})
            sink.add_entry(std::string("/r/d/") + name);
        sink.folder_listed("/r/d", listing);
        sink.finish();
    }
    const std::string records = contents(out);
    EXPECT_EQ(records.substr(records.find('\n') + 1), "/r/d/c:,4,7,file,invalid_character,\r\n");
    const std::string errors = contents(err);
    EXPECT_NE(errors.find("kestrafin-scan: '/r/d' holds too many files to check their names for "
                          "collisions; its other rules are checked\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("folders too large to check for collisions: 1\n"), std::string::npos)
        << errors;
}
