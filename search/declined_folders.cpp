#include "search/declined_folders.h"

#include <utility>

#include "search/searchfiles.h"

namespace kestrafin::search {

void DeclinedFolders::count(NotEntered reason) {
    switch (reason) {
        case NotEntered::other_machine:
            ++other_machines;
            return;
        case NotEntered::offline:
            ++offline;
            return;
        case NotEntered::link:
            ++links;
            return;
        case NotEntered::other_volume:
            ++other_volumes;
            return;
        case NotEntered::system_folder:
            ++system_folders;
            return;
        case NotEntered::path_cycle:
            ++path_cycles;
            return;
        case NotEntered::too_many_links:
            ++too_many_links;
            return;
    }
}

std::string declined_text(const DeclinedFolders& declined) {
    if (declined.total() == 0) return {};
    std::string text = std::to_string(declined.total()) +
                       (declined.total() == 1 ? " folder" : " folders") + " not entered: ";
    const std::pair<std::size_t, std::string> parts[] = {
        {declined.cycles, " leading back into the walk"},
        {declined.link_webs, " already walked through a link"},
        {declined.path_cycles, " leading back into the walk by their path"},
        {declined.too_many_links,
         " below more than " + std::to_string(kMostLinksWithoutIdentity) + " links"},
        {declined.system_folders, " kept by the system"},
        {declined.other_machines, " on another machine"},
        {declined.offline, " offline"},
        {declined.links, declined.links == 1 ? " link not followed" : " links not followed"},
        {declined.other_volumes, " on another volume"},
    };
    bool first = true;
    for (const auto& [count, what] : parts) {
        if (count == 0) continue;
        if (!first) text += ", ";
        text += std::to_string(count) + what;
        first = false;
    }
    return text;
}

const char* not_entered_reason(NotEntered reason) {
    switch (reason) {
        case NotEntered::other_machine:
            return "it is a link to another machine, which would be sent this account's "
                   "credentials";
        case NotEntered::offline:
            return "it is offline (in the cloud), and reading it would fetch it; "
                   "--include-offline reads it";
        case NotEntered::link:
            return "it is a link, and --no-follow is given";
        case NotEntered::other_volume:
            return "it lies on another volume, and --one-file-system is given";
        case NotEntered::system_folder:
            return "the system marks it as its own and refuses to open it";
        case NotEntered::path_cycle:
            return "its path leads back to a folder that is being walked (the volume gives "
                   "folders no identity)";
        case NotEntered::too_many_links:
            return "it lies below more than 8 links, and the volume gives folders no "
                   "identity to tell a loop by";
    }
    return "";
}

}  // namespace kestrafin::search
