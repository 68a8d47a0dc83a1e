#include "window/status_line.h"

#include <cstdio>
#include <system_error>

#include "platform/files.h"
#include "window/one_line_text.h"

namespace kestrafin::window {

namespace {

// The host's words for an error number, without the line end and full stop
// some hosts put after them.
std::string reason_text(int error) {
    std::string text = platform::error_text({error, std::system_category()});
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

}  // namespace

std::string elapsed_text(std::chrono::milliseconds elapsed) {
    const long long tenths = (elapsed.count() + 50) / 100;
    char text[48];
    if (tenths < 600) {
        std::snprintf(text, sizeof text, "%lld.%lld s", tenths / 10, tenths % 10);
    } else {
        const long long seconds = (elapsed.count() + 500) / 1000;
        std::snprintf(text, sizeof text, "%lld min %02lld s", seconds / 60, seconds % 60);
    }
    return text;
}

std::string status_line_text(const scan::ScanReport& report) {
    std::string text = std::to_string(report.folders_read()) +
                       (report.folders_read() == 1 ? " folder" : " folders") + " read in " +
                       elapsed_text(report.elapsed);
    if (report.stopped) text += ", stopped";
    if (report.unreadable() > 0)
        text += ", " + std::to_string(report.unreadable()) + " could not be read";
    // Kernel file systems count: the user sees each folder the search passed by.
    const std::size_t declined = report.declined().with_kernel_file_systems();
    if (declined > 0) text += ", " + std::to_string(declined) + " not entered";
    return text;
}

std::string status_tip_text(const scan::ScanReport& report) {
    if (report.unreadable() == 0) return {};
    std::string text = "Could not be read:";
    for (const scan::UnreadableFolder& folder : report.first_unreadable())
        text += "\n" + one_line_text(folder.path) + ": " + reason_text(folder.error);
    const std::size_t more = report.unreadable() - report.first_unreadable().size();
    if (more > 0) text += "\nand " + std::to_string(more) + " more";
    return text;
}

std::string reload_status_text(std::string_view file, std::string_view saved_at) {
    std::string text = "Reloaded from " + one_line_text(file);
    if (!saved_at.empty()) text += ", saved " + std::string(saved_at);
    return text;
}

std::string export_status_text(std::string_view file, std::size_t paths) {
    return "Exported " + std::to_string(paths) + (paths == 1 ? " path" : " paths") + " to " +
           one_line_text(file);
}

std::string root_failure_text(std::string_view root, int error) {
    // A direction override in the root would turn the reason after it around.
    return "The folder \"" + one_line_text(root) + "\" cannot be searched: " + reason_text(error) +
           ".";
}

}  // namespace kestrafin::window
