#include "app/list_sink.h"

#include <stdexcept>

namespace kestrafin::app {

void ListSink::add_entry(std::string_view entry_text) {
    if (entry_text.size() > UINT32_MAX) throw std::length_error("entry text too long");
    const std::lock_guard lock(mutex_);
    pending_texts_.append(entry_text);
    pending_lengths_.push_back(static_cast<std::uint32_t>(entry_text.size()));
}

void ListSink::deliver(ListItems& items) {
    std::string texts;
    std::vector<std::uint32_t> lengths;
    {
        const std::lock_guard lock(mutex_);
        texts.swap(pending_texts_);
        lengths.swap(pending_lengths_);
    }
    std::size_t at = 0;
    for (const std::uint32_t length : lengths) {
        items.Add(std::string_view(texts).substr(at, length));
        at += length;
    }
    items.Refresh();
}

}  // namespace kestrafin::app
