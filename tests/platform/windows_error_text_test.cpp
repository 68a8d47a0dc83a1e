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
        {LANG_FRENCH, "Acc\xC3\xA8s refus\xC3\xA9"},
    };
    const LANGID session = PRIMARYLANGID(::GetUserDefaultUILanguage());
    const std::error_code denied(ERROR_ACCESS_DENIED, std::system_category());
    bool known = false;
    for (const auto& [language, access_denied] : rows) {
        if (language != session) continue;
        known = true;
        EXPECT_EQ(error_text(denied), access_denied);
        const std::system_error raised(denied, "cannot read 'C:\\Donn\xC3\xA9" "es'");
        EXPECT_EQ(failure_text(raised),
                  std::string("cannot read 'C:\\Donn\xC3\xA9" "es': ") + access_denied);
    }
    if (!known) GTEST_SKIP() << "no words known for the session's language " << session;
}

TEST(ErrorTexts, OtherFailuresKeepTheirOwnText) {
    const std::runtime_error plain("a plain failure: \xC3\xA9");
    EXPECT_STREQ(failure_text(plain).c_str(), "a plain failure: \xC3\xA9");
    const std::system_error generic(std::make_error_code(std::errc::invalid_argument), "given");
    EXPECT_EQ(failure_text(generic), generic.what());
}
