// The rules of the profiles chosen together, set up for judging: an entry
// breaks a rule when it breaks it under any of them.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "scan/reasons.h"
#include "scan/rules/check_profiles.h"
#include "scan/rules/length_rules.h"
#include "scan/rules/rule.h"

namespace kestrafin::scan {

// Sets each length rule that `profile` alone sets to its number (--limit);
// the others keep what they held.
void set_length_rules(LengthRules& rules, const CheckProfile& profile);
// Lowers each length rule to the least that one of `profiles` sets.
void merge_length_rules(LengthRules& rules, std::span<const CheckProfile* const> profiles);

// The name rules of the chosen profiles: those that judge each name, merged
// into tables that look at a name's bytes once, and those that judge a
// folder's names together.
class NameRules {
  public:
    NameRules() = default;
    explicit NameRules(std::span<const CheckProfile* const> profiles);

    // Whether names are checked at all: some profile was chosen.
    bool any() const { return any_; }
    // Whether a folder's names are judged together, which holds its files
    // until it is read.
    bool compares_names() const { return !folder_judges_.empty(); }

    // What `name` breaks. `folder_in_root` tells a folder lying directly in
    // the walk's root, which is the target's library root.
    Reasons judge(std::string_view name, bool folder_in_root) const;
    // Adds to reasons[i] what names[i], of one folder, breaks together with
    // the others; `reasons` holds one entry per name.
    void judge_folder(const std::vector<std::string_view>& names, std::vector<Reasons>& reasons);

  private:
    struct Limit {
        std::size_t units;
        Reason reason;
    };
    struct Test {
        NameTest test;
        Reason reason;
    };
    struct FolderJudge {
        std::unique_ptr<FolderNamesJudge> judge;
        Reason reason;
    };
    std::array<Reasons, 256> anywhere_{};
    std::array<Reasons, 256> first_{};
    std::array<Reasons, 256> last_{};
    std::vector<Limit> limits_;
    std::size_t shortest_limit_ = static_cast<std::size_t>(-1);
    std::vector<Test> tests_;
    std::vector<FolderJudge> folder_judges_;
    std::vector<bool> breaking_;  // kept for its memory
    bool any_ = false;
};

}  // namespace kestrafin::scan
