#include "job/image_download.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "job/folders.h"
#include "job/image_names.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

using namespace text::literals;

// Other pictures that happen to share a CRC-32 are rare; past this many, give up.
constexpr int kMaxNameVariants = 1000;

// The body of a 2xx answer; anything else is no usable image.
text::Bytes FetchImage(web::WebClient& web, const std::string& address) {
    text::Bytes bytes = web.FetchBytes(address);
    const long status = web.Status();
    if (status < 200 || status > 299) bytes.clear();
    return bytes;
}

// One second, in 10 ms sleeps, with events processed after each.
void WaitBeforeRetry(JobWindow& window) {
    for (int round = 0; round < 100; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        window.ProcessEvents();
    }
}

bool HoldsBytes(const std::string& path, std::string_view bytes) {
    if (platform::IsFolder(path)) return false;
    text::Bytes existing;
    return platform::ReadWholeFile(path, existing) && existing == bytes;
}

}  // namespace

std::optional<std::string> StoreImage(const std::string& resultFolder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes) {
    for (int variant = 1; variant <= kMaxNameVariants; ++variant) {
        const std::string stem = variant == 1 ? name : name + "_" + std::to_string(variant);
        const std::string rel = ImageRelPath(imageFolder, stem, extension);
        const std::string full = resultFolder + rel;
        if (platform::PathExists(full)) {
            if (HoldsBytes(full, bytes)) return rel;
            continue;
        }
        // Folders are made once; later images find them there with a single look.
        if (!platform::IsFolder(text::DirectoryPart(full)) && !MakeFolders(full))
            return std::nullopt;
        if (!platform::WriteWholeFile(full, bytes)) {
            std::error_code ec;
            std::filesystem::remove(platform::NativePath(full), ec);
            return std::nullopt;
        }
        return rel;
    }
    return std::nullopt;
}

std::string DownloadImages(std::string text, const std::vector<ImageRef>& refs,
                           const std::string& resultFolder, JobWindow& window, web::WebClient& web,
                           const bool& stopRequested) {
    const int rows = std::min(window.RowCount(), static_cast<int>(refs.size()));
    // The boxes are locked for the run, so their texts are read once per article.
    const std::string imageFolder = window.EditText(EditBox::ImageFolder);
    const std::string newPrefix = window.EditText(EditBox::NewPrefix);
    const std::string downloading = "正在下载到 "_gbk + imageFolder;
    std::string scratch;
    for (int row = 0; row < rows; ++row) {
        if (stopRequested) break;
        const ImageRef& ref = refs[static_cast<std::size_t>(row)];
        window.ScrollToRow(row);
        window.SetRowIcon(row, StatusIcon::Downloading);
        window.SetCellText(row, 0, downloading);

        text::Bytes bytes = FetchImage(web, ref.address);
        if (bytes.empty()) {
            WaitBeforeRetry(window);
            bytes = FetchImage(web, ref.address);
        }
        if (bytes.empty()) {
            window.SetRowIcon(row, StatusIcon::Failed);
            window.SetCellText(row, 0, "下载失败 "_gbk);
            continue;
        }

        const std::optional<std::string> rel = StoreImage(
            resultFolder, imageFolder, ContentName(bytes), ImageExtension(ref.address), bytes);
        if (!rel) {
            // The article keeps its reference: it must never point at an image that is not there.
            window.SetRowIcon(row, StatusIcon::Failed);
            window.SetCellText(row, 0, "保存失败 "_gbk);
            continue;
        }
        window.SetRowIcon(row, StatusIcon::Saved);
        window.SetCellText(row, 0, *rel);
        RewriteInPlace(text, ref.sourceValue, NewAddress(*rel, newPrefix), scratch);
    }
    return text;
}

}  // namespace zembrat::job
