// Saves one file over and over, as the window saves its list, and writes one
// byte to standard output after each piece it hands the writer and after each
// save, so that a test can end it at a point of its choosing. The content of
// save k is saved_content(k) (tests/support/saved_content.h).
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "tests/support/saved_content.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string path = argv[1];
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    for (unsigned save = 1;; ++save) {
        const std::string content = kestrafin::testing::saved_content(save);
        kestrafin::platform::AtomicFileWriter writer(path, "saved list");
        for (std::size_t at = 0; at < content.size(); at += kestrafin::testing::kSavedPiece) {
            writer.write(std::string_view(content).substr(at, kestrafin::testing::kSavedPiece));
            std::fputc('w', stdout);
        }
        writer.commit();
        std::fputc('s', stdout);
    }
}
