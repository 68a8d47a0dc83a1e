// The name rules of each --check profile at their boundaries, each name on
// its own and a folder's names together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/rules/chosen_rules.h"
#include "scan/rules/rule_list.h"

using namespace kestrafin::scan;

namespace {

std::string codes(Reasons reasons) {
    std::string text;
    reasons.each([&](Reason reason) {
        if (!text.empty()) text += ' ';
        text += reason_code(reason);
    });
    return text;
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

struct NameCase {
    std::string name;
    bool folder_in_root;
    const char* windows;
    const char* sharepoint;
    const char* onedrive;
};

const std::string kE = "\xC3\xA9";             // é: one UTF-16 unit, two bytes
const std::string kClef = "\xF0\x9D\x84\x9E";  // 𝄞: two UTF-16 units, four bytes

const NameCase kNames[] = {
    {"Report 2024.docx", false, "", "", ""},
    {repeated(kE, 255), false, "", "", ""},
    {repeated(kE, 256), false, "name_length", "", "name_length"},
    {repeated(kClef, 127) + "a", false, "", "", ""},
    {repeated(kClef, 128), false, "name_length", "", "name_length"},
    {"CON", false, "reserved_name", "reserved_name", "reserved_name"},
    {"con.txt", false, "reserved_name", "reserved_name", "reserved_name"},
    {"NUL .tar.gz", false, "reserved_name", "reserved_name", "reserved_name"},
    {"Com0", false, "reserved_name", "reserved_name", "reserved_name"},
    {"LPT9.log", false, "reserved_name", "reserved_name", "reserved_name"},
    {"COM\xC2\xB9", false, "reserved_name", "reserved_name", "reserved_name"},
    {"lpt\xC2\xB3.txt", false, "reserved_name", "reserved_name", "reserved_name"},
    {"COM10", false, "", "", ""},
    {"CONSOLE", false, "", "", ""},
    {"my.con", false, "", "", ""},
    {"AUXx", false, "", "", ""},
    {".lock", false, "", "reserved_name", "reserved_name"},
    {"x.lock", false, "", "", ""},
    {"Desktop.INI", false, "", "reserved_name", "reserved_name"},
    {"~$Budget.xlsx", false, "", "reserved_name", "reserved_name"},
    {"a~$", false, "", "", ""},
    {"site_VTI_cnf", false, "", "reserved_name", "reserved_name"},
    {"forms", true, "", "reserved_name", "reserved_name"},
    {"Forms", false, "", "", ""},
    {"formsx", true, "", "", ""},
    {"a<b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a>b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a:b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a\"b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a\\b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a|b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a?b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a*b", false, "invalid_character", "invalid_character", "invalid_character"},
    {"a\x01"
     "b",
     false, "invalid_character", "", "invalid_character"},
    {"a\x1F"
     "b",
     false, "invalid_character", "", "invalid_character"},
    {"a\x7F"
     "b",
     false, "", "", ""},
    {"a #%&{}~.txt", false, "", "", ""},
    {"name.", false, "trailing_space_or_period", "", "trailing_space_or_period"},
    {"name ", false, "trailing_space_or_period", "trailing_space_or_period",
     "trailing_space_or_period"},
    {" name", false, "", "leading_space", "leading_space"},
    {".hidden", false, "", "", ""},
    {" CON.", false, "trailing_space_or_period", "leading_space",
     "trailing_space_or_period leading_space"},
    {"PRN?.", false, "invalid_character trailing_space_or_period", "invalid_character",
     "invalid_character trailing_space_or_period"},
};

void PrintTo(const NameCase& one, std::ostream* out) {
    *out << ::testing::PrintToString(one.name) << (one.folder_in_root ? " in the root" : "");
}

class ProfileNames : public ::testing::TestWithParam<NameCase> {};

}  // namespace

TEST_P(ProfileNames, EachProfileFindsWhatItsDestinationRefuses) {
    const NameCase& one = GetParam();
    const char* expected[] = {one.windows, one.sharepoint, one.onedrive};
    static_assert(std::size(expected) == kCheckProfiles.size());
    for (std::size_t at = 0; at < kCheckProfiles.size(); ++at) {
        const CheckProfile* profile = &kCheckProfiles[at];
        EXPECT_EQ(codes(NameRules({&profile, 1}).judge(one.name, one.folder_in_root)), expected[at])
            << profile->name;
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ProfileNames, ::testing::ValuesIn(kNames));

TEST(ProfileNames, ProfilesTogetherBreakWhatAnyOfThemBreaks) {
    const CheckProfile* both[] = {find_check_profile("windows"), find_check_profile("sharepoint")};
    EXPECT_EQ(codes(NameRules(both).judge(" a.", false)), "trailing_space_or_period leading_space");
    EXPECT_EQ(find_check_profile("mac"), nullptr);
}

namespace {

struct FolderCase {
    std::vector<std::string_view> names;  // of one folder
    // Per profile, the reasons of each name that the names together give.
    std::vector<const char*> windows;
    std::vector<const char*> sharepoint;
    std::vector<const char*> onedrive;
};

const FolderCase kFolders[] = {
    {{"Report.docx", "report.DOCX", "notes"},
     {"collision", "collision", ""},
     {"collision", "collision", ""},
     {"collision", "collision", ""}},
    // Composed and decomposed: NTFS keeps both side by side, the service does not.
    {{"Caf\xC3\xA9", "Cafe\xCC\x81"},
     {"", ""},
     {"collision", "collision"},
     {"collision", "collision"}},
    {{"a", "b", "c"}, {"", "", ""}, {"", "", ""}, {"", "", ""}},
};

}  // namespace

TEST(ProfileFolderNames, EachProfileComparesNamesAsItsDestinationDoes) {
    for (const FolderCase& folder : kFolders) {
        const std::vector<const char*>* expected[] = {&folder.windows, &folder.sharepoint,
                                                      &folder.onedrive};
        for (std::size_t at = 0; at < kCheckProfiles.size(); ++at) {
            const CheckProfile* profile = &kCheckProfiles[at];
            NameRules rules({&profile, 1});
            EXPECT_TRUE(rules.compares_names()) << profile->name;
            std::vector<Reasons> reasons(folder.names.size());
            rules.judge_folder(folder.names, reasons);
            std::vector<std::string> found;
            for (const Reasons& one : reasons) found.push_back(codes(one));
            EXPECT_EQ(found, std::vector<std::string>(expected[at]->begin(), expected[at]->end()))
                << profile->name << " " << folder.names[0];
        }
    }
}

TEST(CheckRules, KeepTheCodesAndTheirOrderThatScriptsRead) {
    std::vector<std::string> found;
    for (const Rule* rule : kRules) found.emplace_back(reason_code(reason_of(*rule)));
    found.emplace_back(reason_code(kUnreadable));
    EXPECT_EQ(found, (std::vector<std::string>{"path_length", "folder_length", "name_length",
                                               "reserved_name", "invalid_character",
                                               "trailing_space_or_period", "leading_space",
                                               "collision", "unreadable"}))
        << "a new rule goes after the last, before unreadable";
}
