// Text from outside shown on one line, and CSV as RFC 4180 writes and reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "softplc/util/text.h"

namespace softplc {
namespace {

TEST(Text, ShownIsOneLineOfPrintableText) {
  const std::pair<std::string, std::string> cases[] = {
      {"LagIn", "LagIn"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("x\0y", 3), "x\\x00y"},
      {"back\\slash \"q\" 'q'", "back\\\\slash \"q\" 'q'"},
      {"\x1b[2J\x7f\xc3\xa9", "\\x1b[2J\\x7f\\xc3\\xa9"},
      {std::string(65, 'Q'), std::string(64, 'Q') + "... (65 characters)"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(shown(text), want);
}

TEST(Text, CsvFieldsReadBackAsWritten) {
  const std::pair<std::string, std::string> written[] = {
      {"LagIn", "LagIn"},          {"a,b", "\"a,b\""},      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""}, {"#LagIn", "\"#LagIn\""}, {" pad ", "\" pad \""},
      {"", ""},
  };
  std::string text;
  for (const auto& [field, want] : written) {
    EXPECT_EQ(csv_field(field), want);
    text += csv_field(field) + "," + csv_field(field) + "\r\n";
  }
  const CsvText read = read_csv(text);
  EXPECT_EQ(read.faultLine, 0u) << read.fault;
  ASSERT_EQ(read.records.size(), std::size(written));
  std::size_t line = 1;
  for (std::size_t i = 0; i < read.records.size(); ++i) {
    EXPECT_EQ(read.records[i].line, line);
    EXPECT_EQ(read.records[i].fields, std::vector<std::string>(2, written[i].first));
    line += 1 + 2 * static_cast<std::size_t>(std::count(written[i].first.begin(), written[i].first.end(), '\n'));
  }
}

TEST(Text, CsvSkipsBlankAndCommentLinesAndStopsAtABrokenQuote) {
  const struct {
    const char* text;
    std::vector<std::vector<std::string>> records;
    std::size_t faultLine;   // 0: none
  } cases[] = {
      {"# note\n\n  a , b \n\t\n#c,d\n", {{"a", "b"}}, 0},
      {"a,,\"\"\nb", {{"a", "", ""}, {"b"}}, 0},
      {" \"x\" ,y", {{"x", "y"}}, 0},
      {"a\n\"open,b\nc\n", {{"a"}}, 2},
      {"a\n\"x\"y,b\n", {{"a"}}, 2},
  };
  for (const auto& c : cases) {
    const CsvText read = read_csv(c.text);
    std::vector<std::vector<std::string>> records;
    for (const CsvRecord& record : read.records) records.push_back(record.fields);
    EXPECT_EQ(records, c.records) << c.text;
    EXPECT_EQ(read.faultLine, c.faultLine) << c.text;
  }
}

}  // namespace
}  // namespace softplc
