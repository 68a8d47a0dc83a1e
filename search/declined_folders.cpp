#include "search/declined_folders.h"

#include <utility>

#include "search/searchfiles.h"

namespace kestrafin::search {

std::string declined_text(const DeclinedFolders& declined) {
    if (declined.total() == 0) return {};
    std::string text = std::to_string(declined.total()) +
                       (declined.total() == 1 ? " folder" : " folders") + " not entered: ";
    const std::pair<std::size_t, std::string> reasons[] = {
        {declined.cycles, " leading back into the walk"},
        {declined.link_webs, " already walked through a link"},
        {declined.path_cycles, " leading back into the walk by their path"},
        {declined.too_many_links,
         " below more than " + std::to_string(kMostLinksWithoutIdentity) + " links"},
        {declined.system_folders, " kept by the system"},
    };
    bool first = true;
    for (const auto& [count, reason] : reasons) {
        if (count == 0) continue;
        if (!first) text += ", ";
        text += std::to_string(count) + reason;
        first = false;
    }
    return text;
}

}  // namespace kestrafin::search
