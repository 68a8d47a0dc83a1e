// The destinations a tree can be checked for before a move (--check), each a
// row of numbers and rules in one table, and the judging of one name by the
// rules of the profiles chosen together.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/name_folding.h"
#include "scan/reasons.h"

namespace kestrafin::scan {

struct CheckProfile {
    std::string_view name;
    // Length rules, in UTF-16 code units; none where the destination sets none.
    std::optional<std::size_t> path_longer_than;
    std::optional<std::size_t> folder_longer_than;
    std::optional<std::size_t> name_longer_than;
    // CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (and COM/LPT with a superscript
    // digit), alone or before an extension.
    bool device_names = false;
    // Names the service keeps: ".lock", "desktop.ini", names starting with
    // "~$" or holding "_vti_", and a folder "forms" in the library's root.
    bool service_names = false;
    std::string_view invalid_characters;
    bool control_characters = false;  // 1 to 31
    std::string_view trailing_characters;
    bool leading_space = false;
    // Names of one folder that the destination takes for one: by case alone
    // as NTFS compares them, or by case after composing as the service does.
    bool case_collisions = false;
    bool composed_case_collisions = false;
};

// windows: a Windows file system reached the classic way (MAX_PATH).
// sharepoint: SharePoint Online and OneDrive in the service; its path counts
//   from the target prefix's path.
// onedrive: files synced down to a Windows PC: the sharepoint rules and the
//   windows name rules together, names compared both ways.
inline constexpr std::array<CheckProfile, 3> kCheckProfiles{{
    {.name = "windows",
     .path_longer_than = 259,
     .folder_longer_than = 247,
     .name_longer_than = 255,
     .device_names = true,
     .service_names = false,
     .invalid_characters = "<>:\"/\\|?*",
     .control_characters = true,
     .trailing_characters = " .",
     .leading_space = false,
     .case_collisions = true},
    {.name = "sharepoint",
     .path_longer_than = 400,
     .folder_longer_than = std::nullopt,
     .name_longer_than = std::nullopt,
     .device_names = true,
     .service_names = true,
     .invalid_characters = "\"*:<>?/\\|",
     .control_characters = false,
     .trailing_characters = " ",
     .leading_space = true,
     .composed_case_collisions = true},
    {.name = "onedrive",
     .path_longer_than = 400,
     .folder_longer_than = std::nullopt,
     .name_longer_than = 255,
     .device_names = true,
     .service_names = true,
     .invalid_characters = "<>:\"/\\|?*",
     .control_characters = true,
     .trailing_characters = " .",
     .leading_space = true,
     .case_collisions = true,
     .composed_case_collisions = true},
}};

// The profile called `name`; null when there is none.
const CheckProfile* find_check_profile(std::string_view name);

// The name rules of several profiles at once: a name breaks a rule when it
// breaks it under any of them.
class NameRules {
  public:
    NameRules() = default;
    explicit NameRules(std::span<const CheckProfile* const> profiles);

    bool any() const { return any_; }
    bool collisions() const { return !collision_comparisons_.empty(); }
    // Each way the chosen destinations compare names, each once.
    const std::vector<platform::NameComparison>& collision_comparisons() const {
        return collision_comparisons_;
    }

    // What `name` breaks. `folder_in_root` tells a folder lying directly in
    // the walk's root, which is the target's library root.
    Reasons judge(std::string_view name, bool folder_in_root) const;

  private:
    std::array<bool, 256> invalid_{};
    std::array<bool, 256> trailing_{};
    std::optional<std::size_t> name_longer_than_;
    bool device_names_ = false;
    bool service_names_ = false;
    bool leading_space_ = false;
    std::vector<platform::NameComparison> collision_comparisons_;
    bool any_ = false;
};

}  // namespace kestrafin::scan
