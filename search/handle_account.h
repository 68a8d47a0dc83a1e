// One account of the folder handles a walk holds open: those of its descent
// and those its readers hold while reading ahead. The descent keeps its
// deepest folders open and closes shallower ones to stay within its share
// (a closed folder is reopened from its nearest open ancestor when the walk
// comes back to it); readers take a handle only when the account has one to
// spare, and never one of the descent's share. A folder a reader kept open
// and the walk then entered stays charged to the readers until it closes and
// counts in the descent's share as well: counted twice, so never more than
// the whole is open. The process's limit on open handles sets the whole.
#pragma once

#include <atomic>
#include <cstddef>

#include "search/descriptor_budget.h"

namespace kestrafin::search {

class HandleAccount {
  public:
    // `descent` handles for the walk's descent, `readers` more for the readers.
    HandleAccount(std::size_t descent, std::size_t readers)
        : descent_(descent), readers_limit_(readers) {}

    // The descent's share; used by the walk alone.
    DescriptorBudget& descent() { return descent_; }

    // A reader takes a handle before it opens a folder; false when none is
    // left. Any thread.
    bool take() {
        if (readers_held_.fetch_add(1, std::memory_order_relaxed) < readers_limit_) return true;
        give_back();
        return false;
    }
    // Once the folder a reader took a handle for is closed. Any thread.
    void give_back() { readers_held_.fetch_sub(1, std::memory_order_relaxed); }

    // Whether a reader may keep the handle it took once it has read the
    // folder, so that it or the walk can open the folder's subfolders from
    // it: `reading` handles stay free for the readers' next opens.
    bool may_keep(std::size_t reading) const {
        return readers_held_.load(std::memory_order_relaxed) + reading <= readers_limit_;
    }

  private:
    DescriptorBudget descent_;
    std::atomic<std::size_t> readers_held_{0};
    const std::size_t readers_limit_;
};

}  // namespace kestrafin::search
