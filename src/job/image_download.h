// Downloading, storing and re-addressing the images of one article.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/extension_options.h"
#include "job/references.h"
#include "job/run_events.h"
#include "platform/files.h"

namespace zembrat::platform {
class EventPoints;
}
namespace zembrat::web {
class WebClient;
class FetchGroup;
}  // namespace zembrat::web

namespace zembrat::job {

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

// Where one article's images go and how they are addressed.
struct ImageDestination {
    std::string resultFolder;  // ends with a separator
    std::string imageFolder;   // as typed, below the result folder
    std::string newPrefix;     // as typed
};

// For each kept reference, in row order: download the image, with one retry after a second,
// store it and rewrite its references in text; the observer hears each row begin and settle. A
// stop (the event points' stop token) abandons the download in flight and ends the walk at
// once. A 2xx answer that is a web page is no image (retried once, like an error status). The
// options may bound each download's time, and check each body's first bytes: a body that is no
// image fails its row, and the stored file's extension follows the bytes.
// With atOnce, the downloads run several at a time through it (the downloads-at-once option),
// each with its own retry; the text comes out as from the one-at-a-time walk.
DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const ImageDestination& destination, RunObserver& observer,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options = {},
                               SleepFunction sleep = RealSleep, web::FetchGroup* atOnce = nullptr);

}  // namespace zembrat::job
