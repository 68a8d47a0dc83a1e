// A settings file in its own temporary folder, read and written by the
// functions under test.
#pragma once

#include <string>

#include "settings/ini_file.h"
#include "tests/support/temp_tree.h"

namespace kestrafin::settings_testing {

struct IniFile {
    testing::TempFolder folder;
    std::string path = folder / "kestrafin.ini";
    explicit IniFile(const std::string& content) { testing::make_file(path, content); }
    IniFile() = default;
    std::string bytes() const { return testing::read_bytes(path); }
    std::string read(const std::string& section = "PATH",
                     const std::string& key = "FULLPATH") const {
        return Kestrafin_Lib::readini(path, section, key);
    }
    void write(const std::string& value, const std::string& section = "PATH",
               const std::string& key = "FULLPATH") const {
        Kestrafin_Lib::writeini(path, section, key, value);
    }
};

}  // namespace kestrafin::settings_testing
