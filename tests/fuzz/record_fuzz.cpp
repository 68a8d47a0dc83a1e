// Records of any bytes: the reader refuses or reads them, never crashing,
// and wherever the plain reader reads a line the full parser reads it alike.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "scan/record/line_readers.h"
#include "scan/record/record_reader.h"

using namespace kestrafin::scan::record;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t at = 0;
    // Small pieces, so that lines straddle them.
    const ReadSome reading = [&](char* into, std::size_t room) {
        const std::size_t got = std::min({room, bytes.size() - at, std::size_t{7}});
        std::memcpy(into, bytes.data() + at, got);
        at += got;
        return got;
    };
    RecordVisitor visitor;
    try {
        read_record("fuzz.jsonl", reading, visitor);
    } catch (const RecordError&) {
    }
    for (std::size_t start = 0; start <= bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(start, end - start);
        if (const auto plain = detail::plain_parse(line))
            if (*plain != detail::full_parse(line)) std::abort();
        start = end + 1;
    }
    return 0;
}
