// The entry collection of the result list: entries numbered from 1 in the
// order added, kept in one store that every face reads in place. The face is
// told which rows it shows; additions show at the next Refresh(), so that a
// long run of them stays cheap.
#pragma once

#include <cstddef>
#include <string_view>

#include "window/entry_store.h"
#include "window/window_face.h"

namespace kestrafin::window {

class ListItems {
  public:
    explicit ListItems(WindowFace& face) : face_(face) {}

    void Add(std::string_view text) { store_.add(text); }
    std::size_t Count() const { return store_.size(); }
    void Clear() {
        store_.clear();
        shown_ = 0;
        face_.list_reset(0);
    }
    // The text of the entry at `position`, from 1 to Count().
    std::string_view Text(std::size_t position) const { return store_.text(position - 1); }
    // Shows the entries added since the last call.
    void Refresh() {
        if (store_.size() <= shown_) return;
        shown_ = store_.size();
        face_.list_grown(shown_);
    }
    // Replaces every entry with those of `entries` at once, and shows them.
    void ReplaceAll(EntryStore&& entries) {
        store_ = std::move(entries);
        shown_ = store_.size();
        face_.list_reset(shown_);
    }

    // How many entries the face shows.
    std::size_t shown() const { return shown_; }
    // The entries, for a face to read rows 0 to shown() - 1 in place.
    const EntryStore& store() const { return store_; }

  private:
    WindowFace& face_;
    EntryStore store_;
    std::size_t shown_ = 0;
};

}  // namespace kestrafin::window
