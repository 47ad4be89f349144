// The run report: one row per image reference of a run, written as CSV or JSON, and the
// failed rows read back from a CSV report for a retry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "job/look_alikes.h"
#include "job/references.h"
#include "job/run_events.h"

namespace zembrat::job {

// One reference; every text UTF-8.
struct ReportRow {
    std::string article;     // the article's path
    std::string source;      // the source text as found
    std::string address;     // the address fetched (or resolved, for a drop)
    std::string outcome;     // stored, reused, failed, dropped, not reached
    long status = 0;         // HTTP status, 0 for none
    std::size_t bytes = 0;   // bytes of the answer
    std::string storedName;  // relative to the result folder
    std::string newAddress;  // what the article now says
    std::string reason;      // of a failure or a drop
    std::string articleEnd;  // written, unreadable, not written, cut short
    // The stored file's size, for an image the image options shaped (its original's size is
    // bytes); a report with such rows has a stored_bytes column after the others.
    std::optional<std::uint64_t> storedBytes;
    std::size_t line = 0;  // read from a CSV report: the line the row begins on, from 1
    std::string words;  // the reason in Chinese words, for the window (its report's reason_words)
};

// The name of the report a run writes into its result folder under the report option:
// "转存报告.csv".
const std::string& ReportFileName();

// The report's words for outcomes and article ends are the run record's.
using record::ArticleEndText;
using record::OutcomeText;
const char* FailReasonText(job::FailReason reason);
// Why a failed or unreached row ended so, as the report's reason column says it: the transfer's
// own reason when no answer came ("refused", "time-out", ...), else FailReasonText.
std::string FailureText(const job::ImageRecord& record);
// The same in Chinese words for the window (GBK): "状态码 404", "连接被拒绝", "超时", ...
std::string FailureWords(const job::ImageRecord& record);
// Why a reference was dropped, in Chinese words (GBK): "相对地址，没有填写旧的域名前缀", ...
std::string DecisionWords(const job::RefVerdict& verdict);
// The failed rows counted by reason, a status reason with its status ("status 404"), in the
// order the reasons first came: "status 404: 2, time-out: 1". Empty when none failed.
std::string FailureBreakdown(const std::vector<ReportRow>& rows);

// What the image options saved over the images they shaped and this run stored: the bytes
// downloaded less the bytes stored, or nullopt when they shaped none.
std::optional<std::int64_t> BytesSaved(const std::vector<ReportRow>& rows);

// The rows of one article (path GBK): its verdicts in article order, each kept one with the
// record of its download (records in the order of the kept verdicts). With no verdicts (a
// re-run's article) the rows are the records alone.
std::vector<ReportRow> ArticleRows(const std::string& path, job::ArticleEnd end,
                                   const std::vector<job::RefVerdict>& verdicts,
                                   const std::vector<job::ImageRecord>& records);

// CSV: UTF-8 with a byte-order mark, a header line, fields quoted as RFC 4180 says, CR LF. A
// text cell beginning with "=", "+", "-", "@", TAB, CR or an apostrophe is written behind an
// apostrophe, so that a spreadsheet shows it as text and runs no formula; ParseCsvReport takes
// that apostrophe off again. The reason column holds English codes that stay as they are from
// version to version ("status", "no answer" or the transfer's reason, "web page", "not an image",
// "cannot be written", "stopped", "suspected hotlink placeholder", "stored before", "same bytes as
// another address of this host", "identity: ...", and a drop's reason). withWords (the window's
// report): a reason_words column right after it holds the window's Chinese words for it.
std::string CsvReport(const std::vector<ReportRow>& rows, bool withWords = false);
// JSON: one array of objects with the CSV's column names as keys.
std::string JsonReport(const std::vector<ReportRow>& rows);

// The report's rows, built from what a run tells as it goes: each article's verdicts with the
// records of its downloads. Both front ends write their reports from it.
class ReportCollector : public RunObserver {
  public:
    // below: the folder the article column names the articles below (see ShownBelow); empty,
    // the column holds their paths. tellLookAlikes (a run without the hotlink option): a stored
    // row whose address answered the same bytes as another address of its host says so.
    explicit ReportCollector(std::string below = {}, bool tellLookAlikes = false)
        : below_(std::move(below)), tellLookAlikes_(tellLookAlikes) {}

    void ReferencesDecided(const std::string& path,
                           const std::vector<RefVerdict>& verdicts) override;
    void ArticleEnds(const std::string& path, ArticleEnd end,
                     const std::vector<ImageRecord>& images) override;

    // The rows of the articles ended so far, made when first asked for (a run that writes no
    // report converts nothing); asked for once the run has ended, every look-alike is told.
    const std::vector<ReportRow>& rows() const;
    // References found but dropped, or never reached, so far; and each of them apart.
    std::size_t skipped() const { return dropped_ + notReached_; }
    std::size_t dropped() const { return dropped_; }
    std::size_t notReached() const { return notReached_; }

  private:
    struct Ended {
        std::string path;
        ArticleEnd end;
        std::vector<RefVerdict> verdicts;
        std::vector<ImageRecord> images;
    };
    std::string below_;
    bool tellLookAlikes_;
    LookAlikes lookAlikes_;
    std::string decidedFor_;  // the article the verdicts below belong to
    std::vector<RefVerdict> verdicts_;
    mutable std::vector<Ended> ended_;
    mutable std::vector<ReportRow> rows_;
    mutable std::size_t made_ = 0;  // articles of ended_ whose rows are in rows_
    std::size_t dropped_ = 0;
    std::size_t notReached_ = 0;
};

// The rows of a CSV report; false (with why) when it cannot be parsed or lacks a column.
bool ParseCsvReport(const std::string& bytes, std::vector<ReportRow>& rows, std::string& error);

}  // namespace zembrat::job
