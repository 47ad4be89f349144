// The download walk of a run: every image of every article, one at a time or several at once,
// with one retry rule. One at a time it is the plain run exactly: one connection, one image
// after the other in row order, the next image's request sent as soon as the one before has
// fully arrived. Several at once, it keeps its downloads going across articles: the next
// articles are read, decided and started while the current one's last images are in flight,
// and each article is still rewritten and written in run order, once all its images are dealt
// with, coming out byte for byte as one at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/article_images.h"
#include "job/extension_options.h"
#include "job/references.h"
#include "text/gbk.h"

namespace zembrat::platform {
class EventPoints;
}
namespace zembrat::web {
class WebClient;
class FetchGroup;
}  // namespace zembrat::web

namespace zembrat::job {

// How the retry wait sleeps; tests pass one that only counts.
using SleepFunction = void (*)(std::chrono::milliseconds);
void RealSleep(std::chrono::milliseconds duration);

// One article of a walk, read and decided.
struct ArticleWork {
    std::size_t index = 0;    // from 1, in run order
    std::string path;         // GBK
    std::string input;        // the file it is read from (the path, or a re-run's earlier result)
    bool unreadable = false;  // it could not be read, or not read whole
    unsigned permissions = 0666;  // the permission bits of the file it was read from
    text::Bytes text;             // the article; rewritten once all its images are dealt with
    std::vector<RefVerdict> verdicts;
    std::vector<ImageRef> refs;  // the kept references, in row order
    std::string sourceHash;      // SHA-256 of the bytes as read, lower-case hex
    bool skipped = false;        // an incremental run leaves it as an earlier run made it
};

// What an incremental walk knows before it asks: the image of an address stored by an earlier
// run (nullopt: none, or its file is gone or changed). With refresh, such an address is asked
// again with its validators, and an answer "not modified" keeps the file.
struct ImageMemory {
    std::function<std::optional<KnownImage>(const std::string& address)> lookup;
    bool refresh = false;
};

// A failed download is tried once more, after this long.
inline constexpr auto kRetryWait = std::chrono::seconds(1);

// The read-ahead of downloads at once: at most this many references of the articles besides the
// current one, and this many bytes of articles and bodies held for them. Articles end in order,
// so while one answer comes late the others go on with the articles ahead: the bound is set to
// cover several seconds of downloads at once, so that a late answer never idles the rest.
inline constexpr std::size_t kMaxReferencesAhead = 2048;
inline constexpr std::size_t kMaxBytesAhead = 64u << 20;

class DownloadWalk {
  public:
    struct Hooks {
        // The next article, read and decided; nullopt when there is none (or a stop came).
        // current: it becomes the current article at once (so it is shown before it is read).
        std::function<std::optional<ArticleWork>(bool current)> next;
        // The article becomes the current one (announced: it was shown before it was read).
        // False when a stop came before its first download.
        std::function<bool(ArticleWork& work, bool announced)> show;
        // The article's images are all dealt with (summary.complete), or a stop cut it short.
        // The text is rewritten when it is complete.
        std::function<void(ArticleWork& work, DownloadSummary& summary)> done;
    };

    // atOnce: the group for several downloads at once; nullptr for one at a time through web.
    DownloadWalk(web::WebClient& web, platform::EventPoints& events, RunObserver& observer,
                 const ExtensionOptions& options, const ImageDestination& destination,
                 SleepFunction sleep, web::FetchGroup* atOnce);
    ~DownloadWalk();
    DownloadWalk(const DownloadWalk&) = delete;
    DownloadWalk& operator=(const DownloadWalk&) = delete;

    // Walks until the hooks give no more articles, or a stop ends it.
    void Run(const Hooks& hooks);
    // Before Run: an incremental walk. Each address is downloaded once in the walk (its later
    // rows reuse what the first one stored), and one the memory knows is not downloaded at all.
    void Remember(ImageMemory memory);

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The walk over one article alone: for each kept reference, in row order, download the image,
// with one retry after a second, store it and rewrite its references in text; the observer hears
// each row begin and settle. A stop (the event points' stop token) abandons the download in
// flight and ends the walk at once. A 2xx answer that is a web page is no image (retried once,
// like an error status). The options may bound each download's time, and check each body's
// first bytes: a body that is no image fails its row, and the stored file's extension follows
// the bytes. With atOnce, the downloads run several at a time through it (the downloads-at-once
// option), each with its own retry; the text comes out as from the one-at-a-time walk.
DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const ImageDestination& destination, RunObserver& observer,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options = {},
                               SleepFunction sleep = RealSleep, web::FetchGroup* atOnce = nullptr);

}  // namespace zembrat::job
