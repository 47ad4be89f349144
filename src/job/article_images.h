// The images of one article, row by row, as the download walk settles them: each usable body
// stored under its content name in the image folder, each failure told, and the article
// rewritten for the images stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/extension_options.h"
#include "job/references.h"
#include "job/run_events.h"
#include "platform/files.h"
#include "platform/http_request_failure.h"
#include "text/gbk.h"

namespace zembrat::job {

// Stores bytes in the image folder (imagesBelow, below the result folder, held by folder) under
// name.ext and returns the path relative to the result folder. A file already there is reused
// only when it holds the same bytes; otherwise name_2, name_3, ... is tried: the first that is
// free or holds the same bytes. Nothing is written outside the result folder or through a link.
// Empty when the folders or the file cannot be made or written (nothing half-written is left).
// reused, when given, tells whether the bytes were already there.
std::optional<std::string> StoreImage(platform::FolderBeneath& folder, std::string_view imagesBelow,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes, bool* reused = nullptr);

// The article rewritten for its stored sources, in time linear in the article and the
// references. newAddresses holds one address for each of refs (empty: that one was not stored);
// refs are the Download verdicts' references, in order (KeptReferences). whereFound
// (RewritesWhereFound): each source replaced exactly at the places its verdict holds, and the lazy
// images that show it (the verdict's edits) get its new address into their src; nothing else
// changes. Otherwise each source text replaced wherever it stands, one after the other in order.
void RewriteStoredSources(std::string& text, const std::vector<ImageRef>& refs,
                          const std::vector<std::string_view>& newAddresses,
                          const std::vector<RefVerdict>& verdicts, bool whereFound,
                          std::string& scratch);

// What became of the images of one article.
struct DownloadSummary {
    std::size_t stored = 0;  // rows that ended saved
    std::size_t failed = 0;  // rows that ended failed
    bool complete = true;    // every row was dealt with; false when a stop cut the walk short
    std::vector<ImageRecord> records;  // one per reference, in row order
};

// An image stored before, its file still there with the size and CRC-32 it was stored with.
struct KnownImage {
    std::string storedPath;  // relative to the result folder
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string etag;
    std::string lastModified;
};

// Where a run's images go and how they are addressed: made once per run and handed on.
struct ImageDestination {
    ImageDestination(std::string resultFolder, std::string imageFolder, std::string newPrefix);

    std::string resultFolder;  // ends with a separator
    std::string imageFolder;   // as typed, below the result folder
    std::string imagesBelow;   // the image folder as a path below the result folder
    std::string newPrefix;     // as typed
};

// An answer's body when it is a usable image answer: 2xx and not a web page. The record keeps
// what came (status, failure, size, and why it is no image).
text::Bytes UsableBody(text::Bytes bytes, long status, std::string_view contentType,
                       platform::TransferFailure failure, ImageRecord& record);

// The rows of one article: one record per kept reference, settled as their answers come, the
// observer told of each.
class ArticleImages {
  public:
    ArticleImages(const std::vector<ImageRef>& refs, const ImageDestination& destination,
                  RunObserver& observer, const ExtensionOptions& options);

    int Rows() const { return static_cast<int>(refs_.size()); }
    const ImageRef& Ref(int row) const { return refs_[static_cast<std::size_t>(row)]; }
    ImageRecord& Record(int row) { return summary_.records[static_cast<std::size_t>(row)]; }
    DownloadSummary& Summary() { return summary_; }

    // The row's download begins.
    void ShowDownloading(int row) { observer_.ImageBegins(static_cast<std::size_t>(row)); }

    // The row's last answer has come (bytes: its usable body, empty for none): the row fails, or
    // the image is stored. True when it was stored; its new address is then in its record.
    bool Settle(int row, const text::Bytes& bytes);
    // The row needs no download: the image is already stored, as known.
    void SettleKnown(int row, const KnownImage& known);

    // The article rewritten for its stored rows (RewriteStoredSources under the run's options):
    // equal pictures stored by this walk told as the one that stored the file and the ones that
    // reused it, in row order; then every stored row's source replaced by its new address.
    void Rewrite(std::string& text, const std::vector<RefVerdict>& verdicts);

  private:
    bool Fail(int row, FailReason reason);

    const std::vector<ImageRef>& refs_;
    RunObserver& observer_;
    const ExtensionOptions& options_;
    const ImageDestination& destination_;
    platform::FolderBeneath store_;
    DownloadSummary summary_;
    std::string scratch_;
};

}  // namespace zembrat::job
