// What a run tells its observers as it goes: the front ends (the window's list and caption, the
// console's progress line, the reports and the summary) learn everything from these events and
// never read an article or decide a reference again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/references.h"
#include "platform/http_request_failure.h"
#include "record/outcome.h"
#include "web/request_identity.h"

namespace zembrat::job {

// What became of one kept reference, and how an article ended: the run record's words.
using ImageOutcome = record::Outcome;
using ArticleEnd = record::ArticleEnd;

enum class FailReason {
    None,
    Status,       // the last answer's status was not 2xx
    NoAnswer,     // no answer came: the transfer failure says why
    WebPage,      // a 2xx answer that was a web page or a text, not an image
    NotAnImage,   // the content check found no image format in the first bytes
    CannotWrite,  // the image folder or file could not be made or written
    Stopped,      // a stop abandoned the download
    Placeholder,  // other addresses of its site gave the same bytes, or a known placeholder came,
                  // whatever identity asked (the hotlink option)
    Recorded,     // not a failure: reused without a download, its file still there as an earlier
                  // row of the run or an earlier run stored it (incremental runs)
};

struct ImageRecord {
    std::string sourceValue;  // as found in the article
    std::string address;      // fetched
    ImageOutcome outcome = ImageOutcome::NotReached;
    FailReason reason = FailReason::None;
    long status = 0;  // HTTP status of the last answer, 0 for none
    platform::TransferFailure transfer = platform::TransferFailure::None;  // why none came
    std::size_t bytes = 0;   // body size of the last answer
    std::string storedPath;  // relative to the result folder
    std::string newAddress;  // what the article now says
    // Who the request that got the image said it was; Plain without the hotlink option.
    web::IdentityKind identity = web::IdentityKind::Plain;
    // The stored file's size and CRC-32, and the validators of the answer that brought it.
    std::uint64_t storedSize = 0;
    std::uint32_t crc = 0;
    std::string etag;
    std::string lastModified;
};

// Every member has an empty default, so an observer overrides only what it shows. Rows are
// the kept references of the current article, counted from 0 in article order.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The articles are listed and the result folder is there: the run begins. Not called for a
    // run that ends before (no article, a folder that cannot be made).
    virtual void RunBegins(const std::vector<std::string>& /*articles*/,
                           const std::string& /*resultFolder*/) {}
    // The index-th article (from 1) is taken up.
    virtual void ArticleBegins(std::size_t /*index*/, const std::string& /*path*/) {}
    // Every reference of the article with its verdict, in article order (not called for an
    // article that cannot be read).
    virtual void ReferencesDecided(const std::string& /*path*/,
                                   const std::vector<RefVerdict>& /*verdicts*/) {}
    // The row of a kept reference is queued; rows are queued from the last to the first.
    virtual void ImageQueued(std::size_t /*row*/, const ImageRef& /*ref*/) {}
    // The row's download begins.
    virtual void ImageBegins(std::size_t /*row*/) {}
    // The row ends stored, reused or failed.
    virtual void ImageSettled(std::size_t /*row*/, const ImageRecord& /*record*/) {}
    // The article ends, with the record of every kept reference in row order.
    virtual void ArticleEnds(const std::string& /*path*/, ArticleEnd /*end*/,
                             const std::vector<ImageRecord>& /*images*/) {}
};

// Tells several observers, in the order they were added.
class RunObservers : public RunObserver {
  public:
    void Add(RunObserver& observer) { observers_.push_back(&observer); }

    void RunBegins(const std::vector<std::string>& articles,
                   const std::string& resultFolder) override {
        for (RunObserver* o : observers_) o->RunBegins(articles, resultFolder);
    }
    void ArticleBegins(std::size_t index, const std::string& path) override {
        for (RunObserver* o : observers_) o->ArticleBegins(index, path);
    }
    void ReferencesDecided(const std::string& path,
                           const std::vector<RefVerdict>& verdicts) override {
        for (RunObserver* o : observers_) o->ReferencesDecided(path, verdicts);
    }
    void ImageQueued(std::size_t row, const ImageRef& ref) override {
        for (RunObserver* o : observers_) o->ImageQueued(row, ref);
    }
    void ImageBegins(std::size_t row) override {
        for (RunObserver* o : observers_) o->ImageBegins(row);
    }
    void ImageSettled(std::size_t row, const ImageRecord& record) override {
        for (RunObserver* o : observers_) o->ImageSettled(row, record);
    }
    void ArticleEnds(const std::string& path, ArticleEnd end,
                     const std::vector<ImageRecord>& images) override {
        for (RunObserver* o : observers_) o->ArticleEnds(path, end, images);
    }

  private:
    std::vector<RunObserver*> observers_;
};

}  // namespace zembrat::job
