#include "scan/sink.h"

#include <algorithm>

namespace kestrafin::scan {

bool Sinks::sees_every_file() const {
    return std::any_of(sinks_.begin(), sinks_.end(),
                       [](const Sink* sink) { return sink->sees_every_file(); });
}

bool Sinks::needs_lengths() const {
    return std::any_of(sinks_.begin(), sinks_.end(),
                       [](const Sink* sink) { return sink->needs_lengths(); });
}

std::optional<search::LeftOutFile> Sinks::own_file() const {
    for (const Sink* sink : sinks_)
        if (auto file = sink->own_file()) return file;
    return std::nullopt;
}

void Sinks::started(const ScanReport& report) {
    for (Sink* sink : sinks_) sink->started(report);
}

void Sinks::entry(const Entry& entry) {
    for (Sink* sink : sinks_) sink->entry(entry);
}

void Sinks::file_seen(const Entry& file) {
    for (Sink* sink : sinks_) sink->file_seen(file);
}

void Sinks::folder_unreadable(const Entry& folder, int error) {
    for (Sink* sink : sinks_) sink->folder_unreadable(folder, error);
}

void Sinks::folder_not_entered(std::string_view directory, search::NotEntered reason,
                               const ScanReport& report) {
    for (Sink* sink : sinks_) sink->folder_not_entered(directory, reason, report);
}

void Sinks::left_out(std::string_view path, bool folder) {
    for (Sink* sink : sinks_) sink->left_out(path, folder);
}

void Sinks::names_unchecked(std::string_view folder) {
    for (Sink* sink : sinks_) sink->names_unchecked(folder);
}

void Sinks::folder_done(std::string_view directory, const ScanReport& report) {
    for (Sink* sink : sinks_) sink->folder_done(directory, report);
}

}  // namespace kestrafin::scan
