#include "job/run.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "job/download_walk.h"
#include "job/image_names.h"
#include "job/image_optimization.h"
#include "job/look_alikes.h"
#include "job/markdown_reader.h"
#include "job/option_table.h"
#include "job/result_folder.h"
#include "job/run_report.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "record/commit_group.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/crc32.h"
#include "text/digest.h"
#include "text/gbk.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

using namespace text::literals;

std::string CountLine(std::size_t count, const std::string& what) {
    return "有 "_gbk + std::to_string(count) + what + "\r\n";
}

// Where an article's result goes below the result folder: in a tree, its place below the article
// folder; otherwise its file name.
std::string ResultName(const RunInputs& inputs, const std::string& path) {
    return inputs.options.recursive ? ArticleBelow(inputs.settings.articleFolder, path)
                                    : text::FileName(path);
}

// What shapes an article's result besides its own bytes: the six settings and the options that
// change what is written, as the option table tells them.
std::string InputsHash(const RunInputs& inputs) {
    const JobSettings& s = inputs.settings;
    const ExtensionOptions& options = inputs.options;
    std::string all;
    for (const std::string* setting : {&s.articleFolder, &s.articleFilter, &s.imageFolder,
                                       &s.oldPrefix, &s.newPrefix, &s.excludedRanges})
        all += std::to_string(setting->size()) + ":" + *setting + "\n";
    all += OptionsHashText(options);
    for (const web::SiteRule& rule : options.siteRules) all += web::SiteRuleText(rule) + "\n";
    return text::Sha256Hex(all + PlaceholdersText(options.placeholders));
}

// A regular file's size, modification time (nanoseconds) and inode; nullopt for anything else.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t time = 0;
    std::uint64_t inode = 0;
};
std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::lstat(platform::NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<std::uint64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<std::uint64_t>(st.st_ino)};
}

// The run record as the run reads and keeps it: an article's key is its path relative to the
// article folder, the articles that end within the commit window of each other one transaction.
class RecordKeeper {
  public:
    RecordKeeper(record::RunRecord& record, const RunInputs& inputs,
                 const ImageDestination& destination)
        : record_(record),
          inputs_(inputs),
          articleFolder_(inputs.settings.articleFolder),
          resultFolder_(destination.resultFolder),
          inputsHash_(InputsHash(inputs)),
          imagePrefix_(destination.imagesBelow + "/"),
          group_(record, record::kCommitWindow) {}

    // The image an earlier run stored for the address, when its file is still there, in the
    // image folder, with the size and CRC-32 it was stored with.
    std::optional<KnownImage> Known(const std::string& address) {
        const auto held = group_.Hold();
        return KnownHeld(address);
    }

    // Known, the record already held by the caller.
    std::optional<KnownImage> KnownHeld(const std::string& address) {
        const auto cached = known_.find(address);
        if (cached != known_.end()) return cached->second;
        std::optional<KnownImage> known;
        const std::optional<record::ImageEntry> entry = record_.Image(Recorded(address));
        text::Bytes bytes;
        if (entry && !entry->storedPath.empty() && entry->storedPath.starts_with(imagePrefix_) &&
            platform::ReadFileWithin(resultFolder_, resultFolder_ + entry->storedPath, bytes) &&
            bytes.size() == entry->size && text::Crc32(bytes) == entry->crc)
            known = KnownImage{entry->storedPath, entry->size, entry->crc, entry->etag,
                               entry->lastModified};
        known_.emplace(address, known);
        return known;
    }

    // The file stored for the address is still there, a regular file of its recorded size, with
    // the modification time and inode it was recorded with; when those changed (or an earlier
    // version recorded none) its bytes are read again as Known reads them. What an unchanged
    // article needs; a row reuses an image only once Known has checked its bytes.
    // The record is held by the caller.
    bool Present(const std::string& address) {
        const auto cached = known_.find(address);
        if (cached != known_.end()) return cached->second.has_value();
        const std::optional<record::ImageEntry> entry = record_.Image(Recorded(address));
        if (!entry || entry->storedPath.empty() || !entry->storedPath.starts_with(imagePrefix_))
            return false;
        const std::optional<FileStamp> stamp = StampOf(resultFolder_ + entry->storedPath);
        if (!stamp || stamp->size != entry->size) return false;
        if (entry->fileTime == 0 || stamp->time != entry->fileTime ||
            stamp->inode != entry->fileInode)
            return KnownHeld(address).has_value();
        return true;
    }

    // The article, its inputs and its result are as the record left them, with every image it
    // points at still there.
    bool Unchanged(const ArticleWork& work) {
        const auto held = group_.Hold();
        const std::optional<record::ArticleEntry> entry = record_.Article(Key(work.path));
        // Not reached: a stop came before a later run took it up; what an earlier one wrote
        // stands when it is still there as written.
        if (!entry || entry->sourceHash != work.sourceHash || entry->inputsHash != inputsHash_ ||
            (entry->end != ArticleEnd::Written && entry->end != ArticleEnd::Skipped &&
             entry->end != ArticleEnd::NotReached))
            return false;
        for (const record::ReferenceEntry& ref : entry->references) {
            if (ref.outcome != ImageOutcome::Stored && ref.outcome != ImageOutcome::Reused)
                return false;
        }
        text::Bytes result;
        if (entry->resultPath.empty() ||
            !platform::ReadFileWithin(resultFolder_, resultFolder_ + entry->resultPath, result) ||
            text::Sha256Hex(result) != entry->resultHash)
            return false;
        for (const record::ReferenceEntry& ref : entry->references) {
            if (!Present(ref.address)) return false;
        }
        return true;
    }

    // The article's end, with what became of its images, in the transaction of its group.
    void Keep(const ArticleWork& work, ArticleEnd end, const std::vector<ImageRecord>& images,
              const std::string& resultHash) {
        const std::int64_t now = std::time(nullptr);
        const auto held = group_.Hold();
        group_.BeginArticle(held);
        record::ArticleEntry article{
            Key(work.path),
            work.sourceHash,
            inputsHash_,
            resultHash.empty() ? std::string() : ResultName(inputs_, work.path),
            resultHash,
            end,
            {},
            now};
        for (const ImageRecord& image : images) {
            article.references.push_back({image.address, image.outcome});
            if (image.outcome == ImageOutcome::NotReached) continue;
            record::ImageEntry entry;
            entry.address = Recorded(image.address);
            entry.storedPath = image.storedPath;
            entry.size = image.storedSize;
            entry.crc = image.crc;
            entry.etag = image.etag;
            entry.lastModified = image.lastModified;
            if (const std::optional<FileStamp> stamp = StampOf(resultFolder_ + image.storedPath);
                stamp && !image.storedPath.empty()) {
                entry.fileTime = stamp->time;
                entry.fileInode = stamp->inode;
            }
            // A failure keeps what an earlier run stored for the address.
            if (image.outcome == ImageOutcome::Failed)
                entry = record_.Image(entry.address).value_or(entry);
            entry.outcome = image.outcome;
            entry.time = now;
            record_.PutImage(entry);
            known_.erase(image.address);
        }
        record_.PutArticle(article);
        group_.EndArticle(held);
    }

    // The articles a stop came before, in one transaction: each a retry takes up. What an
    // earlier run recorded of one is kept with it (its result, if still there as written,
    // still stands for an incremental run).
    void KeepNotReached(const std::vector<std::string>& paths) {
        if (paths.empty()) return;
        const std::int64_t now = std::time(nullptr);
        {
            const auto held = group_.Hold();
            group_.BeginArticle(held);
            for (const std::string& path : paths) {
                record::ArticleEntry entry =
                    record_.Article(Key(path)).value_or(record::ArticleEntry{
                        Key(path), {}, inputsHash_, {}, {}, ArticleEnd::NotReached, {}, now});
                entry.end = ArticleEnd::NotReached;
                entry.time = now;
                record_.PutArticle(entry);
            }
        }
        group_.Flush();
    }

    // What the run ended is committed now (a stop, a signal and the end come here).
    void Finish() { group_.Flush(); }

  private:
    std::string Key(const std::string& path) const { return ArticleBelow(articleFolder_, path); }
    // An image's key: its address, with the image options that shaped its file.
    std::string Recorded(const std::string& address) const {
        return RecordedAddress(address, inputs_.options);
    }

    record::RunRecord& record_;
    const RunInputs& inputs_;
    std::string articleFolder_;
    std::string resultFolder_;
    std::string inputsHash_;
    std::string imagePrefix_;  // where the image folder's files are, relative to the result folder
    std::map<std::string, std::optional<KnownImage>> known_;
    record::CommitGroup group_;
};

// The articles of a run, in run order, through one download walk.
class ArticleLoop {
  public:
    ArticleLoop(const RunInputs& inputs, web::WebClient& web, platform::EventPoints& events,
                RunObserver& observer, SleepFunction sleep, RunResult& result,
                const ImageDestination& destination, RecordKeeper* keeper)
        : keeper_(keeper),
          inputs_(inputs),
          web_(web),
          events_(events),
          observer_(observer),
          sleep_(sleep),
          result_(result),
          decider_({inputs.settings.oldPrefix, inputs.settings.excludedRanges, inputs.options}),
          destination_(destination) {
        // Downloads at once share one pool of connections for the whole run.
        if (inputs.options.downloadsAtOnce > 1)
            atOnce_.emplace(web_, inputs.options.downloadsAtOnce);
    }

    void RunAll() {
        const std::stop_token stop = events_.StopToken();
        DownloadWalk walk(web_, events_, observer_, inputs_.options, destination_, sleep_,
                          atOnce_ ? &*atOnce_ : nullptr);
        if (keeper_ && inputs_.options.incremental)
            walk.Remember({[this](const std::string& address) { return keeper_->Known(address); },
                           inputs_.refresh});
        walk.Run({[&](bool current) { return Next(current, stop); },
                  [&](ArticleWork& work, bool announced) { return Show(work, announced, stop); },
                  [&](ArticleWork& work, DownloadSummary& summary) { Done(work, summary); }});
        if (keeper_) keeper_->Finish();
        const RunCounts& counts = result_.counts;
        result_.counts.stopped =
            stop.stop_requested() && counts.articlesWritten + counts.failedWrites +
                                             counts.unreadableArticles + counts.articlesSkipped <
                                         result_.articles.size();
        if (ended_ == result_.articles.size()) return;
        // The articles the stop came before are told (and recorded) as not reached, so that a
        // retry takes them up.
        const std::vector<std::string> notReached(result_.articles.begin() + ended_,
                                                  result_.articles.end());
        if (keeper_) keeper_->KeepNotReached(notReached);
        for (const std::string& path : notReached)
            observer_.ArticleEnds(path, ArticleEnd::NotReached, {});
    }

  private:
    // The next article, read and decided; nothing after the last or once a stop came.
    std::optional<ArticleWork> Next(bool current, const std::stop_token& stop) {
        if (next_ >= result_.articles.size() || stop.stop_requested()) return std::nullopt;
        ArticleWork work;
        work.index = ++next_;
        work.path = result_.articles[next_ - 1];
        if (current) observer_.ArticleBegins(work.index, work.path);
        const std::optional<RunPlan>& plan = inputs_.plan;
        work.input = plan ? plan->inputs.at(next_ - 1) : work.path;
        // Read only where it lies within the article folder: a link out of it (to the password
        // file, say) must not end up in the folder meant for upload. An earlier result read
        // again from an output folder elsewhere must lie within that one.
        const bool fromOutput = work.input != work.path && !inputs_.options.outputFolder.empty();
        if (!platform::ReadFileWithin(
                fromOutput ? result_.resultFolder : inputs_.settings.articleFolder, work.input,
                work.text, &work.permissions)) {
            work.unreadable = true;
            return work;
        }
        if (keeper_) {
            // A re-run reads an earlier result: the record keeps the article's own bytes' hash.
            text::Bytes source;
            if (work.input == work.path ||
                platform::ReadFileWithin(inputs_.settings.articleFolder, work.path, source))
                work.sourceHash = text::Sha256Hex(work.input == work.path ? work.text : source);
            work.skipped = inputs_.options.incremental && !inputs_.refresh && !plan &&
                           keeper_->Unchanged(work);
            if (work.skipped) return work;
        }
        work.verdicts =
            decider_.Decide(work.text, IsMarkdownName(text::FileName(work.path)), events_);
        // An article the reading could not take whole is not passed off as done.
        if (!decider_.LastReadWhole()) work.unreadable = true;
        if (plan && plan->keep) {
            // A re-run tells and downloads only the references it was asked to.
            std::erase_if(work.verdicts, [&](const RefVerdict& v) {
                return v.decision != RefDecision::Download || !plan->keep(work.path, v.address);
            });
        }
        work.refs = KeptReferences(work.verdicts);
        return work;
    }

    // The article becomes the current one; false when a stop came before its first download.
    bool Show(ArticleWork& work, bool announced, const std::stop_token& stop) {
        if (!announced) observer_.ArticleBegins(work.index, work.path);
        if (work.unreadable || work.skipped) return true;
        // A stop may have cut its reading short: what was read is not told.
        if (stop.stop_requested()) return false;
        observer_.ReferencesDecided(work.path, work.verdicts);
        // Queued from the last to the first, so that a list inserting each at its top ends in
        // article order.
        for (std::size_t k = work.refs.size(); k-- > 0;) {
            observer_.ImageQueued(k, work.refs[k]);
            events_.ProcessEvents();
        }
        return !stop.stop_requested();
    }

    void Done(ArticleWork& work, DownloadSummary& summary) {
        ended_ = work.index;  // articles end in run order
        const ArticleEnd end = Finish(work, summary);
        // Under the hotlink option identical bodies of one host are asked again or fail.
        if (!inputs_.options.hotlink) {
            for (const ImageRecord& image : summary.records) lookAlikes_.Add(image);
            result_.counts.lookAlikes = lookAlikes_.Count();
        }
        if (keeper_ && end != ArticleEnd::Skipped)
            keeper_->Keep(work, end, summary.records,
                          end == ArticleEnd::Written ? text::Sha256Hex(work.text) : std::string());
        observer_.ArticleEnds(work.path, end,
                              end == ArticleEnd::Unreadable || end == ArticleEnd::Skipped
                                  ? std::vector<ImageRecord>()
                                  : summary.records);
    }

    ArticleEnd Finish(ArticleWork& work, const DownloadSummary& summary) {
        RunCounts& counts = result_.counts;
        if (work.skipped) {
            ++counts.articlesSkipped;
            // A file added to its bundle since is carried all the same.
            CarryBundle(work);
            return ArticleEnd::Skipped;
        }
        if (work.unreadable) {
            // Writing an empty result in its place would pass off a lost article as done.
            ++counts.unreadableArticles;
            return ArticleEnd::Unreadable;
        }
        for (const ImageRecord& image : summary.records) {
            if (image.outcome == ImageOutcome::Stored) ++counts.imagesStored;
            if (image.outcome == ImageOutcome::Reused) ++counts.imagesReused;
        }
        counts.imagesFailed += summary.failed;
        // An article cut short by a stop is not written: an earlier result of it stays as it was.
        if (!summary.complete) return ArticleEnd::CutShort;
        // A result is never more open than the file it was made from.
        if (platform::WriteFileBeneath(result_.resultFolder, ResultName(inputs_, work.path),
                                       work.text, work.permissions)) {
            ++counts.articlesWritten;
            CarryBundle(work);
            return ArticleEnd::Written;
        }
        ++counts.failedWrites;
        return ArticleEnd::NotWritten;
    }

    // Under --recursive --output, an index article's page bundle goes beside its result.
    void CarryBundle(const ArticleWork& work) {
        if (!CarriesPageBundle(work.path, inputs_.options)) return;
        if (articleSet_.empty())
            articleSet_.insert(result_.articles.begin(), result_.articles.end());
        CopyPageBundle(inputs_.settings.articleFolder, work.path, result_.resultFolder, articleSet_,
                       events_);
    }

    RecordKeeper* keeper_;

    const RunInputs& inputs_;
    web::WebClient& web_;
    platform::EventPoints& events_;
    RunObserver& observer_;
    SleepFunction sleep_;
    RunResult& result_;
    ReferenceDecider decider_;
    const ImageDestination& destination_;
    std::optional<web::FetchGroup> atOnce_;
    std::size_t next_ = 0;
    std::size_t ended_ = 0;  // the articles of the run that ended, from the first
    LookAlikes lookAlikes_;
    std::set<std::string> articleSet_;  // the run's articles, once a page bundle asks
};

}  // namespace

std::string ArticleStatusText(std::size_t count, std::size_t index, const std::string& path,
                              std::string_view below) {
    std::string name = text::BaseName(path);
    if (!below.empty()) {
        const std::string folder = text::DirectoryPart(ArticleBelow(below, path));
        if (!folder.empty()) name = folder + text::kPathSeparator + name;
    }
    return "(" + std::to_string(count) + ":" + std::to_string(index) + ")" + name;
}

std::string ShownBelow(const RunInputs& inputs) {
    return inputs.options.recursive ? inputs.settings.articleFolder : std::string();
}

std::string NewerRecordMessage(const std::string& resultFolder, std::int64_t version) {
    return "运行记录由更新的版本写成（记录版本 "_gbk + std::to_string(version) +
           "），未作改动："_gbk + text::WithSeparator(resultFolder) + record::RunRecord::FileName();
}

std::string RunEndMessage(const RunResult& result, const JobSettings& settings) {
    switch (result.end) {
        case RunEnd::Finished:
            return {};
        case RunEnd::ImageFolderLeaves:
            return "图片存放目录不能超出结果目录："_gbk + settings.imageFolder;
        case RunEnd::NoArticles:
            if (!platform::IsFolder(settings.articleFolder))
                return "文章目录不存在："_gbk + settings.articleFolder;
            return "在这个目录下‘"_gbk + settings.articleFolder + "’找不到‘"_gbk +
                   settings.articleFilter + "’类型的文件！"_gbk;
        case RunEnd::ResultFolderFailed:
            return "无法创建结果目录："_gbk + result.resultFolder;
        case RunEnd::ResultFolderInUse:
            return "结果目录正在被另一次运行使用："_gbk + result.resultFolder;
        case RunEnd::RecordFromNewerVersion:
            return NewerRecordMessage(result.resultFolder, result.newerRecordVersion);
        case RunEnd::OutputFolderRefused:
            if (!result.resultFolder.starts_with(text::kPathSeparator))
                return "结果目录必须是绝对路径："_gbk + result.resultFolder;
            return "结果目录不能是文章目录："_gbk + result.resultFolder;
    }
    return {};
}

std::string RunEndText(const RunResult& result, const JobSettings& settings) {
    const auto shown = [](const std::string& gbk) { return text::Utf8FromGbk(gbk); };
    switch (result.end) {
        case RunEnd::Finished:
            return {};
        case RunEnd::ImageFolderLeaves:
            return "the image folder cannot leave the result folder: " +
                   shown(settings.imageFolder);
        case RunEnd::NoArticles:
            if (!platform::IsFolder(settings.articleFolder))
                return "the article folder does not exist: " + shown(settings.articleFolder);
            return "no file of the kind '" + shown(settings.articleFilter) + "' in the folder '" +
                   shown(settings.articleFolder) + "'";
        case RunEnd::ResultFolderFailed:
            return "the result folder cannot be made: " + shown(result.resultFolder);
        case RunEnd::ResultFolderInUse:
            return "the result folder is in use by another run: " + shown(result.resultFolder);
        case RunEnd::RecordFromNewerVersion:
            return "the run record was written by a newer version (record version " +
                   std::to_string(result.newerRecordVersion) + ") and was left as it is: " +
                   shown(text::WithSeparator(result.resultFolder) + record::RunRecord::FileName());
        case RunEnd::OutputFolderRefused:
            if (!result.resultFolder.starts_with(text::kPathSeparator))
                return "the result folder must be an absolute path: " + shown(result.resultFolder);
            return "the result folder cannot be the article folder: " + shown(result.resultFolder);
    }
    return {};
}

std::string CompletionMessage(const RunCounts& counts, const std::string& resultFolder) {
    std::string message = counts.stopped ? "已停止。"_gbk : "处理完成。"_gbk;
    message += "处理的结果保存在这个目录："_gbk + resultFolder + "\r\n\r\n";
    if (counts.articlesSkipped > 0)
        message += CountLine(counts.articlesSkipped, " 篇文章未改变，已跳过。"_gbk);
    if (counts.unreadableArticles > 0)
        message += CountLine(counts.unreadableArticles, " 篇文章无法读取。"_gbk);
    if (counts.failedWrites > 0) message += CountLine(counts.failedWrites, " 篇文章未能写入。"_gbk);
    if (counts.imagesFailed > 0) message += CountLine(counts.imagesFailed, " 张图片未能转存。"_gbk);
    if (counts.lookAlikes > 0)
        message += CountLine(counts.lookAlikes,
                             " 张图片与同一网站其他地址的内容完全相同，可能是防盗链占位图；"
                             "可打开扩展选项“防盗链处理”后重试。"_gbk);
    if (!counts.reportPath.empty()) message += "转存报告："_gbk + counts.reportPath + "\r\n";
    if (counts.recordLost)
        message += "运行记录无法写入，下次运行将重做这次的工作。"_gbk + "\r\n";
    else if (counts.newerRecordLeft > 0)
        message += NewerRecordMessage(resultFolder, counts.newerRecordLeft) + "\r\n";
    else if (!counts.recordMessage.empty())
        message += "运行记录已损坏或无法读取，已改名放在一旁，并新建了一个。"_gbk + "\r\n";
    message += counts.publishLine;
    message += "请问是否打开它？"_gbk;
    return message;
}

namespace {

// Whether the run cannot do without the record.
bool NeedsRecord(const RunInputs& inputs) {
    switch (inputs.record) {
        case RecordUse::Never:
            return false;
        case RecordUse::Needed:
            return true;
        case RecordUse::IfThere:
            break;
    }
    return inputs.options.incremental || inputs.options.publishAfterRun;
}

}  // namespace

bool KeepsRecord(const RunInputs& inputs, const std::string& resultFolder) {
    return inputs.record != RecordUse::Never &&
           (NeedsRecord(inputs) || record::RunRecord::IsThere(resultFolder));
}

RunResult CheckRunStart(const RunInputs& inputs, platform::EventPoints& events) {
    RunResult result;
    const JobSettings& settings = inputs.settings;
    if (LeavesItsBase(settings.imageFolder)) {
        result.end = RunEnd::ImageFolderLeaves;
        return result;
    }
    if (!OutputFolderUsable(settings.articleFolder, inputs.options)) {
        result.end = RunEnd::OutputFolderRefused;
        result.resultFolder = inputs.options.outputFolder;
        return result;
    }
    const std::string resultFolder = ResultFolder(settings.articleFolder, inputs.options);
    result.articles =
        inputs.plan ? inputs.plan->articles
                    : ListArticles(settings.articleFolder, settings.articleFilter, inputs.method,
                                   events, {inputs.options.recursive, resultFolder});
    if (result.articles.empty()) {
        result.end = RunEnd::NoArticles;
        return result;
    }
    result.resultFolder = resultFolder;
    return result;
}

RunResult PreviewRun(const RunInputs& inputs, platform::EventPoints& events,
                     const std::function<void(const PreviewedArticle&)>& told) {
    const JobSettings& settings = inputs.settings;
    RunResult result = CheckRunStart(inputs, events);
    if (result.end != RunEnd::Finished) return result;
    const ImageDestination destination(result.resultFolder, settings.imageFolder,
                                       settings.newPrefix);
    record::RunRecord record;
    std::optional<RecordKeeper> keeper;
    if (inputs.options.incremental && inputs.record != RecordUse::Never &&
        record::RunRecord::IsThere(result.resultFolder) && !inputs.forget) {
        if (record.OpenToRead(result.resultFolder))
            keeper.emplace(record, inputs, destination);
        else
            result.counts.recordMessage = text::GbkFromUtf8(record.Message());
    }
    ReferenceDecider decider({settings.oldPrefix, settings.excludedRanges, inputs.options});
    std::set<std::string> met;  // the addresses an earlier article of the run downloads
    for (const std::string& path : result.articles) {
        PreviewedArticle article;
        article.path = path;
        ArticleWork work;
        work.path = path;
        if (!platform::ReadFileWithin(settings.articleFolder, path, work.text)) {
            article.unreadable = true;
            told(article);
            continue;
        }
        if (keeper && !inputs.refresh) {
            work.sourceHash = text::Sha256Hex(work.text);
            article.unchanged = keeper->Unchanged(work);
            if (article.unchanged) {
                told(article);
                continue;
            }
        }
        article.utf8 = DetectArticleEncoding(work.text) == ArticleEncoding::Utf8;
        article.verdicts = decider.Decide(work.text, IsMarkdownName(text::FileName(path)), events);
        article.unreadable = !decider.LastReadWhole();
        std::set<std::string> mine;
        for (const RefVerdict& v : article.verdicts) {
            bool reused = false;
            if (keeper && v.decision == RefDecision::Download) {
                reused = met.contains(v.address) || (!inputs.refresh && keeper->Known(v.address));
                mine.insert(v.address);
            }
            article.reused.push_back(reused);
        }
        met.insert(mine.begin(), mine.end());
        told(article);
    }
    return result;
}

RunResult Run(const RunInputs& inputs, web::WebClient& web, platform::EventPoints& events,
              RunObserver& observer, SleepFunction sleep) {
    const JobSettings& settings = inputs.settings;
    // Fetched over TLS, an image never falls back to plain http on the way.
    web.SetRefuseHttpsDowngrade(inputs.options.https);
    web.SetOpensHttps(inputs.options.https);
    RunResult result = CheckRunStart(inputs, events);
    if (result.end != RunEnd::Finished) return result;
    const ImageDestination destination(result.resultFolder, settings.imageFolder,
                                       settings.newPrefix);
    observer.RunBegins(result.articles, result.resultFolder);
    if (!MakeFolders(result.resultFolder) || !platform::MakeResultFolder(result.resultFolder)) {
        // Nothing could be written there (or only through a link): end before reading any article.
        result.end = RunEnd::ResultFolderFailed;
        return result;
    }
    // One run per result folder: a second one ends at once, touching nothing. (A folder that
    // cannot be locked at all, on an odd file system, does not stop the run.)
    platform::FolderLock lock;
    if (lock.Take(result.resultFolder) == platform::FolderLock::Result::InUse) {
        result.end = RunEnd::ResultFolderInUse;
        return result;
    }
    // What a run killed before its renames left behind goes; nothing else is touched.
    platform::RemoveLeftoverTemporaries(result.resultFolder, destination.imagesBelow);
    if (inputs.options.recursive) {
        std::set<std::string> below;
        for (const std::string& article : result.articles) {
            const std::string folder =
                text::DirectoryPart(ArticleBelow(settings.articleFolder, article));
            if (!folder.empty() && below.insert(folder).second)
                platform::RemoveLeftoverTemporaries(result.resultFolder, folder);
        }
    }
    // The run record: kept as the run goes; a record that cannot be kept does not stop the run.
    record::RunRecord record;
    std::optional<RecordKeeper> keeper;
    const bool keepRecord = KeepsRecord(inputs, result.resultFolder);
    if (keepRecord) {
        const record::OpenResult how = record.Open(result.resultFolder, inputs.forget);
        result.counts.recordMessage = text::GbkFromUtf8(record.Message());
        // A newer program's record is never written by this one, nor done without when needed.
        if (how == record::OpenResult::Newer && NeedsRecord(inputs)) {
            result.end = RunEnd::RecordFromNewerVersion;
            result.newerRecordVersion = record.NewerVersion();
            return result;
        }
        if (how == record::OpenResult::Newer) result.counts.newerRecordLeft = record.NewerVersion();
        if (record.IsOpen()) keeper.emplace(record, inputs, destination);
    }
    ArticleLoop(inputs, web, events, observer, sleep, result, destination,
                keeper ? &*keeper : nullptr)
        .RunAll();
    // A record that failed on the way says so too.
    if (keepRecord) {
        result.counts.recordMessage = text::GbkFromUtf8(record.Message());
        result.counts.recordLost = !record.IsOpen() && result.counts.newerRecordLeft == 0;
    }
    return result;
}

}  // namespace zembrat::job
