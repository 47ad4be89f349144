// Downloading, storing and re-addressing the images of one article.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/image_refs.h"
#include "job/job_window.h"

namespace zembrat::platform {
class EventPoints;
}
namespace zembrat::web {
class WebClient;
}

namespace zembrat::job {

// Stores bytes below the result folder at the image folder under name.ext and returns the path
// relative to the result folder. A file already there is reused only when it holds the same
// bytes; otherwise name_2, name_3, ... is tried: the first that is free or holds the same bytes.
// Nothing is written outside the result folder or through a link. Empty when the folders or the
// file cannot be made or written (nothing half-written is left).
std::optional<std::string> StoreImage(const std::string& resultFolder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes);

// What became of the images of one article.
struct DownloadSummary {
    std::size_t stored = 0;  // rows that ended saved
    std::size_t failed = 0;  // rows that ended failed
    bool complete = true;    // every row was dealt with; false when a stop cut the walk short
};

// How the retry wait sleeps; tests pass one that only counts.
using SleepFunction = void (*)(std::chrono::milliseconds);
void RealSleep(std::chrono::milliseconds duration);

// For each row of the status list (one per reference, in order): download the image, with
// one retry after a second, store it and rewrite its references in text; each row shows its
// state. A stop (the event points' stop token) abandons the download in flight and ends the
// walk at once.
DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const std::string& resultFolder, JobWindow& window,
                               web::WebClient& web, platform::EventPoints& events,
                               SleepFunction sleep = RealSleep);

}  // namespace zembrat::job
