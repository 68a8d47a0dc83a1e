// invalid_character: a name holds a character the destination refuses.
// windows and onedrive (synced to NTFS): < > : " / \ | ? * and the control
// characters 1 to 31; sharepoint: " * : < > ? / \ |.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

namespace invalid_characters {

struct Refused {
    std::string_view characters;
    bool control_characters = false;  // 1 to 31
};

inline constexpr ProfileUse<Refused> kUses[] = {
    {Profile::windows, {.characters = "<>:\"/\\|?*", .control_characters = true}},
    {Profile::sharepoint, {.characters = "\"*:<>?/\\|", .control_characters = false}},
    {Profile::onedrive, {.characters = "<>:\"/\\|?*", .control_characters = true}},
};

}  // namespace invalid_characters

inline constexpr Rule kInvalidCharacterRule{
    .code = "invalid_character",
    .judges = JudgesEachName{.set_up = [](ProfileSet chosen, NameTests& tests) {
        each_chosen(invalid_characters::kUses, chosen, [&](invalid_characters::Refused use) {
            tests.refuse_anywhere(use.characters);
            if (use.control_characters) tests.refuse_anywhere(1, 31);
        });
    }}};

}  // namespace kestrafin::scan
