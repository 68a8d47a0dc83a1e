#include "search/declined_folders.h"

namespace kestrafin::search {

std::string declined_text(const DeclinedFolders& declined) {
    if (declined.total() == 0) return {};
    std::string text = std::to_string(declined.total()) +
                       (declined.total() == 1 ? " folder" : " folders") + " not entered: ";
    if (declined.cycles > 0)
        text += std::to_string(declined.cycles) + " leading back into the walk";
    if (declined.cycles > 0 && declined.link_webs > 0) text += ", ";
    if (declined.link_webs > 0)
        text += std::to_string(declined.link_webs) + " already walked through a link";
    return text;
}

}  // namespace kestrafin::search
