// A scan's judging of what the walk hands on, played event by event, and how
// its report tells the way a scan ended.
#include "scan/scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/path_rules.h"
#include "scan/rules/check_profiles.h"
#include "tests/support/walk_events.h"

using namespace kestrafin::scan;
using kestrafin::search::Answer;
using kestrafin::testing::tell_entered;
using kestrafin::testing::tell_file;

namespace {

struct RecordingSink : Sink {
    std::vector<std::string> entries;
    std::vector<std::string> unchecked;
    // Memory runs out once, before the entry of this number (1 for the first).
    std::size_t fail_at = 0;
    void entry(const Entry& entry) override {
        if (entries.size() + 1 == fail_at) {
            fail_at = 0;
            throw std::bad_alloc();
        }
        std::string text(entry.path);
        entry.reasons.each([&](Reason reason) { text += " " + std::string(reason_code(reason)); });
        entries.push_back(text);
    }
    void names_unchecked(std::string_view folder) override { unchecked.emplace_back(folder); }
};

}  // namespace

TEST(Scan, AFolderPastTheBoundStreamsItsFilesWithoutTheCollisionCheck) {
    const std::string r = std::string(1, kestrafin::platform::kPathSeparator) + "r";
    const std::string d = r + kestrafin::platform::kPathSeparator + "d";
    ScanRequest request;
    request.root = r;
    request.checks = {find_check_profile("windows")};
    RecordingSink sink;
    // Room for two of the files: "a" and "A" wait, then all go on.
    Scan scan(request, sink, nullptr, 2 * 64);
    tell_entered(scan.walk_visitor(), r);
    for (const char* name : {"a", "A", "b", "B", "c:"})
        tell_file(scan.walk_visitor(), d + kestrafin::platform::kPathSeparator + name);
    tell_entered(scan.walk_visitor(), d);
    scan.finish();
    EXPECT_EQ(sink.entries, std::vector<std::string>{d + kestrafin::platform::kPathSeparator +
                                                     "c: invalid_character"});
    EXPECT_EQ(sink.unchecked, std::vector<std::string>{d});
}

TEST(Scan, MemoryRunningOutAmongAFoldersFilesHandsEachOnOnceAndWhole) {
    const std::string d = std::string("r") + kestrafin::platform::kPathSeparator + "d";
    ScanRequest request;
    request.root = "r";
    request.checks = {find_check_profile("windows")};
    RecordingSink sink;
    sink.fail_at = 2;
    Scan scan(request, sink);
    for (const char* name : {"a:", "CON", "c?"})
        tell_file(scan.walk_visitor(), d + kestrafin::platform::kPathSeparator + name);
    EXPECT_THROW(tell_entered(scan.walk_visitor(), d), std::bad_alloc);
    // The walk ends there; what is left goes on once, judged by its name.
    scan.finish();
    const std::string in_d = d + kestrafin::platform::kPathSeparator;
    EXPECT_EQ(sink.entries,
              (std::vector<std::string>{in_d + "a: invalid_character", in_d + "CON reserved_name",
                                        in_d + "c? invalid_character"}));
}

TEST(Scan, AnswersStopToTheEventAfterTheStopIsSet) {
    ScanRequest request;
    request.root = "r";
    RecordingSink sink;
    std::atomic<bool> stop{false};
    Scan scan(request, sink, &stop);
    EXPECT_EQ(tell_file(scan.walk_visitor(), "r/a"), Answer::go_on);
    stop = true;
    EXPECT_EQ(tell_file(scan.walk_visitor(), "r/b"), Answer::stop);
}

TEST(ScanReport, TellsHowTheScanEnded) {
    struct Case {
        const char* what;
        std::vector<std::string> events;  // "done P", "unreadable P"
        bool out_of_memory;
        ScanEnd end;
        bool root_error;
    };
    const Case cases[] = {
        {"every folder read", {"done /r", "done /r/a"}, false, ScanEnd::complete, false},
        {"one below unreadable", {"unreadable /r/a", "done /r"}, false, ScanEnd::incomplete, false},
        {"the root not opened", {"unreadable /r"}, false, ScanEnd::root_not_walked, true},
        // A root read in part was walked: what was read is listed.
        {"the root read in part", {"unreadable /r", "done /r"}, false, ScanEnd::incomplete, false},
        {"the root not entered (a kernel file system)", {}, false, ScanEnd::root_not_walked, false},
        {"memory ran out", {"done /r"}, true, ScanEnd::incomplete, false},
    };
    for (const Case& c : cases) {
        ScanReport report("/r");
        for (const std::string& event : c.events) {
            if (event.starts_with("done "))
                report.folder_done();
            else
                report.folder_unreadable(event.substr(11), EACCES);
        }
        report.out_of_memory = c.out_of_memory;
        EXPECT_EQ(report.end(), c.end) << c.what;
        EXPECT_EQ(report.root_error().has_value(), c.root_error) << c.what;
    }
}
