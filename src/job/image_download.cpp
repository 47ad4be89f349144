#include "job/image_download.h"

#include <chrono>
#include <thread>

#include "job/content_type.h"
#include "job/image_names.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

using namespace text::literals;

// Other pictures that happen to share a CRC-32 are rare; past this many, give up.
constexpr int kMaxNameVariants = 1000;

web::RequestArguments FetchArguments(const ExtensionOptions& options) {
    web::RequestArguments arguments;
    arguments.timeout = options.timeoutSeconds;  // 0: the usual waits
    return arguments;
}

// The body of a 2xx answer that is not a web page, once the fetch that StartFetchBytes began has
// ended; anything else is no usable image. The record keeps what came.
text::Bytes FinishImage(web::WebClient& web, const ExtensionOptions& options, ImageRecord& record) {
    text::Bytes bytes = web.FinishFetchBytes(FetchArguments(options));
    record.status = web.Status();
    record.bytes = bytes.size();
    if (record.status < 200 || record.status > 299) {
        bytes.clear();
    } else if (!bytes.empty() && IsWebPage(web.GetResponseHeader("Content-Type"), bytes)) {
        // An error page sent with a 2xx status ("图片不存在") must not be stored as the image.
        bytes.clear();
        record.reason = FailReason::NotAnImage;
    }
    return bytes;
}

text::Bytes FetchImage(web::WebClient& web, const std::string& address,
                       const ExtensionOptions& options, ImageRecord& record) {
    web.StartFetchBytes(address, FetchArguments(options));
    return FinishImage(web, options, record);
}

FailReason WhyUnusable(const ImageRecord& record) {
    if (record.reason == FailReason::NotAnImage) return FailReason::NotAnImage;
    if (record.status == 0) return FailReason::TimedOut;
    if (record.status < 200 || record.status > 299) return FailReason::Status;
    return FailReason::NotAnImage;  // an empty body
}

// One second, in 10 ms sleeps, with events processed after each; a stop ends it at once.
void WaitBeforeRetry(platform::EventPoints& events, const std::stop_token& stop,
                     SleepFunction sleep) {
    for (int round = 0; round < 100 && !stop.stop_requested(); ++round) {
        sleep(std::chrono::milliseconds(10));
        events.ProcessEvents();
    }
}

// The stored image's new address. Under the https option a new domain prefix that names its
// scheme ("https://example.com") is taken as written; otherwise "http://" goes in front.
std::string AddressOnTheSite(const std::string& rel, const std::string& newPrefix,
                             const ExtensionOptions& options) {
    const std::string lower = text::AsciiLower(newPrefix.substr(0, 8));
    if (options.https && (lower.starts_with("https://") || lower.starts_with("http://")))
        return newPrefix + NewAddress(rel, "");
    return NewAddress(rel, newPrefix);
}

}  // namespace

void RealSleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

platform::FolderBeneath ImageStoreFolder(const std::string& resultFolder,
                                         std::string_view imageFolder) {
    return platform::FolderBeneath(resultFolder, text::ReplaceAll(imageFolder, "\\", "/"));
}

std::optional<std::string> StoreImage(platform::FolderBeneath& folder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes, bool* reused) {
    for (int variant = 1; variant <= kMaxNameVariants; ++variant) {
        const std::string stem = variant == 1 ? name : name + "_" + std::to_string(variant);
        const platform::StoreBytesResult outcome = folder.Store(stem + "." + extension, bytes);
        switch (outcome) {
            case platform::StoreBytesResult::Stored:
            case platform::StoreBytesResult::Same:
                if (reused) *reused = platform::StoreBytesResult::Same == outcome;
                return ImageRelPath(imageFolder, stem, extension);
            case platform::StoreBytesResult::Taken:
                continue;
            case platform::StoreBytesResult::Failed:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const std::string& resultFolder, JobWindow& window,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options, SleepFunction sleep) {
    const std::stop_token stop = events.StopToken();
    DownloadSummary summary;
    summary.records.reserve(refs.size());
    for (const ImageRef& ref : refs) {
        ImageRecord& record = summary.records.emplace_back();
        record.sourceValue = ref.sourceValue;
        record.address = ref.address;
    }
    const int rows = std::min(window.RowCount(), static_cast<int>(refs.size()));
    // The boxes are locked for the run, so their texts are read once per article.
    const std::string imageFolder = window.EditText(EditBox::ImageFolder);
    const std::string newPrefix = window.EditText(EditBox::NewPrefix);
    const std::string downloading = "正在下载到 "_gbk + imageFolder;
    platform::FolderBeneath store = ImageStoreFolder(resultFolder, imageFolder);
    std::string scratch;
    bool started = false;  // the row's download was started while the one before was dealt with
    for (int row = 0; row < rows; ++row) {
        if (stop.stop_requested()) {
            summary.complete = false;
            break;
        }
        const ImageRef& ref = refs[static_cast<std::size_t>(row)];
        ImageRecord& record = summary.records[static_cast<std::size_t>(row)];
        window.ScrollToRow(row);
        window.SetRowIcon(row, StatusIcon::Downloading);
        window.SetCellText(row, 0, downloading);

        text::Bytes bytes = started ? FinishImage(web, options, record)
                                    : FetchImage(web, ref.address, options, record);
        started = false;
        if (bytes.empty() && !stop.stop_requested()) {
            WaitBeforeRetry(events, stop, sleep);
            record.reason = FailReason::None;
            if (!stop.stop_requested()) bytes = FetchImage(web, ref.address, options, record);
        }
        if (stop.stop_requested()) {
            // The download was abandoned: this image is not dealt with, nor is the article.
            record.reason = FailReason::Stopped;
            summary.complete = false;
            break;
        }
        if (!bytes.empty() && row + 1 < rows) {
            // This image's download is over: the next one's request goes out now, so that its
            // answer travels while this image is checked, stored and rewritten. Still one
            // download at a time, on one connection.
            web.StartFetchBytes(refs[static_cast<std::size_t>(row) + 1].address,
                                FetchArguments(options));
            started = true;
        }
        if (bytes.empty()) {
            window.SetRowIcon(row, StatusIcon::Failed);
            window.SetCellText(row, 0, "下载失败 "_gbk);
            record.outcome = ImageOutcome::Failed;
            record.reason = WhyUnusable(record);
            ++summary.failed;
            continue;
        }

        if (options.checkContent && DetectImageType(bytes) == ImageType::None) {
            window.SetRowIcon(row, StatusIcon::Failed);
            window.SetCellText(row, 0, "不是图片 "_gbk);
            record.outcome = ImageOutcome::Failed;
            record.reason = FailReason::NotAnImage;
            ++summary.failed;
            continue;
        }

        bool reused = false;
        const std::optional<std::string> rel =
            StoreImage(store, imageFolder, ContentName(bytes),
                       StoredExtension(ref.address, bytes, options.checkContent), bytes, &reused);
        if (!rel) {
            // The article keeps its reference: it must never point at an image that is not there.
            window.SetRowIcon(row, StatusIcon::Failed);
            window.SetCellText(row, 0, "保存失败 "_gbk);
            record.outcome = ImageOutcome::Failed;
            record.reason = FailReason::CannotWrite;
            ++summary.failed;
            continue;
        }
        window.SetRowIcon(row, StatusIcon::Saved);
        window.SetCellText(row, 0, *rel);
        ++summary.stored;
        record.outcome = reused ? ImageOutcome::Reused : ImageOutcome::Stored;
        record.storedPath = *rel;
        record.newAddress = AddressOnTheSite(*rel, newPrefix, options);
        RewriteInPlace(text, ref.sourceValue, record.newAddress, scratch);
    }
    if (started) web.Abort();  // a walk ended by a stop leaves no request behind
    return summary;
}

}  // namespace zembrat::job
