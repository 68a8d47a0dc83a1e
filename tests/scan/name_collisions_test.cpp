// Collisions among the names of one folder, in work linear in the names.
#include "scan/rules/name_collisions.h"

#include <gtest/gtest.h>

using kestrafin::platform::NameComparison;

TEST(NameCollisions, AllCaseVariantsOfAWordCollideInLinearWork) {
    // The 2^16 case variants of a 16-letter word, then names that collide with none.
    const std::string word = "abcdefghijklmnop";
    std::vector<std::string> owned;
    for (unsigned variant = 0; variant < (1u << word.size()); ++variant) {
        owned.push_back(word);
        for (std::size_t at = 0; at < word.size(); ++at)
            if (variant & (1u << at)) owned.back()[at] = static_cast<char>(word[at] - 32);
    }
    const std::size_t variants = owned.size();
    owned.insert(owned.end(), {"abcdefghijklmno", "abcdefghijklmnop ", "Caf\xC3\xA9"});
    const std::vector<std::string_view> names(owned.begin(), owned.end());
    for (const auto comparison : {NameComparison::case_only, NameComparison::composed_case}) {
        kestrafin::scan::NameCollisions collisions;
        std::vector<bool> colliding(names.size(), false);
        collisions.find(names, comparison, colliding);
        for (std::size_t at = 0; at < names.size(); ++at) EXPECT_EQ(colliding[at], at < variants);
        // Comparing within the group pair by pair would take about 2^31.
        EXPECT_LE(collisions.comparisons(), 4 * names.size());
    }
}
