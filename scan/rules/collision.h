// collision: names of one folder that the destination takes for one, each of
// them listed. windows compares by case alone, as NTFS does; sharepoint by
// case after composing, as the service does; onedrive lands in both and
// compares both ways.
#pragma once

#include <algorithm>

#include "platform/name_folding.h"
#include "scan/rules/name_collisions.h"
#include "scan/rules/rule.h"

namespace kestrafin::scan {

namespace collisions {

using platform::NameComparison;

inline constexpr ProfileUse<NameComparison> kUses[] = {
    {Profile::windows, NameComparison::case_only},
    {Profile::sharepoint, NameComparison::composed_case},
    {Profile::onedrive, NameComparison::case_only},
    {Profile::onedrive, NameComparison::composed_case},
};

// Each way the chosen destinations compare names, each once.
class Judge : public FolderNamesJudge {
  public:
    explicit Judge(std::vector<NameComparison> comparisons)
        : comparisons_(std::move(comparisons)) {}
    void judge(const std::vector<std::string_view>& names, std::vector<bool>& breaking) override {
        for (const NameComparison comparison : comparisons_)
            collisions_.find(names, comparison, breaking);
    }

  private:
    std::vector<NameComparison> comparisons_;
    NameCollisions collisions_;
};

}  // namespace collisions

inline constexpr Rule kCollisionRule{
    .code = "collision",
    .judges = JudgesFolderNames{.make = [](ProfileSet chosen) -> std::unique_ptr<FolderNamesJudge> {
        std::vector<platform::NameComparison> comparisons;
        each_chosen(collisions::kUses, chosen, [&](platform::NameComparison comparison) {
            if (std::find(comparisons.begin(), comparisons.end(), comparison) == comparisons.end())
                comparisons.push_back(comparison);
        });
        if (comparisons.empty()) return nullptr;
        return std::make_unique<collisions::Judge>(std::move(comparisons));
    }}};

}  // namespace kestrafin::scan
