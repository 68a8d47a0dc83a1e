// The system's words for errors reach UTF-8 output as UTF-8. ctest runs this
// once more in a French session (ErrorTexts.InAFrenchSession), where the C++
// runtime's own words come in code page 1252: "Acc\xE8s refus\xE9".
#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/windows/system.h"

using kestrafin::platform::error_text;
using kestrafin::platform::failure_text;

TEST(ErrorTexts, AreTheSystemsWordsInUtf8WithoutTheirFullStop) {
    const struct {
        LANGID language;
        const char* access_denied;
    } rows[] = {
        {LANG_ENGLISH, "Access denied"},
        {LANG_FRENCH, "Acc\u00e8s refus\u00e9"},
    };
    const LANGID session = PRIMARYLANGID(::GetUserDefaultUILanguage());
    const std::error_code denied(ERROR_ACCESS_DENIED, std::system_category());
    bool known = false;
    for (const auto& [language, access_denied] : rows) {
        if (language != session) continue;
        known = true;
        EXPECT_EQ(error_text(denied), access_denied);
        const std::string what = "cannot read 'C:\\Donn\u00e9es'";
        EXPECT_EQ(failure_text(std::system_error(denied, what)), what + ": " + access_denied);
    }
    if (!known) GTEST_SKIP() << "no words known for the session's language " << session;
}
