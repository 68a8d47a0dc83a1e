#include "scan/reasons.h"

#include "scan/rules/rule_list.h"

namespace kestrafin::scan {

std::string_view reason_code(Reason reason) {
    if (reason == kUnreadable) return "unreadable";
    if (reason.index() < std::size(kRules)) return kRules[reason.index()]->code;
    return "unknown";
}

}  // namespace kestrafin::scan
