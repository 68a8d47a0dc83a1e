#include "app/list_sink.h"

#include <stdexcept>

namespace kestrafin::app {

void ListSink::add_entry(std::string_view entry_text) {
    if (entry_text.size() > UINT32_MAX) throw std::length_error("entry text too long");
    const std::lock_guard lock(mutex_);
    pending_.texts.append(entry_text);
    pending_.lengths.push_back(static_cast<std::uint32_t>(entry_text.size()));
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

}  // namespace kestrafin::app
