// Names quoted for a terminal: nothing that a terminal acts on gets through,
// and the quoted text is a shell word for exactly the name's bytes.
#include "scan/sinks/terminal_quote.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

using namespace kestrafin::scan;

namespace {

bool holds_terminal_controls(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte >= 0x7F) return true;
    }
    return false;
}

// What bash makes of `word`, byte for byte.
std::string as_bash_reads(const std::string& word) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return "(no pipe)";
    const std::string script = "printf %s " + word;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        execlp("bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipe_ends[1]);
    std::string out;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(pipe_ends[0], block, sizeof block)) > 0)
        out.append(block, static_cast<std::size_t>(got));
    close(pipe_ends[0]);
    waitpid(child, nullptr, 0);
    return out;
}

struct QuoteCase {
    const char* name;
    std::string bytes;
    std::string always;     // as diagnostics show it
    std::string as_needed;  // as entries on a terminal show it
    friend void PrintTo(const QuoteCase& c, std::ostream* out) { *out << c.name; }
};

class Quoting : public ::testing::TestWithParam<QuoteCase> {};

}  // namespace

TEST_P(Quoting, ShowsTheNameSafelyAndBashReadsItBack) {
    const QuoteCase& c = GetParam();
    EXPECT_EQ(quoted_for_terminal(c.bytes), c.always);
    EXPECT_EQ(escaped_for_terminal(c.bytes), c.as_needed);
    if (!c.bytes.empty()) {
        EXPECT_EQ(as_bash_reads(c.always), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, Quoting,
    ::testing::Values(
        QuoteCase{"Plain", "/srv/data/file.txt", "'/srv/data/file.txt'", "/srv/data/file.txt"},
        QuoteCase{"Blank", "/a b", "'/a b'", "'/a b'"},
        QuoteCase{"Apostrophe", "it's", "'it'\\''s'", "'it'\\''s'"},
        QuoteCase{"Empty", "", "''", "''"},
        QuoteCase{"TitleAndClearScreen", "evil\033]2;PWNED\a\033[2J",
                  "'evil'$'\\033'']2;PWNED'$'\\a\\033''[2J'",
                  "'evil'$'\\033'']2;PWNED'$'\\a\\033''[2J'"},
        QuoteCase{"LineBreakAndTab", "two\nlines\t", "'two'$'\\n''lines'$'\\t'",
                  "'two'$'\\n''lines'$'\\t'"},
        QuoteCase{"InvalidUtf8", "bad\xFF\xC3", "'bad'$'\\377\\303'", "'bad'$'\\377\\303'"},
        QuoteCase{"EightBitControlSequenceIntroducer",
                  "x\xC2\x9B"
                  "2J",
                  "'x'$'\\302\\233''2J'", "'x'$'\\302\\233''2J'"},
        QuoteCase{"RightToLeftOverride", "invoice\xE2\x80\xAEtxt.exe",
                  "'invoice'$'\\342\\200\\256''txt.exe'", "'invoice'$'\\342\\200\\256''txt.exe'"},
        QuoteCase{"ValidUtf8StaysReadable", "/données/日本", "'/données/日本'", "/données/日本"},
        QuoteCase{"Delete", "a\x7F", "'a'$'\\177'", "'a'$'\\177'"},
        QuoteCase{"EncodedSurrogate", "w\xED\xA0\x80", "'w'$'\\355\\240\\200'",
                  "'w'$'\\355\\240\\200'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Quoting, NoByteATerminalActsOnSurvivesInAnyName) {
    // Every byte value between letters: a control is escaped, and a high byte
    // alone is invalid UTF-8, so what is shown is plain printable ASCII.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string name = "a" + std::string(1, static_cast<char>(byte)) + "b";
        for (const std::string& shown :
             {quoted_for_terminal(name), escaped_for_terminal(name), printable_text(name)})
            EXPECT_FALSE(holds_terminal_controls(shown)) << byte << ": " << shown;
    }
    EXPECT_EQ(printable_text("cannot read '/x\033[2J': No such file"),
              "cannot read '/x\\033[2J': No such file");
}
