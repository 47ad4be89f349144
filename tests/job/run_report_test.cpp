#include "job/run_report.h"

#include <gtest/gtest.h>

#include "text/codec.h"

namespace zembrat::job {
namespace {
using namespace text::literals;

TEST(RunReportTest, CsvQuotesAsRfc4180AndReadsBack) {
    job::ImageRecord failed;
    failed.sourceValue = "http://a/\"q\",x.png";
    failed.address = failed.sourceValue;
    failed.outcome = job::ImageOutcome::Failed;
    failed.reason = job::FailReason::NoAnswer;
    failed.transfer = platform::TransferFailure::TimedOut;
    job::ImageRecord stored;
    stored.sourceValue = "/图.png"_gbk;
    stored.address = "http://old/图.png"_gbk;
    stored.outcome = job::ImageOutcome::Stored;
    stored.status = 200;
    stored.bytes = 12;
    stored.storedPath = "files/img/AB.png";
    stored.newAddress = "/files/img/AB.png";
    std::vector<job::RefVerdict> verdicts = {{"ftp://z", "ftp://z", job::RefDecision::NotHttp, {}},
                                             {"data:x", "data:x", job::RefDecision::NotHttp, {}}};
    verdicts.push_back({failed.sourceValue, failed.address, job::RefDecision::Download, {}});
    verdicts.push_back({stored.sourceValue, stored.address, job::RefDecision::Download, {}});
    const auto rows =
        ArticleRows("/文章/第一.htm"_gbk, job::ArticleEnd::Written, verdicts, {failed, stored});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].reason, "not http");
    EXPECT_EQ(rows[2].reason, "time-out");

    const std::string csv = CsvReport(rows);
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBF"
                        "article,source,address,outcome,http_status,bytes,stored_name,new_address,"
                        "reason,article_result\r\n",
                        0),
              0u);
    EXPECT_NE(csv.find("/文章/第一.htm,\"http://a/\"\"q\"\",x.png\",\"http://a/\"\"q\"\",x.png\","
                       "failed,0,0,,,time-out,written\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",/图.png,http://old/图.png,stored,200,12,files/img/AB.png,"
                       "/files/img/AB.png,,written\r\n"),
              std::string::npos);
    std::vector<ReportRow> back;
    std::string error;
    ASSERT_TRUE(ParseCsvReport(csv, back, error)) << error;
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(back[i].source, rows[i].source);
        EXPECT_EQ(back[i].outcome, rows[i].outcome);
        EXPECT_EQ(back[i].status, rows[i].status);
        EXPECT_EQ(back[i].article, "/文章/第一.htm");
    }
    // A field with a line break inside quotes stays one field; a broken file is refused.
    ASSERT_TRUE(
        ParseCsvReport("article,source,address,outcome,http_status,bytes,stored_name,"
                       "new_address,reason,article_result\n\"a\nb\",s,x,failed,0,0,,,,\n",
                       back, error));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].article, "a\nb");
    EXPECT_FALSE(ParseCsvReport("article,source\n\"open", back, error));
    EXPECT_FALSE(ParseCsvReport("article,source\nx,y\n", back, error));
    EXPECT_NE(error.find("address"), std::string::npos);

    const std::string json = JsonReport({rows[2]});
    EXPECT_NE(json.find("\"source\": \"http://a/\\\"q\\\",x.png\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"http_status\": 0, \"bytes\": 0"), std::string::npos);
    EXPECT_EQ(JsonReport({}), "[]\n");
}

TEST(RunReportTest, CellsASpreadsheetWouldRunAreWrittenAsTextAndReadBack) {
    const std::vector<std::string> texts = {"=SUM(A1)", "+1",  "-3", "@x",
                                            "\tT",      "\rC", "'q", "a-="};
    std::vector<ReportRow> rows;
    for (const std::string& t : texts) {
        ReportRow row;
        row.article = "/a/" + t;
        row.source = row.address = row.storedName = row.newAddress = row.reason = row.articleEnd =
            t;
        rows.push_back(row);
    }
    const std::string csv = CsvReport(rows);
    EXPECT_NE(csv.find("\n/a/=SUM(A1),'=SUM(A1),'=SUM(A1),,0,0,'=SUM(A1),"), std::string::npos);
    EXPECT_NE(csv.find("\n\"/a/\rC\",\"'\rC\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",''q,"), std::string::npos);
    EXPECT_NE(csv.find(",a-=,"), std::string::npos);
    for (const char* start : {",=", ",+", ",-", ",@", ",\t", ",\"\r"})
        EXPECT_EQ(csv.find(start), std::string::npos) << start;
    std::vector<ReportRow> back;
    std::string error;
    ASSERT_TRUE(ParseCsvReport(csv, back, error)) << error;
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(JsonReport({back[i]}), JsonReport({rows[i]}));
        EXPECT_EQ(back[i].line, i + 2 + (i > 5 ? 7 : 0));  // the CR row spans eight lines
    }
}

}  // namespace
}  // namespace zembrat::job
