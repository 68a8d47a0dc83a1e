// For tests that stand in for a walk or for its visitor: events told one
// call each, and a visitor that takes each kind of event on a hook of its
// own and says after each event whether the walk is to stop.
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

struct WalkHooks : search::WalkVisitor {
    virtual void add_entry(std::string_view /*text*/) {}
    virtual void folder_listed(std::string_view /*directory*/,
                               const search::FolderNames& /*names*/) {}
    virtual void folder_unreadable(std::string_view /*directory*/, int /*error*/) {}
    virtual void folder_not_entered(std::string_view /*directory*/,
                                    search::NotEntered /*reason*/) {}
    virtual void folder_done(std::string_view /*directory*/) {}
    virtual bool should_stop() { return false; }

    search::Answer visit(const search::WalkEvent& event) final {
        using Kind = search::WalkEventKind;
        switch (event.kind) {
            case Kind::file:
                add_entry(event.path);
                break;
            case Kind::folder_entered:
                folder_listed(event.path, event.names);
                break;
            case Kind::folder_done:
                folder_done(event.path);
                break;
            case Kind::folder_not_read:
                folder_unreadable(event.path, event.error);
                break;
            case Kind::folder_not_entered:
                folder_not_entered(event.path, event.reason);
                break;
        }
        return should_stop() ? search::Answer::stop : search::Answer::go_on;
    }
};

}  // namespace kestrafin::testing
