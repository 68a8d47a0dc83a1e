// CSV fields that a spreadsheet would run as formulas are written as text.
#include "scan/sinks/entry_format.h"

#include <gtest/gtest.h>

using namespace kestrafin::scan;

TEST(CsvFormula, AFieldThatWouldRunIsWrittenAsTextAndJsonKeepsIt) {
    const std::pair<std::string, std::string> kFields[] = {
        {"=1+2", "\"'=1+2\""},
        {"+cmd|' /C calc'!A0", "\"'+cmd|' /C calc'!A0\""},
        {"-2+3", "\"'-2+3\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"\tx", "\"'\tx\""},
        {"\rx", "\"'\rx\""},
        {"=a,\"b\"", "\"'=a,\"\"b\"\"\""},
        {"a=1", "a=1"},
        {"/srv/-x", "/srv/-x"},
    };
    for (const auto& [text, written] : kFields) {
        Entry record;
        record.path = record.target_path = text;
        std::string csv, json;
        EntryFormat(OutputFormat::csv, false, true, false).append(csv, record);
        EXPECT_EQ(csv, written + ",0,0," + written + ",file,,\r\n");
        EntryFormat(OutputFormat::json, false, false, false).append(json, record);
        EXPECT_EQ(json.find("\"path\":\"'"), std::string::npos) << json;
    }
}
