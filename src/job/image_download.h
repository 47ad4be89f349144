// Downloading, storing and re-addressing the images of one article.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/image_refs.h"
#include "job/job_window.h"

namespace zembrat::web {
class WebClient;
}

namespace zembrat::job {

// Stores bytes below the result folder at the image folder under name.ext and returns the path
// relative to the result folder. A file already there is reused only when it holds the same
// bytes; otherwise name_2, name_3, ... is tried: the first that is free or holds the same bytes.
// Empty when the folders or the file cannot be made or written (nothing half-written is left).
std::optional<std::string> StoreImage(const std::string& resultFolder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes);

// For each row of the status list (one per reference, in order): download the image, with
// one retry after a second, store it and rewrite its references in the article; each row
// shows its state. Stops before the next image once stopRequested is set. Returns the text.
std::string DownloadImages(std::string text, const std::vector<ImageRef>& refs,
                           const std::string& resultFolder, JobWindow& window,
                           web::WebClient& web, const bool& stopRequested);

}  // namespace zembrat::job
