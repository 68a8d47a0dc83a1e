// The texts the window builds for the user: the status line that ends a
// search, copied paths and paths laid out for display.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/path_rules.h"
#include "tests/support/host.h"
#include "window/bidi_isolation.h"
#include "window/copied_text.h"
#include "window/row_limits.h"
#include "window/shown_row.h"
#include "window/status_line.h"
#include "window/tip_lines.h"

using namespace kestrafin::window;
using kestrafin::scan::ScanReport;
using kestrafin::testing::kPosixHost;
using namespace std::chrono_literals;

namespace {

constexpr char kSeparator = kestrafin::platform::kPathSeparator;

// `path` with the host's separator for each "/".
std::string on_host(std::string path) {
    std::replace(path.begin(), path.end(), '/', kSeparator);
    return path;
}

}  // namespace

TEST(StatusLine, TellsWhatTheWalkDidAndWhatItLeftOut) {
    using kestrafin::search::NotEntered;
    const struct {
        std::size_t read, unreadable;
        std::vector<NotEntered> declined;
        std::chrono::milliseconds elapsed;
        bool stopped;
        const char* line;
    } rows[] = {
        {1, 0, {}, 40ms, false, "1 folder read in 0.0 s"},
        {2418, 0, {}, 8249ms, false, "2418 folders read in 8.2 s"},
        {12, 3, {}, 61500ms, true, "12 folders read in 1 min 02 s, stopped, 3 could not be read"},
        // Kernel file systems count as the others do.
        {5,
         0,
         {NotEntered::cycle, NotEntered::kernel_file_system},
         1000ms,
         false,
         "5 folders read in 1.0 s, 2 not entered"},
    };
    for (const auto& row : rows) {
        ScanReport report("/root");
        for (std::size_t n = 0; n < row.read; ++n) report.folder_done();
        for (std::size_t n = 0; n < row.unreadable; ++n)
            report.folder_unreadable("/root/x", EACCES);
        for (const NotEntered reason : row.declined) report.folder_not_entered("/root/d", reason);
        report.elapsed = row.elapsed;
        report.stopped = row.stopped;
        EXPECT_EQ(status_line_text(report), row.line);
    }
}

TEST(StatusLine, TheTipNamesTheFirstFoldersUnreadableAndNotEnteredWithTheirReasons) {
    using kestrafin::search::NotEntered;
    ScanReport report("/root");
    report.folder_done();
    EXPECT_EQ(status_tip_text(report), "");
    for (int n = 0; n < 7; ++n) report.folder_unreadable("/root/" + std::to_string(n), EACCES);
    const std::string tip = status_tip_text(report);
    EXPECT_EQ(tip.substr(0, 28), "Could not be read:\n/root/0: ");
    if (kPosixHost) {
        EXPECT_EQ(tip.substr(28, tip.find('\n', 28) - 28), "Permission denied");
    }
    EXPECT_EQ(tip.find("/root/5"), std::string::npos);
    EXPECT_EQ(tip.substr(tip.rfind('\n')), "\nand 2 more");

    ScanReport kernel("/proc/1/map_files");
    kernel.folder_not_entered("/proc/1/map_files", NotEntered::kernel_file_system);
    EXPECT_EQ(status_tip_text(kernel),
              "Not entered:\n/proc/1/map_files: it lies on a kernel file system, which holds no "
              "user files");
    // Below the unreadable ones; the window's words name none of the scanner's options.
    for (int n = 0; n < 6; ++n) report.folder_not_entered("/root/o", NotEntered::offline);
    const std::string both = status_tip_text(report);
    const std::string not_entered = both.substr(both.find("\n\nNot entered:\n"));
    EXPECT_EQ(not_entered.substr(0, not_entered.find('\n', 16)),
              "\n\nNot entered:\n/root/o: it is offline (in the cloud), and reading it would "
              "fetch it");
    EXPECT_EQ(not_entered.substr(not_entered.rfind('\n')), "\nand 1 more");
}

TEST(StatusLine, TheTipBreaksALongPathIntoLinesAndBoundsIt) {
    ScanReport report("/");
    report.folder_done();
    std::string deep;
    while (deep.size() < 33000) deep += "/d";
    report.folder_unreadable(deep, EACCES);
    const std::string tip = status_tip_text(report);
    std::size_t longest = 0;
    for (std::size_t start = 0; start < tip.size();) {
        const std::size_t end = std::min(tip.find('\n', start), tip.size());
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    EXPECT_LE(longest, kTipLine + 64);  // the reason may follow on the last line
    EXPECT_LT(tip.size(), 2 * kLongestTip);
    EXPECT_NE(tip.find("/d\xE2\x80\xA6/d"), std::string::npos);
}

TEST(StatusLine, ALongLineTakesTheShorterWordingAndThenShortensItsPathInTheMiddle) {
    ScanReport report("/root");
    for (int n = 0; n < 12; ++n) report.folder_done();
    for (int n = 0; n < 3; ++n) report.folder_unreadable("/root/x", EACCES);
    report.elapsed = 61500ms;
    report.stopped = true;
    const StatusText search = search_status(report);
    const StatusText reload =
        reload_status(on_host("/opt/kestrafin portable/kestrafinlist.dxb"), "2026-12-09 14:05");
    const StatusText progress =
        progress_status(3, on_host("/srv/\xe5\x85\xb1\xe6\x9c\x89/\xe7\xb5\x8c\xe7\x90\x86"));
    const struct {
        const StatusText& status;
        std::size_t room;  // code points the stand-in line holds
        std::string shown;
    } rows[] = {
        {search, 59, "12 folders read in 1 min 02 s, stopped, 3 could not be read"},
        {search, 58, "12 folders, 1 min 02 s, stopped, 3 unreadable"},
        {reload, 79,
         "Reloaded from /opt/kestrafin portable/kestrafinlist.dxb, saved 2026-12-09 14:05"},
        // The time first; the file's name stays while it can.
        {reload, 78,
         "Saved 2026-12-09 14:05, reloaded from /opt/kestra\xe2\x80\xa6n "
         "portable/kestrafinlist.dxb"},
        {reload, 70,
         "Saved 2026-12-09 14:05, reloaded from /opt/ke\xe2\x80\xa6rtable/kestrafinlist.dxb"},
        {reload, 50,
         "Saved 2026-12-09 14:05, reloaded from \xe2\x80\xa6"
         "finlist.dxb"},
        {reload, 20, "Saved 2026-12-09 14:05, reloaded from \xe2\x80\xa6"},
        // Cut between characters.
        {progress, 30,
         "3 folders read, now in /s\xe2\x80\xa6\xe6\x9c\x89/\xe7\xb5\x8c\xe7\x90\x86"},
    };
    for (const auto& row : rows) {
        const auto fits = [&row](std::string_view text) {
            std::size_t code_points = 0;
            for (const char byte : text)
                code_points += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
            return code_points <= row.room;
        };
        EXPECT_EQ(fitted_status(row.status, fits), on_host(row.shown)) << row.room;
    }
    // The tip holds the fullest wording whole.
    EXPECT_EQ(
        reload.tip(),
        on_host("Reloaded from /opt/kestrafin portable/kestrafinlist.dxb, saved 2026-12-09 14:05"));
}

TEST(StatusLine, TheRootsFailureSaysWhy) {
    if (!kPosixHost) GTEST_SKIP() << "the reason is the host's words";
    EXPECT_EQ(root_failure_text("/gone", ENOTDIR),
              "The folder \"/gone\" cannot be searched: Not a directory.");
}

TEST(StatusLine, PathsStayOneLineWithEachControlShownByItsCodePoint) {
    const struct {
        std::string path, shown;
    } rows[] = {
        {"/opt/new\nline/list.dxb", "/opt/new<U+000A>line/list.dxb"},
        {"/a\r\t\x1b[2J\x7f\xc2\x85/b", "/a<U+000D><U+0009><U+001B>[2J<U+007F><U+0085>/b"},
        {"/p\xe2\x80\xa8q\xe2\x80\xa9r", "/p<U+2028>q<U+2029>r"},
        {"/invoice\xe2\x80\xae"
         "fdp.exe\xe2\x81\xa6\xe2\x80\x8f",
         "/invoice<U+202E>fdp.exe<U+2066><U+200F>"},
        // Letters of every script, joiners and bytes that are not UTF-8 stay.
        {"/r\xc3\xa9sum\xc3\xa9/\xd9\x85\xe2\x80\x8d/\xff\xc3",
         "/r\xc3\xa9sum\xc3\xa9/\xd9\x85\xe2\x80\x8d/\xff\xc3"},
        // Characters that draw nothing: soft hyphen, zero width space, byte
        // order mark, word joiner, invisible operator, shaping controls,
        // annotation marks, tags.
        {"/soft\xc2\xadhy\xe2\x80\x8bphen\xef\xbb\xbf.txt",
         "/soft<U+00AD>hy<U+200B>phen<U+FEFF>.txt"},
        {"/w\xe2\x81\xa0j\xe2\x81\xa2x\xe2\x81\xaa\xe2\x81\xafy",
         "/w<U+2060>j<U+2062>x<U+206A><U+206F>y"},
        {"/\xef\xbf\xb9"
         "base\xef\xbf\xbanote\xef\xbf\xbb",
         "/<U+FFF9>base<U+FFFA>note<U+FFFB>"},
        {"/a\xf3\xa0\x81\x81\xf3\xa0\x81\xbf.txt", "/a<U+E0041><U+E007F>.txt"},
        // A run of variation selectors, which can carry as much hidden text.
        {"/t\xf3\xa0\x84\x80\xf3\xa0\x84\x81\xef\xb8\x8f.pdf",
         "/t\xf3\xa0\x84\x80<U+E0101><U+FE0F>.pdf"},
        // Names need these drawn: non-joiner and joiner, variation selectors,
        // the marks drawn around the digits after them.
        {"/\xd9\x85\xdb\x8c\xe2\x80\x8c\xd8\xae\xd9\x88\xd8\xa7\xd9\x87\xd9\x85/"
         "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9/\xe2\x9d\xa4\xef\xb8\x8f\xe8\x91\x9b"
         "\xf3\xa0\x84\x80/\xd8\x80\xd9\xa1\xd9\xa2/\xdc\x8f\xdc\x90",
         "/\xd9\x85\xdb\x8c\xe2\x80\x8c\xd8\xae\xd9\x88\xd8\xa7\xd9\x87\xd9\x85/"
         "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9/\xe2\x9d\xa4\xef\xb8\x8f\xe8\x91\x9b"
         "\xf3\xa0\x84\x80/\xd8\x80\xd9\xa1\xd9\xa2/\xdc\x8f\xdc\x90"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reload_status(row.path, "").whole(), "Reloaded from " + row.shown);
        ScanReport report("/");
        report.folder_done();
        report.folder_unreadable(row.path, EACCES);
        const std::string tip = status_tip_text(report);
        // As the list shows the path: right-to-left parts isolated.
        EXPECT_EQ(tip.substr(0, tip.rfind(": ")),
                  "Could not be read:\n" + shown_row_text(row.path, kSeparator));
        const std::string failure = root_failure_text(row.path, ENOENT);
        EXPECT_EQ(failure.substr(0, failure.rfind(": ")),
                  "The folder \"" + row.shown + "\" cannot be searched");
    }
}

TEST(CopiedPaths, AreTheRealTextOneALine) {
    const struct {
        std::vector<std::string> paths;
        std::string text;
        std::size_t altered;
    } rows[] = {
        {{"/a/new\nline.txt"}, "/a/new\nline.txt", 0},
        {{"/a/1", "/\xD9\x85/2", "/a/3"}, "/a/1\n/\xD9\x85/2\n/a/3", 0},
        {{"/a/\xFF\xFEx", "/ok"}, "/a/\xEF\xBF\xBD\xEF\xBF\xBDx\n/ok", 1},
        {{"/cut\xD9", "/surrogate\xED\xA0\x80"}, "/cut\xEF\xBF\xBD\n/surrogate\xEF\xBF\xBD", 2},
        {{}, "", 0},
    };
    for (const auto& row : rows) {
        const CopiedText copied = copied_paths([&](const auto& take) {
            for (const auto& path : row.paths) take(path);
        });
        EXPECT_EQ(copied.text, row.text);
        EXPECT_EQ(copied.altered_paths, row.altered);
        EXPECT_EQ(altered_paths_note(row.altered).empty(), row.altered == 0);
    }
}

TEST(BidiIsolation, EachSegmentWithRightToLeftTextIsIsolatedOnItsOwn) {
    const std::string fsi = "\xE2\x81\xA8", pdi = "\xE2\x81\xA9";
    const std::string folder = "\xD9\x85\xD8\xAC\xD9\x84\xD8\xAF";  // Arabic "folder"
    const struct {
        std::string path, shown;
    } rows[] = {
        {"/home/r\xC3\xA9sum\xC3\xA9/x.pdf", "/home/r\xC3\xA9sum\xC3\xA9/x.pdf"},
        {"/P/" + folder + "/2024/" + folder + "/report.pdf",
         "/P/" + fsi + folder + pdi + "/2024/" + fsi + folder + pdi + "/report.pdf"},
        {"//a/\xE2\x80\xAE/", "//a/" + fsi + "\xE2\x80\xAE" + pdi + "/"},
    };
    for (const auto& row : rows) EXPECT_EQ(isolated_segments(row.path, '/'), row.shown);
}

TEST(TipLines, LongPathsBreakAfterASeparatorInTheLinesSecondHalfAndNeverInsideAPair) {
    const std::u16string a(100, u'a'), b(70, u'b'), c(119, u'c'), d(150, u'd');
    const struct {
        std::u16string shown, tip;
    } rows[] = {
        {a, a},
        {a + u"/" + b, a + u"/|" + b},                               // after the separator
        {d, d.substr(0, 120) + u"|" + d.substr(120)},                // none: at the limit
        {c + u"\U0001F600x", c + u"|\U0001F600x"},                   // not inside the pair
        {u"/" + d, u"/" + d.substr(0, 119) + u"|" + d.substr(119)},  // too early: at the limit
    };
    for (const auto& row : rows) EXPECT_EQ(tip_lines(row.shown, u'/', u"|"), row.tip);
}

TEST(BrokenLines, EachLineHoldsWhatFitsAndAtLeastOneCharacterWhole) {
    const struct {
        std::u16string shown;
        std::size_t fit;
        std::u16string lines;
    } rows[] = {
        {u"abcdefgh", 3, u"abc|def|gh"},
        {u"abc/defghij", 5, u"abc/|defgh|ij"},
        {u"\U0001F600\U0001F600", 1, u"\U0001F600|\U0001F600"},  // a pair wider than a line
        {u"abc", 0, u"a|b|c"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(broken_lines(row.shown, u'/', u"|", [&](std::u16string_view) { return row.fit; }),
                  row.lines);
}

TEST(ShownRow, ARowTooLongToShowKeepsItsStartAndEndInWholeCharacters) {
    const std::string all(kLongestShownRow, 'a');
    const std::string half(kLongestShownRow / 2, 'a');
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    const std::string fsi = "\xE2\x81\xA8", pdi = "\xE2\x81\xA9";
    const struct {
        std::string text;
        std::size_t most;
        std::string shown;
    } rows[] = {
        {"abcdefgh", 8, "abcdefgh"},
        {"abcdefghi", 8,
         "abcd\xE2\x80\xA6"
         "fghi"},
        // A character of two units is kept whole on the side it starts.
        {"ab" + emoji + "cdefg", 8,
         "ab" + emoji +
             "\xE2\x80\xA6"
             "defg"},
        {"abc" + emoji + "defgh", 8,
         "abc\xE2\x80\xA6"
         "efgh"},
        {"abcdefg" + emoji + "hi", 8, "abcd\xE2\x80\xA6" + emoji + "hi"},
        {"abcdefgh" + emoji + "jkl", 8, "abcd\xE2\x80\xA6jkl"},
        // Bytes that are no UTF-8 count one unit each and stay.
        {"\xFF\xFE"
         "abcdefg",
         8,
         "\xFF\xFE"
         "ab\xE2\x80\xA6"
         "defg"},
        {"a\nbcdefghi", 8,
         "a<U+000A>bc\xE2\x80\xA6"
         "fghi"},
        // Right-to-left folders are isolated in what shows.
        {"/\xD7\x90\xD7\x91/cdefghij", 8,
         "/" + fsi + "\xD7\x90\xD7\x91" + pdi + "/\xE2\x80\xA6ghij"},
        {all, kLongestShownRow, all},
        {all + "b", kLongestShownRow, half + "\xE2\x80\xA6" + half.substr(1) + "b"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(shown_row_text(row.text, '/', row.most), row.shown) << row.text.substr(0, 40);
        const ShownParts parts = shown_parts(row.text, row.most);
        EXPECT_EQ(parts.cut, row.text != parts.head);
        // What shows is the text's own start and end.
        EXPECT_EQ(parts.head.data(), row.text.data());
        if (parts.cut) {
            EXPECT_EQ(parts.tail.data() + parts.tail.size(), row.text.data() + row.text.size());
        }
    }
}

TEST(RowTip, GivesTheLengthsAndTheLimitsTheRowBreaksByTheScannersProfiles) {
    const std::string long_folder = "/" + std::string(250, 'f');
    const struct {
        std::string row;
        std::string limits;
    } rows[] = {
        {"/srv/a.txt", "10 units, its folder 4"},
        // Units as Windows counts them: an emoji takes two.
        {"/\xc3\xa9/\xf0\x9f\x98\x80", "5 units, its folder 2"},
        {long_folder + "/a.txt", "257 units, its folder 251\nFolder over 247 units: windows"},
        {"/" + std::string(300, 'n'),
         "301 units, its folder 0\nPath over 259 units: windows\n"
         "A name over 255 units: windows, onedrive"},
        {long_folder + "/" + std::string(150, 'n'),
         "402 units, its folder 251\nPath over 259 units: windows; over 400: sharepoint, "
         "onedrive\nFolder over 247 units: windows"},
    };
    for (const auto& row : rows) EXPECT_EQ(row_limits_text(row.row, '/'), row.limits) << row.row;
    // Below the path, in the tip's own line breaks.
    EXPECT_EQ(row_tip("/srv/a.txt", '/', u"\r\n"), u"/srv/a.txt\r\n\r\n10 units, its folder 4");
    // A row of a gigabyte is only bounded, so its tip comes at once.
    const std::string huge(std::size_t{3} << 20, 'x');
    EXPECT_EQ(row_limits_text(huge, '/').substr(0, 34), "more than 349525 units, its folder");
}
