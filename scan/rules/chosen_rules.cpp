#include "scan/rules/chosen_rules.h"

#include <algorithm>

#include "scan/rules/rule_list.h"
#include "search/path_text.h"

namespace kestrafin::scan {

void set_length_rules(LengthRules& rules, const CheckProfile& profile) {
    ProfileSet alone;
    alone.add(profile.id);
    for (const Rule* rule : kRules)
        if (const auto* lengths = std::get_if<JudgesLengths>(&rule->judges))
            // A rule the profile does not set keeps what an earlier option gave it.
            if (const auto limit = least_chosen(lengths->longer_than, alone))
                rules.*lengths->rule = limit;
}

void merge_length_rules(LengthRules& rules, std::span<const CheckProfile* const> profiles) {
    const ProfileSet chosen(profiles);
    for (const Rule* rule : kRules)
        if (const auto* lengths = std::get_if<JudgesLengths>(&rule->judges)) {
            std::optional<std::size_t>& limit = rules.*lengths->rule;
            if (const auto least = least_chosen(lengths->longer_than, chosen))
                limit = std::min(limit.value_or(*least), *least);
        }
}

NameRules::NameRules(std::span<const CheckProfile* const> profiles) : any_(!profiles.empty()) {
    const ProfileSet chosen(profiles);
    if (chosen.empty()) return;
    for (const Rule* rule : kRules) {
        const Reason reason = reason_of(*rule);
        if (const auto* each_name = std::get_if<JudgesEachName>(&rule->judges)) {
            NameTests tests;
            each_name->set_up(chosen, tests);
            for (std::size_t byte = 0; byte < 256; ++byte) {
                if (tests.anywhere[byte]) anywhere_[byte].add(reason);
                if (tests.first[byte]) first_[byte].add(reason);
                if (tests.last[byte]) last_[byte].add(reason);
            }
            if (tests.longer_than) {
                limits_.push_back({*tests.longer_than, reason});
                shortest_limit_ = std::min(shortest_limit_, *tests.longer_than);
            }
            for (const NameTest test : tests.when) tests_.push_back({test, reason});
        } else if (const auto* folder_names = std::get_if<JudgesFolderNames>(&rule->judges)) {
            if (std::unique_ptr<FolderNamesJudge> judge = folder_names->make(chosen))
                folder_judges_.push_back({std::move(judge), reason});
        }
    }
}

Reasons NameRules::judge(std::string_view name, bool folder_in_root) const {
    Reasons reasons;
    if (name.empty()) return reasons;
    reasons.add(first_[static_cast<unsigned char>(name.front())]);
    reasons.add(last_[static_cast<unsigned char>(name.back())]);
    for (const char c : name) reasons.add(anywhere_[static_cast<unsigned char>(c)]);
    // A name never has more UTF-16 units than bytes.
    if (name.size() > shortest_limit_) {
        const std::size_t units = search::utf16_length(name);
        for (const Limit& limit : limits_)
            if (units > limit.units) reasons.add(limit.reason);
    }
    for (const Test& test : tests_)
        if (!reasons.has(test.reason) && test.test(name, folder_in_root)) reasons.add(test.reason);
    return reasons;
}

void NameRules::judge_folder(const std::vector<std::string_view>& names,
                             std::vector<Reasons>& reasons) {
    for (FolderJudge& folder : folder_judges_) {
        breaking_.assign(names.size(), false);
        folder.judge->judge(names, breaking_);
        for (std::size_t at = 0; at < names.size(); ++at)
            if (breaking_[at]) reasons[at].add(folder.reason);
    }
}

}  // namespace kestrafin::scan
