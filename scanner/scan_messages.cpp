#include "scanner/scan_messages.h"

#include <system_error>

#include "platform/process.h"
#include "scan/sinks/terminal_quote.h"

namespace kestrafin::scanner {

using scan::quoted_for_terminal;

ScanMessages::ScanMessages(int descriptor, bool quiet, bool verbose)
    : descriptor_(descriptor), quiet_(quiet), verbose_(verbose), progress_(descriptor, !quiet) {}

// Messages are best effort: a closed stream loses them.
void ScanMessages::say(const std::string& line) {
    progress_.clear();
    try {
        platform::write_stream(descriptor_, line);
    } catch (const std::system_error&) {
    }
}

void ScanMessages::warn(const std::string& text) {
    if (!quiet_) say("kestrafin-scan: " + text + "\n");
}

void ScanMessages::started(const scan::ScanReport& report) {
    if (verbose_ && report.backup_rights)
        warn(
            "reading with backup rights: folders whose rights leave this account out are "
            "read too");
}

void ScanMessages::folder_unreadable(const scan::Entry& folder, int /*error*/) {
    // They make the exit status 1, and are said even when quiet.
    say("kestrafin-scan: cannot read " + quoted_for_terminal(folder.path) + ": " +
        std::string(folder.error) + "\n");
}

void ScanMessages::folder_not_entered(std::string_view directory, search::NotEntered reason,
                                      const scan::ScanReport& report) {
    // A kernel file system is named even without -v when it is the root,
    // since then nothing is walked but other file systems mounted below it.
    if (verbose_ ||
        (reason == search::NotEntered::kernel_file_system && report.folders_read() == 0))
        warn("not entering " + quoted_for_terminal(directory) + ": " +
             search::not_entered_reason(reason));
}

void ScanMessages::left_out(std::string_view path, bool folder) {
    if (verbose_)
        warn((folder ? "not entering " : "leaving out ") + quoted_for_terminal(path) +
             ": it is excluded");
}

void ScanMessages::names_unchecked(std::string_view folder) {
    // Said even when quiet: a check asked for is not made.
    say("kestrafin-scan: " + quoted_for_terminal(folder) +
        " holds too many files to check their names for collisions; its other rules are "
        "checked\n");
}

void ScanMessages::folder_done(std::string_view directory, const scan::ScanReport& report) {
    progress_.update(report.folders_read(), report.entries(), directory);
}

void ScanMessages::say_declined(const scan::ScanReport& report, std::string_view root) {
    if (report.declined().total() == 0) return;
    say("kestrafin-scan: " + (root.empty() ? "" : "in " + quoted_for_terminal(root) + ", ") +
        search::declined_text(report.declined()) + (verbose_ ? "\n" : "; -v names them\n"));
}

}  // namespace kestrafin::scanner
