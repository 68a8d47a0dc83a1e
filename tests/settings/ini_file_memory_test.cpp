// The settings file's memory, measured by the allocator: this program
// replaces operator new to count the live bytes and their high-water mark,
// and to fail allocations past a limit the test sets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "platform/files.h"
#include "settings/ini_file.h"
#include "tests/support/temp_tree.h"

namespace {

std::atomic<std::size_t> live{0};
std::atomic<std::size_t> high_water{0};
std::atomic<std::size_t> limit{std::numeric_limits<std::size_t>::max()};
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* counted(std::size_t size) {
    const std::size_t now = live.fetch_add(size) + size;
    if (now > limit.load()) {
        live.fetch_sub(size);
        throw std::bad_alloc();
    }
    for (std::size_t seen = high_water.load();
         now > seen && !high_water.compare_exchange_weak(seen, now);) {
    }
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) {
        live.fetch_sub(size);
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    return static_cast<char*>(block) + kHeader;
}

void released(void* pointer) noexcept {
    if (pointer == nullptr) return;
    char* block = static_cast<char*>(pointer) - kHeader;
    live.fetch_sub(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

// The most bytes live at once while `work` ran, beyond those live before.
template <typename Work>
std::size_t peak_during(Work work) {
    const std::size_t before = live.load();
    high_water = before;
    work();
    return high_water.load() - before;
}

constexpr std::size_t kMegabyte = 1 << 20;

}  // namespace

void* operator new(std::size_t size) {
    return counted(size);
}
void* operator new[](std::size_t size) {
    return counted(size);
}
void operator delete(void* pointer) noexcept {
    released(pointer);
}
void operator delete[](void* pointer) noexcept {
    released(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    released(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    released(pointer);
}

using namespace kestrafin::testing;

struct Layout {
    const char* name;
    const char* before;  // the text before 16 MB of short key lines
    const char* after;   // and after them
};

class SettingsFileMemory : public ::testing::TestWithParam<Layout> {};

// Peak memory grows with the longest line, never with the file: the rewrite
// holds a piece of the file, the line being read and the writer's buffer of
// about a megabyte (which may double once as it fills).
TEST_P(SettingsFileMemory, ReadingAndRewritingHoldAFewLinesNotTheFile) {
    TempFolder folder;
    const std::string path = folder / "kestrafin.ini";
    {
        std::string text = GetParam().before;
        for (int i = 0; text.size() < 16 * kMegabyte; ++i)
            text += "KEY" + std::to_string(i) + "=a value of a few words\r\n";
        text += GetParam().after;
        make_file(path, text);
    }
    const std::size_t allowance = 4 * kMegabyte;
    EXPECT_LT(peak_during([&] { Kestrafin_Lib::writeini(path, "PATH", "FULLPATH", "new"); }),
              allowance);
    std::string value;
    EXPECT_LT(peak_during([&] { value = Kestrafin_Lib::readini(path, "PATH", "FULLPATH"); }),
              allowance);
    EXPECT_EQ(value, "new");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SettingsFileMemory,
    ::testing::Values(Layout{"KeyReplacedInTheFirstSection", "[PATH]\r\nFULLPATH=old\r\n", ""},
                      Layout{"KeyAddedToTheLastSection", "[OTHER]\r\n", "[PATH]\r\nA=1\r\n"},
                      Layout{"SectionAppended", "[OTHER]\r\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFileMemory, WithoutMemoryForItsLongestLineEachOperationSaysSoAndTheFileStays) {
    TempFolder folder;
    const std::string path = folder / "kestrafin.ini";
    const std::string text = "[PATH]\r\nFULLPATH=" + std::string(16 * kMegabyte, 'v') + "\r\n";
    make_file(path, text);
    const auto failure = [&](auto operation) -> std::string {
        limit = live.load() + 4 * kMegabyte;
        std::string what = "no error";
        try {
            operation();
        } catch (const kestrafin::platform::NotEnoughMemory& error) {
            what = error.what();
        }
        limit = std::numeric_limits<std::size_t>::max();
        return what;
    };
    EXPECT_EQ(failure([&] { Kestrafin_Lib::writeini(path, "PATH", "FULLPATH", "new"); }),
              "not enough memory to rewrite settings file '" + path + "' (16.0 MB)");
    EXPECT_EQ(failure([&] { Kestrafin_Lib::readini(path, "PATH", "FULLPATH"); }),
              "not enough memory to read settings file '" + path + "' (16.0 MB)");
    EXPECT_EQ(read_bytes(path), text);
}
