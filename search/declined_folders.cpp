#include "search/declined_folders.h"

#include <utility>

#include "search/searchfiles.h"

namespace kestrafin::search {

std::size_t DeclinedFolders::total() const {
    std::size_t sum = 0;
    for (std::size_t reason = 0; reason < kNotEnteredReasons; ++reason)
        if (static_cast<NotEntered>(reason) != NotEntered::kernel_file_system)
            sum += counts_[reason];
    return sum;
}

std::string declined_text(const DeclinedFolders& declined) {
    if (declined.total() == 0) return {};
    std::string text = std::to_string(declined.total()) +
                       (declined.total() == 1 ? " folder" : " folders") + " not entered: ";
    const std::pair<std::size_t, std::string> parts[] = {
        {declined.of(NotEntered::cycle), " leading back into the walk"},
        {declined.of(NotEntered::link_web), " already walked through a link"},
        {declined.of(NotEntered::path_cycle), " leading back into the walk by their path"},
        {declined.of(NotEntered::too_many_links),
         " below more than " + std::to_string(kMostLinksWithoutIdentity) + " links"},
        {declined.of(NotEntered::system_folder), " kept by the system"},
        {declined.of(NotEntered::other_machine), " on another machine"},
        {declined.of(NotEntered::offline), " offline"},
        {declined.of(NotEntered::link),
         declined.of(NotEntered::link) == 1 ? " link not followed" : " links not followed"},
        {declined.of(NotEntered::other_volume), " on another volume"},
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
        case NotEntered::cycle:
            return "it leads back to a folder that is being walked";
        case NotEntered::link_web:
            return "its folder was already walked through a link";
        case NotEntered::kernel_file_system:
            return "it lies on a kernel file system, which holds no user files";
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
