#include "scan/rules/check_profiles.h"

namespace kestrafin::scan {

const CheckProfile* find_check_profile(std::string_view name) {
    for (const CheckProfile& profile : kCheckProfiles)
        if (profile.name == name) return &profile;
    return nullptr;
}

}  // namespace kestrafin::scan
