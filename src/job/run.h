// One run over the article folder, as a value in and events out: a front end (the window, the
// console) builds the run's inputs, hands them in with its observers and its event points, and
// learns everything the run does from the events.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "job/article_listing.h"
#include "job/download_walk.h"
#include "job/extension_options.h"
#include "job/run_events.h"

namespace zembrat::platform {
class EventPoints;
}
namespace zembrat::web {
class WebClient;
}

namespace zembrat::job {

// The six settings, each a GBK text used exactly as typed.
struct JobSettings {
    std::string articleFolder;
    std::string articleFilter;
    std::string imageFolder;
    std::string oldPrefix;
    std::string newPrefix;
    std::string excludedRanges;

    friend bool operator==(const JobSettings&, const JobSettings&) = default;
};

// A run over given articles instead of the listed ones, for a front end that re-runs part of an
// earlier run. Each article is read from its input (an earlier result, say) and written to the
// result folder under its own name; only the references keep accepts are downloaded.
struct RunPlan {
    std::vector<std::string> articles;  // GBK paths, in run order
    std::vector<std::string> inputs;    // one per article: the file its text is read from
    // (article path, absolute address): whether the reference is downloaded; empty keeps all.
    std::function<bool(const std::string&, const std::string&)> keep;
};

// What a front end asks of the run record: IfThere (a run of its own), Needed (what follows the
// run reads it: a publish the console was asked for), Never (only where a measurement compares).
enum class RecordUse { IfThere, Needed, Never };

// Everything a run needs to know before it starts.
struct RunInputs {
    JobSettings settings;
    ExtensionOptions options;
    ListingMethod method = ListingMethod::FolderObject;
    std::optional<RunPlan> plan;
    // The run record in the result folder: forget sets an earlier one aside and starts afresh;
    // under the incremental option, refresh asks the images stored before again, conditionally,
    // and skips no article. See RecordUse for when it is kept.
    bool refresh = false;
    bool forget = false;
    RecordUse record = RecordUse::IfThere;
};

// Whether the run keeps the run record, from the inputs and the result folder: always with
// Needed or under an option that reads it (incremental, a publish after the run); with IfThere
// otherwise only when one is already there (so it never goes stale); never with Never. A run
// that keeps none writes the articles and the image folder and nothing else.
bool KeepsRecord(const RunInputs& inputs, const std::string& resultFolder);

// What one run did, counted for the completion message and the summary.
struct RunCounts {
    std::size_t articlesWritten = 0;
    std::size_t unreadableArticles = 0;  // could not be read, so not written
    std::size_t failedWrites = 0;        // read and dealt with, but the result could not be written
    std::size_t imagesStored = 0;        // rows whose image the run stored as a new file
    std::size_t imagesReused = 0;        // rows whose image was already there (or recorded)
    std::size_t imagesFailed = 0;        // rows that ended failed
    bool stopped = false;                // the run was stopped before its last article was done
    std::size_t articlesSkipped = 0;     // left as an earlier run made them (incremental runs)
    // Without the hotlink option: addresses that answered the same bytes as another address of
    // their host (see LookAlikes).
    std::size_t lookAlikes = 0;
    std::string recordMessage;  // what opening the run record had to say (GBK), if any
    // The run record could not be opened or written: the next run redoes this one's work.
    bool recordLost = false;
    // A newer version's record was there: left as it is, the run (needing none) went on without.
    std::int64_t newerRecordLeft = 0;
    std::string reportPath;   // the run report a front end wrote, if any
    std::string publishLine;  // what a publish after the run did (GBK, ends CR LF)
};

// How a run ended.
enum class RunEnd {
    Finished,             // every article was taken up, or a stop ended the run part-way
    ImageFolderLeaves,    // the image folder would leave the result folder: nothing was listed
    NoArticles,           // the listing found no article
    ResultFolderFailed,   // the result folder could not be made: no article was read
    OutputFolderRefused,  // the output folder is relative, or the article folder: nothing listed
    ResultFolderInUse,    // another run holds the result folder: no article was read
    // The run needs the record (incremental, a publish after it), but a newer version of the
    // program wrote the one there: it was left as it is and no article was read.
    RecordFromNewerVersion,
};

struct RunResult {
    RunEnd end = RunEnd::Finished;
    std::vector<std::string> articles;  // as listed (or planned), in run order
    std::string resultFolder;           // where the results went
    RunCounts counts;
    std::int64_t newerRecordVersion = 0;  // RecordFromNewerVersion: the version found
};

// The message of a run that ended before its articles (GBK), from the inputs it was given:
// "图片存放目录不能超出结果目录：…", "文章目录不存在：…", "在这个目录下‘…’找不到‘…’类型的文件！" or
// "无法创建结果目录：…", "结果目录必须是绝对路径：…", "结果目录不能是文章目录：…" or
// "结果目录正在被另一次运行使用：…", "运行记录由更新的版本写成（记录版本 …），未作改动：…". Empty
// for a run that was Finished.
std::string RunEndMessage(const RunResult& result, const JobSettings& settings);
// The same in the console's English (UTF-8): "the article folder does not exist: …", ...
std::string RunEndText(const RunResult& result, const JobSettings& settings);
// "运行记录由更新的版本写成（记录版本 …），未作改动：…" (GBK), naming the record of resultFolder
// (GBK).
std::string NewerRecordMessage(const std::string& resultFolder, std::int64_t version);

// The message that ends a finished run: "处理完成。" (or "已停止。" after a stop), the folder, the
// articles skipped, one line per kind of failure, the look-alike answers, what became of the run
// record ("运行记录无法写入，下次运行将重做这次的工作。" or, set aside,
// "运行记录已损坏或无法读取，已改名放在一旁，并新建了一个。"), then the question whether to open
// it.
std::string CompletionMessage(const RunCounts& counts, const std::string& resultFolder);

// "(count:i)base": what the status shows while the i-th of count articles is processed. With
// below (the folder of ShownBelow), base is the article's path below it, "sub/dir/a".
std::string ArticleStatusText(std::size_t count, std::size_t index, const std::string& path,
                              std::string_view below = {});

// The folder below which the run's articles are named to the user ("sub/dir/a.htm", see
// ArticleBelow): the article folder under the recursive option, where names alone could be
// ambiguous; empty otherwise, and the articles go by their paths (the status by the base name).
std::string ShownBelow(const RunInputs& inputs);

// The checks a run makes before it makes or writes anything, in its order: the image folder stays
// inside the result folder, the output folder can be taken, the listing (or the plan) gives
// articles. end says which refused (RunEndMessage words it); Finished, with the run's articles
// and result folder, when none did. A preview of the run (the dry run) refuses what it refuses.
RunResult CheckRunStart(const RunInputs& inputs, platform::EventPoints& events);

// One article as the run with the same inputs would take it, told by PreviewRun.
struct PreviewedArticle {
    std::string path;
    bool unreadable = false;
    bool unchanged = false;  // an incremental run would leave it as an earlier run made it
    bool utf8 = false;       // the article is read as UTF-8 (its addresses are UTF-8, not GBK)
    std::vector<RefVerdict> verdicts;  // in article order (none for an unchanged article)
    // One per verdict: a download the incremental run would not make, its image reused (the
    // record knows it, or an earlier article of the run fetches it).
    std::vector<bool> reused;
};

// The run previewed: its start checks (it refuses what the run refuses), then each article in
// run order, read and decided as the run decides it; under the incremental option the record is
// read (never made or written) for what the run would skip and reuse. Nothing is written and no
// request is sent. counts.recordMessage says why a record there could not be read.
RunResult PreviewRun(const RunInputs& inputs, platform::EventPoints& events,
                     const std::function<void(const PreviewedArticle&)>& told);

// Runs once over the inputs. A stop (the event points' stop token) abandons the download in
// flight and ends the run without writing the article it cut short. The client and the event
// points outlive the call.
RunResult Run(const RunInputs& inputs, web::WebClient& web, platform::EventPoints& events,
              RunObserver& observer, SleepFunction sleep = RealSleep);

}  // namespace zembrat::job
