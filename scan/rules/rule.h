// What one rule of the --check profiles is: the reason code it gives an
// entry, what it needs from the walk and how it judges, set up for the
// profiles chosen. Each rule is a header of its own in this folder; the list
// of rules (rule_list.h) gives their order.
#pragma once

#include <bitset>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "scan/rules/check_profiles.h"
#include "scan/rules/length_rules.h"

namespace kestrafin::scan {

// Whether `name` breaks a rule; `folder_in_root` tells a folder lying
// directly in the walk's root, which is the target's library root.
using NameTest = bool (*)(std::string_view name, bool folder_in_root);

// How a name breaks one rule under the chosen profiles. The tests of all
// rules are merged into tables (NameRules), so that the bytes of a name are
// looked at once for all of them; `when` is for what no table tells.
struct NameTests {
    std::bitset<256> anywhere;               // bytes refused anywhere in a name
    std::bitset<256> first;                  // bytes refused as a name's first
    std::bitset<256> last;                   // bytes refused as a name's last
    std::optional<std::size_t> longer_than;  // UTF-16 units
    std::vector<NameTest> when;

    void refuse_anywhere(std::string_view bytes) { set(anywhere, bytes); }
    void refuse_anywhere(unsigned char from, unsigned char to) {
        for (unsigned byte = from; byte <= to; ++byte) anywhere.set(byte);
    }
    void refuse_first(std::string_view bytes) { set(first, bytes); }
    void refuse_last(std::string_view bytes) { set(last, bytes); }
    // The least of several limits stands.
    void refuse_longer_than(std::optional<std::size_t> units) {
        if (units && (!longer_than || *units < *longer_than)) longer_than = units;
    }
    void refuse_when(NameTest test) { when.push_back(test); }

  private:
    static void set(std::bitset<256>& bytes, std::string_view chosen) {
        for (const char c : chosen) bytes.set(static_cast<unsigned char>(c));
    }
};

// Judges the names of one folder together, for a rule no name breaks alone.
class FolderNamesJudge {
  public:
    virtual ~FolderNamesJudge() = default;
    // Sets breaking[i] for each of `names` that breaks the rule; `breaking`
    // holds one flag per name, all clear.
    virtual void judge(const std::vector<std::string_view>& names, std::vector<bool>& breaking) = 0;
};

// A limit on a length the walk measures (LengthRules), which every file's
// lengths are judged by; the walk applies the folder rule itself.
struct JudgesLengths {
    std::optional<std::size_t> LengthRules::*rule;
    std::span<const ProfileUse<std::size_t>> longer_than;
};

// Each name the walk reads, a file's or a folder's, on its own.
struct JudgesEachName {
    void (*set_up)(ProfileSet chosen, NameTests& tests);
};

// The names of one folder together: its files wait until it is read.
struct JudgesFolderNames {
    // Null when no chosen profile uses the rule.
    std::unique_ptr<FolderNamesJudge> (*make)(ProfileSet chosen);
};

struct Rule {
    // Written in CSV, JSON and the summary and matched by scripts: it never
    // changes once given.
    std::string_view code;
    std::variant<JudgesLengths, JudgesEachName, JudgesFolderNames> judges;
};

}  // namespace kestrafin::scan
