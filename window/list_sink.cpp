#include "window/list_sink.h"

#include <stdexcept>

namespace kestrafin::window {

namespace {
// Entries kept back at most, in bytes of text, before they are handed on
// within a folder: a lock per run rather than per entry.
constexpr std::size_t kRunBytes = 64 << 10;
}  // namespace

void ListSink::add(std::string_view entry_text) {
    if (entry_text.size() > UINT32_MAX) throw std::length_error("entry text too long");
    found_.texts.append(entry_text);
    found_.lengths.push_back(static_cast<std::uint32_t>(entry_text.size()));
    if (found_.texts.size() >= kRunBytes) hand_on();
}

void ListSink::folder_done(std::string_view directory, const scan::ScanReport& report) {
    {
        const std::lock_guard lock(mutex_);
        progress_.folders_read = report.folders_read();
        progress_.folder.assign(directory);
    }
    hand_on();
}

ListSink::Progress ListSink::progress() {
    const std::lock_guard lock(mutex_);
    return progress_;
}

void ListSink::hand_on() {
    if (found_.lengths.empty()) return;
    {
        const std::lock_guard lock(mutex_);
        if (pending_.lengths.empty()) {
            std::swap(pending_, found_);
        } else {
            pending_.texts.append(found_.texts);
            pending_.lengths.insert(pending_.lengths.end(), found_.lengths.begin(),
                                    found_.lengths.end());
        }
    }
    found_.texts.clear();
    found_.lengths.clear();
}

std::size_t ListSink::deliver(ListItems& items) {
    delivering_.texts.clear();
    delivering_.lengths.clear();
    {
        const std::lock_guard lock(mutex_);
        std::swap(pending_, delivering_);
    }
    const std::string_view texts = delivering_.texts;
    std::size_t at = 0;
    for (const std::uint32_t length : delivering_.lengths) {
        items.Add(texts.substr(at, length));
        at += length;
    }
    return delivering_.lengths.size();
}

}  // namespace kestrafin::window
