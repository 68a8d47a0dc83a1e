#include "scan/reasons.h"

namespace kestrafin::scan {

std::string_view reason_code(Reason reason) {
    switch (reason) {
        case Reason::path_length:
            return "path_length";
        case Reason::folder_length:
            return "folder_length";
        case Reason::name_length:
            return "name_length";
        case Reason::reserved_name:
            return "reserved_name";
        case Reason::invalid_character:
            return "invalid_character";
        case Reason::trailing_space_or_period:
            return "trailing_space_or_period";
        case Reason::leading_space:
            return "leading_space";
        case Reason::collision:
            return "collision";
        case Reason::unreadable:
            return "unreadable";
    }
    return "unknown";
}

}  // namespace kestrafin::scan
