// kestrafin-scan: the long-path search from the command line, for servers,
// file shares and scripts. It walks as the window's "Search" does and writes
// one entry per line, streaming, so its memory does not grow with the result.
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "scanner/exclusions.h"
#include "scanner/scan_options.h"
#include "scanner/scan_sink.h"
#include "scanner/terminal_quote.h"
#include "search/searchfiles.h"

#ifndef KESTRAFIN_VERSION
#define KESTRAFIN_VERSION "unknown"
#endif

namespace {

constexpr int kAllRead = 0;
constexpr int kSomeUnreadable = 1;
constexpr int kUsageOrRoot = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrafin;
    platform::load_libraries_from_the_system_only();
    platform::keep_standard_streams_open();
    scanner::ScanOptions options;
    try {
        options = scanner::parse_scan_options(platform::program_arguments(argc, argv));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "kestrafin-scan: %s\nTry 'kestrafin-scan --help'.\n",
                     scanner::printable_text(error.what()).c_str());
        return kUsageOrRoot;
    }
    try {
        // Written as the entries are, so that a full disk or a closed pipe is
        // an error here too.
        if (options.help) {
            scanner::write_output(platform::kStandardOutput, scanner::kScanUsage);
            return kAllRead;
        }
        if (options.version) {
            scanner::write_output(platform::kStandardOutput,
                                  std::string("kestrafin-scan ") + KESTRAFIN_VERSION + "\n");
            return kAllRead;
        }
        const scanner::Exclusions exclusions(options.excludes);
        scanner::ScanSink sink(options, platform::kStandardOutput, platform::kStandardError);
        const platform::BackupReading backup;
        if (backup.in_effect()) sink.reading_with_backup_rights();
        bool out_of_memory = false;
        try {
            search::searchfiles(options.root, sink,
                                {.longer_than = options.rules.folder_longer_than.value_or(
                                     search::kDefaultLongerThan),
                                 .every_file = scanner::needs_every_file(options),
                                 .exclusion = exclusions.empty() ? nullptr : &exclusions,
                                 .threads = options.threads,
                                 .follow_links = !options.no_follow,
                                 .one_file_system = options.one_file_system,
                                 .include_offline = options.include_offline,
                                 .leave_out = sink.own_temporary_file()});
        } catch (const std::bad_alloc&) {
            // The walk's memory is given back by now: what was found is
            // still written.
            out_of_memory = true;
        }
        // The walk reads no folder at all only when the root cannot be opened;
        // nothing is written then, so an old list file stays.
        if (sink.folders_read() == 0 && !out_of_memory) return kUsageOrRoot;
        sink.finish();
        if (out_of_memory) {
            std::fputs("kestrafin-scan: out of memory; what was found before is written\n", stderr);
            return kSomeUnreadable;
        }
        return sink.some_folder_unreadable() ? kSomeUnreadable : kAllRead;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrafin-scan: %s\n",
                     scanner::printable_text(platform::failure_text(error)).c_str());
        return kUsageOrRoot;
    }
}
