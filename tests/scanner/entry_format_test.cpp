// CSV fields that a spreadsheet would run as formulas are written as text.
#include "scanner/entry_format.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestrafin::scanner;

namespace {

struct CsvField {
    std::string text;
    std::string written;
};

void PrintTo(const CsvField& field, std::ostream* out) {
    *out << ::testing::PrintToString(field.text);
}

const CsvField kFields[] = {
    {"=1+2", "\"'=1+2\""},
    {"+cmd|' /C calc'!A0", "\"'+cmd|' /C calc'!A0\""},
    {"-2+3", "\"'-2+3\""},
    {"@SUM(A1)", "\"'@SUM(A1)\""},
    {"\tx", "\"'\tx\""},
    {"\rx", "\"'\rx\""},
    {"=a,\"b\"", "\"'=a,\"\"b\"\"\""},
    {"a=1", "a=1"},
    {"/srv/-x", "/srv/-x"},
    {"D:\\data", "D:\\data"},
};

class CsvFormula : public ::testing::TestWithParam<CsvField> {};

}  // namespace

TEST_P(CsvFormula, AFieldThatWouldRunIsWrittenAsTextAndJsonKeepsIt) {
    const CsvField& field = GetParam();
    EntryRecord record;
    record.path = field.text;
    record.target_path = field.text;
    std::string csv;
    EntryFormat(OutputFormat::csv, false, true, false).append(csv, record);
    EXPECT_EQ(csv, field.written + ",0,0," + field.written + ",file,,\r\n");
    std::string json;
    EntryFormat(OutputFormat::json, false, false, false).append(json, record);
    EXPECT_EQ(json.find("\"path\":\"'"), std::string::npos) << json;
}

INSTANTIATE_TEST_SUITE_P(Fields, CsvFormula, ::testing::ValuesIn(kFields));
