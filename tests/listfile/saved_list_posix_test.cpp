// Saving the list against a file size limit and POSIX rights.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <system_error>

#include "listfile/saved_list.h"
#include "listfile/saved_list_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::listfile;
using namespace kestrafin::testing;

namespace {

void save(const std::string& path, const std::vector<std::string>& texts) {
    save_list(path, [&](const auto& add) {
        for (const auto& text : texts) add(text);
    });
}

}  // namespace

TEST(SavedList, AFailedSaveKeepsThePreviousFile) {
    TempFolder folder;
    const std::string path = folder / std::string(kSavedListName);
    make_file(path, "\"/previous\"\r\n");
    // A file size limit stops the save half way, for root as for anybody.
    const ChildResult limited = in_child(false, [&]() -> std::string {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            save(path, std::vector<std::string>(1000, "/new/entry"));
        } catch (const std::system_error& error) {
            return error.what();
        }
        return "no error";
    });
    EXPECT_NE(limited.report.find("File too large"), std::string::npos) << limited.report;
    EXPECT_EQ(read_bytes(path), "\"/previous\"\r\n");

    // A read-only saved file is respected, also when the user is root.
    const std::string guarded = folder / "guarded.dxb";
    make_file(guarded, "\"/kept\"\r\n");
    chmod(guarded.c_str(), 0444);
    try {
        save(guarded, {"/new"});
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EACCES);
        EXPECT_NE(std::string(error.what()).find(guarded), std::string::npos);
    }
    EXPECT_EQ(read_bytes(guarded), "\"/kept\"\r\n");
}

TEST(SavedListReader, RefusesAListTheKernelMakesUp) {
    // /proc/self/pagemap looks like a regular file and never ends.
    TempFolder folder;
    const std::string path = folder / std::string(kSavedListName);
    make_link("/proc/self/pagemap", path);
    try {
        SavedListReader reader(path);
        ADD_FAILURE() << "opened";
    } catch (const std::system_error& error) {
        EXPECT_NE(std::string(error.what()).find("it lies on a kernel file system"),
                  std::string::npos)
            << error.what();
    }
}
