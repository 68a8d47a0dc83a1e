#include "scan/request.h"

namespace kestrafin::scan {

LengthRules effective_rules(const ScanRequest& request) {
    LengthRules rules = request.rules;
    if (!rules.folder_longer_than && !rules.file_longer_than)
        rules.folder_longer_than = search::kDefaultLongerThan;
    return rules;
}

}  // namespace kestrafin::scan
