// For tests that stand in for a walk or for its visitor: events told one
// call each.
#pragma once

#include <string_view>

#include "search/walk_visitor.h"

namespace kestrafin::testing {

inline search::Answer tell_file(search::WalkVisitor& visitor, std::string_view path) {
    return visitor.visit({.kind = search::WalkEventKind::file, .path = path});
}
inline search::Answer tell_entered(search::WalkVisitor& visitor, std::string_view directory,
                                   const search::FolderNames& names = {}) {
    return visitor.visit(
        {.kind = search::WalkEventKind::folder_entered, .path = directory, .names = names});
}
inline search::Answer tell_done(search::WalkVisitor& visitor, std::string_view directory) {
    return visitor.visit({.kind = search::WalkEventKind::folder_done, .path = directory});
}
inline search::Answer tell_not_read(search::WalkVisitor& visitor, std::string_view directory,
                                    int error) {
    return visitor.visit(
        {.kind = search::WalkEventKind::folder_not_read, .path = directory, .error = error});
}
inline search::Answer tell_not_entered(search::WalkVisitor& visitor, std::string_view directory,
                                       search::NotEntered reason) {
    return visitor.visit(
        {.kind = search::WalkEventKind::folder_not_entered, .path = directory, .reason = reason});
}

// The walk's own visitor of one hook per kind of event.
using WalkHooks = search::WalkHooks;

}  // namespace kestrafin::testing
