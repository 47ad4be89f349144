// Downloading, storing and re-addressing the images of one article.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/image_refs.h"
#include "job/job_window.h"
#include "platform/files.h"

namespace zembrat::platform {
class EventPoints;
}
namespace zembrat::web {
class WebClient;
class FetchGroup;
}  // namespace zembrat::web

namespace zembrat::job {

// What became of one kept reference, as a run report shows it.
enum class ImageOutcome {
    Stored,      // downloaded and written under its content name
    Reused,      // downloaded; a file with the same bytes was already there
    Failed,      // no usable answer, or it could not be written
    NotReached,  // a stop came first (or abandoned its download)
};
enum class FailReason { None, Status, TimedOut, NotAnImage, CannotWrite, Stopped };

struct ImageRecord {
    std::string sourceValue;  // as found in the article
    std::string address;      // fetched
    ImageOutcome outcome = ImageOutcome::NotReached;
    FailReason reason = FailReason::None;
    long status = 0;         // HTTP status of the last answer, 0 for none
    std::size_t bytes = 0;   // body size of the last answer
    std::string storedPath;  // relative to the result folder
    std::string newAddress;  // what the article now says
};

// Stores bytes in the image folder (imageFolder, below the result folder, held by folder) under
// name.ext and returns the path relative to the result folder. A file already there is reused
// only when it holds the same bytes; otherwise name_2, name_3, ... is tried: the first that is
// free or holds the same bytes. Nothing is written outside the result folder or through a link.
// Empty when the folders or the file cannot be made or written (nothing half-written is left).
// reused, when given, tells whether the bytes were already there.
std::optional<std::string> StoreImage(platform::FolderBeneath& folder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes, bool* reused = nullptr);

// What became of the images of one article.
struct DownloadSummary {
    std::size_t stored = 0;  // rows that ended saved
    std::size_t failed = 0;  // rows that ended failed
    bool complete = true;    // every row was dealt with; false when a stop cut the walk short
    std::vector<ImageRecord> records;  // one per reference, in row order
};

// How the retry wait sleeps; tests pass one that only counts.
using SleepFunction = void (*)(std::chrono::milliseconds);
void RealSleep(std::chrono::milliseconds duration);

// For each row of the status list (one per reference, in order): download the image, with
// one retry after a second, store it and rewrite its references in text; each row shows its
// state. A stop (the event points' stop token) abandons the download in flight and ends the
// walk at once. A 2xx answer that is a web page is no image (retried once, like an error
// status). The options may bound each download's time, and check each body's first bytes:
// a body that is no image fails its row with "不是图片 ", and the stored file's extension
// follows the bytes.
// With atOnce, the downloads run several at a time through it (the downloads-at-once option),
// each with its own retry; the text comes out as from the one-at-a-time walk.
DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const std::string& resultFolder, JobWindow& window,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options = {},
                               SleepFunction sleep = RealSleep, web::FetchGroup* atOnce = nullptr);

}  // namespace zembrat::job
