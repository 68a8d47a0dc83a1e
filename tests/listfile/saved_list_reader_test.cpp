#include "listfile/saved_list_reader.h"

#include <gtest/gtest.h>

#include <system_error>

#include "listfile/saved_list.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::listfile;
using namespace kestrafin::testing;

namespace {

// The fields of the file read whole, in the program's text.
std::vector<std::string> whole_file_fields(const std::string& path) {
    std::vector<std::string> fields;
    load_list(path, [&](std::string_view text) { fields.emplace_back(text); });
    return fields;
}

std::vector<std::string> streamed_fields(const std::string& path, std::size_t piece_size) {
    std::vector<std::string> fields;
    SavedListReader reader(path, piece_size);
    reader.read_all([&](std::string_view text) { fields.emplace_back(text); });
    return fields;
}

// Files whose fields end, or are split, at awkward places: quotes, doubled
// quotes, CR LF, lone CR and LF, missing closing quotes and line breaks.
const std::vector<std::string> kFiles = {
    "",
    "\"/a/b\"\r\n\"/c, d/e\"\r\n",
    "a,b\r\n",
    "\"a\"\r\n\r\n\"b\"\r\n",
    "  a  , b\r\n",
    "\"a\" junk,\"b\"x\r\n",
    "\"a\"\r\n\"rest, of\r\nfile",
    "\"a\"\r\n\"b\"",
    "a\nb\rc",
    "a\r",
    "\"a\"\r",
    "\"a\",\"b\"\r\n",
    "\"a\",\r\n",
    "\"say \"\"hi\"\"\"\r\n",
    "\"ends in a doubled quote\"\"",
    "\"\"\"\"\r\n\"\"\r\n",
    "\"/line\r\nbreak\"\r\n\"\xFF\xFE\"\r\n",
    "\xEF\xBB\xBF\"\xC3\xA9\"\r\n",
    ",,,\r\n\r\n",
};

}  // namespace

// Whatever size the pieces come in, streaming gives exactly the fields that
// reading the whole file gives.
TEST(SavedListReader, EveryPieceSizeReadsAsTheWholeFile) {
    TempFolder folder;
    const std::string path = folder / "kestrafinlist.dxb";
    for (const std::string& bytes : kFiles) {
        make_file(path, bytes);
        const auto expected = whole_file_fields(path);
        for (const std::size_t piece : {1, 2, 3, 5, 8, 64, 1 << 20})
            EXPECT_EQ(streamed_fields(path, piece), expected)
                << "piece " << piece << " of " << ::testing::PrintToString(bytes);
    }
}

TEST(SavedListReader, ALargeListStreamsInOrder) {
    TempFolder folder;
    const std::string path = folder / "kestrafinlist.dxb";
    std::vector<std::string> texts;
    std::string bytes;
    for (int i = 0; i < 20000; ++i) {
        texts.push_back("/srv/share, \"" + std::to_string(i) + "\"/" + std::string(i % 300, 'x'));
        append_record(bytes, texts.back());
    }
    make_file(path, bytes);
    EXPECT_EQ(streamed_fields(path, 4096), texts);
}

TEST(SavedListReader, AMissingFileFailsAtOpenAndAFailingReceiverStopsTheRead) {
    TempFolder folder;
    EXPECT_THROW(SavedListReader(folder / "missing.dxb"), std::system_error);

    const std::string path = folder / "kestrafinlist.dxb";
    make_file(path, "\"a\"\r\n\"b\"\r\n\"c\"\r\n");
    SavedListReader reader(path, 1);
    std::vector<std::string> seen;
    EXPECT_THROW(reader.read_all([&](std::string_view text) {
        seen.emplace_back(text);
        if (seen.size() == 2) throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}
