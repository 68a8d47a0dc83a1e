// The destinations a tree can be checked for before a move (--check). A
// profile is only a name here: each rule (scan/rules/rule_list.h) says which
// profiles use it and with which numbers or characters.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrafin::scan {

// windows: a Windows file system reached the classic way (MAX_PATH).
// sharepoint: SharePoint Online and OneDrive in the service; its path counts
//   from the target prefix's path.
// onedrive: files synced down to a Windows PC: the sharepoint rules and the
//   windows name rules together, names compared both ways.
enum class Profile : std::uint8_t { windows, sharepoint, onedrive };

struct CheckProfile {
    Profile id;
    std::string_view name;  // as --check takes it
};

inline constexpr std::array<CheckProfile, 3> kCheckProfiles{{
    {Profile::windows, "windows"},
    {Profile::sharepoint, "sharepoint"},
    {Profile::onedrive, "onedrive"},
}};

// The profile called `name`; null when there is none.
const CheckProfile* find_check_profile(std::string_view name);

// Profiles chosen together.
class ProfileSet {
  public:
    constexpr ProfileSet() = default;
    explicit ProfileSet(std::span<const CheckProfile* const> profiles) {
        for (const CheckProfile* profile : profiles) add(profile->id);
    }
    constexpr void add(Profile profile) { bits_ |= bit(profile); }
    constexpr bool has(Profile profile) const { return (bits_ & bit(profile)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }

  private:
    static constexpr std::uint8_t bit(Profile profile) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(profile));
    }
    std::uint8_t bits_ = 0;
};

// What one profile sets for a rule; a rule lists one per profile using it.
template <typename Setting>
struct ProfileUse {
    Profile profile;
    Setting setting;
};

// Calls `visit` with the setting of each use whose profile is chosen.
template <typename Uses, typename Visit>
constexpr void each_chosen(const Uses& uses, ProfileSet chosen, Visit visit) {
    for (const auto& use : uses)
        if (chosen.has(use.profile)) visit(use.setting);
}

// Whether any of `profiles` is chosen.
template <typename Profiles>
constexpr bool any_chosen(const Profiles& profiles, ProfileSet chosen) {
    for (const Profile profile : profiles)
        if (chosen.has(profile)) return true;
    return false;
}

// The least number the chosen profiles set: an entry breaks a limit when it
// breaks it under any of them. None when no chosen profile sets one.
template <typename Uses>
constexpr std::optional<std::size_t> least_chosen(const Uses& uses, ProfileSet chosen) {
    std::optional<std::size_t> least;
    each_chosen(uses, chosen, [&](std::size_t limit) {
        if (!least || limit < *least) least = limit;
    });
    return least;
}

}  // namespace kestrafin::scan
