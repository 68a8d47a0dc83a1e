// Fuzzes the saved list reader on arbitrary bytes, and the round trip: the
// input, cut into texts at every NUL, is encoded and must read back to
// exactly those texts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "listfile/saved_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::size_t fields = 0;
    std::size_t total = 0;
    kestrafin::listfile::read_records(bytes, [&](std::string_view text) {
        ++fields;
        total += text.size();
    });
    if (total > bytes.size()) std::abort();   // texts come from the bytes, never more
    if (fields > bytes.size()) std::abort();  // every field consumes at least one byte

    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        const auto nul = bytes.find('\0', start);
        const auto end = nul == std::string_view::npos ? bytes.size() : nul;
        texts.emplace_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    std::string encoded;
    for (const auto& text : texts) kestrafin::listfile::append_record(encoded, text);
    std::vector<std::string> back;
    kestrafin::listfile::read_records(encoded,
                                      [&](std::string_view text) { back.emplace_back(text); });
    if (back != texts) std::abort();
    return 0;
}
