#include "scan/report.h"

namespace kestrafin::scan {

void ScanReport::folder_unreadable(std::string_view directory, int error) {
    // The walk reports the root as given when it cannot open it, before any
    // folder is done.
    if (folders_read_ == 0 && unreadable_ == 0 && directory == root_) first_root_error_ = error;
    ++unreadable_;
    if (named_.size() < kNamedUnreadable) named_.push_back({std::string(directory), error});
}

void ScanReport::folder_not_entered(std::string_view directory, search::NotEntered reason) {
    declined_.count(reason);
    if (named_declined_.size() < kNamedNotEntered)
        named_declined_.push_back({std::string(directory), reason});
}

std::optional<int> ScanReport::root_error() const {
    if (folders_read_ > 0) return std::nullopt;
    return first_root_error_;
}

ScanEnd ScanReport::end() const {
    // A walk that ran out of memory is incomplete however far it got: what it
    // found is written.
    if (folders_read_ == 0 && !out_of_memory) return ScanEnd::root_not_walked;
    if (unreadable_ > 0 || out_of_memory) return ScanEnd::incomplete;
    return ScanEnd::complete;
}

}  // namespace kestrafin::scan
