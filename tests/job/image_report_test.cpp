// The report's stored sizes under the image options, and what the summary says they saved.
#include <gtest/gtest.h>

#include "job/run_report.h"

namespace zembrat::job {
namespace {

ReportRow Row(const char* address, const char* outcome, std::size_t bytes,
              std::optional<std::uint64_t> stored) {
    ReportRow row;
    row.article = "a.htm";
    row.address = address;
    row.outcome = outcome;
    row.status = 200;
    row.bytes = bytes;
    row.storedName = "files/img/x.webp";
    row.storedBytes = stored;
    return row;
}

TEST(ImageReport, StoredSizesGetAColumnOfTheirOwnThatReadsBack) {
    const std::vector<ReportRow> rows = {Row("http://h/a.jpg", "stored", 1000, 400),
                                         Row("http://h/b.gif", "stored", 43, 43),
                                         Row("http://h/c.png", "reused", 0, std::nullopt)};
    const std::string csv = CsvReport(rows);
    EXPECT_NE(csv.find(",article_result,stored_bytes\r\n"), std::string::npos) << csv;
    std::vector<ReportRow> back;
    std::string error;
    ASSERT_TRUE(ParseCsvReport(csv, back, error)) << error;
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].bytes, 1000u);
    EXPECT_EQ(back[0].storedBytes, std::optional<std::uint64_t>(400));
    EXPECT_EQ(back[1].storedBytes, std::optional<std::uint64_t>(43));
    EXPECT_FALSE(back[2].storedBytes);
    EXPECT_NE(JsonReport(rows).find("\"stored_bytes\": 400}"), std::string::npos);
    // Only what this run stored counts: 600 + 0.
    EXPECT_EQ(BytesSaved(rows), std::optional<std::int64_t>(600));
}

TEST(ImageReport, WithoutShapedImagesTheReportIsAsEver) {
    const std::vector<ReportRow> rows = {Row("http://h/a.jpg", "stored", 1000, std::nullopt)};
    EXPECT_EQ(CsvReport(rows).find("stored_bytes"), std::string::npos);
    EXPECT_EQ(JsonReport(rows).find("stored_bytes"), std::string::npos);
    EXPECT_FALSE(BytesSaved(rows));
}

}  // namespace
}  // namespace zembrat::job
