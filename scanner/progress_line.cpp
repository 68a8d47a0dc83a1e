#include "scanner/progress_line.h"

#include "platform/process.h"

#include <string>
#include <system_error>

#include "scan/sinks/terminal_quote.h"

namespace kestrafin::scanner {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Keeps the end of a path, which tells more than its start, and never cuts a
// UTF-8 sequence.
std::string shortened(std::string_view path, std::size_t room) {
    if (path.size() <= room) return std::string(path);
    if (room <= 3) return std::string(room, '.');
    std::size_t from = path.size() - (room - 3);
    while (from < path.size() && (static_cast<unsigned char>(path[from]) & 0xC0) == 0x80) ++from;
    return "..." + std::string(path.substr(from));
}

void put(int descriptor, const std::string& text) {
    try {
        platform::write_stream(descriptor, text);
    } catch (const std::system_error&) {
        // A progress line that cannot be drawn is no reason to stop the walk.
    }
}

}  // namespace

ProgressLine::ProgressLine(int descriptor, bool enabled)
    : descriptor_(descriptor), active_(enabled && platform::stream_is_terminal(descriptor)) {}

void ProgressLine::update(std::size_t folders, std::size_t entries, std::string_view folder) {
    if (!active_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_draw_) return;
    next_draw_ = now + kRedrawInterval;
    std::string line =
        std::to_string(folders) + " folders read, " + std::to_string(entries) + " listed, ";
    const std::size_t width = scan::terminal_width(descriptor_) - 1;
    line += shortened(scan::escaped_for_terminal(folder),
                      width > line.size() ? width - line.size() : 0);
    put(descriptor_, "\r\033[K" + line);
    shown_ = true;
}

void ProgressLine::clear() {
    if (!shown_) return;
    put(descriptor_, "\r\033[K");
    shown_ = false;
}

}  // namespace kestrafin::scanner
