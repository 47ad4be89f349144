#include "job/article_images.h"

#include <algorithm>
#include <set>
#include <utility>

#include "job/content_type.h"
#include "job/image_names.h"
#include "text/codec.h"
#include "text/crc32.h"

namespace zembrat::job {
namespace {

// Other pictures that happen to share a CRC-32 are rare; past this many, give up.
constexpr int kMaxNameVariants = 1000;

FailReason WhyUnusable(const ImageRecord& record) {
    if (record.reason == FailReason::WebPage || record.reason == FailReason::Placeholder)
        return record.reason;
    if (record.status == 0) return FailReason::NoAnswer;
    if (record.status < 200 || record.status > 299) return FailReason::Status;
    return FailReason::WebPage;  // an empty body
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

std::optional<std::string> StoreImage(platform::FolderBeneath& folder, std::string_view imagesBelow,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes, bool* reused) {
    for (int variant = 1; variant <= kMaxNameVariants; ++variant) {
        const std::string stem = variant == 1 ? name : name + "_" + std::to_string(variant);
        const platform::StoreBytesResult outcome = folder.Store(stem + "." + extension, bytes);
        switch (outcome) {
            case platform::StoreBytesResult::Stored:
            case platform::StoreBytesResult::Same:
                if (reused) *reused = platform::StoreBytesResult::Same == outcome;
                return ImageRelPath(imagesBelow, stem, extension);
            case platform::StoreBytesResult::Taken:
                continue;
            case platform::StoreBytesResult::Failed:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

ImageDestination::ImageDestination(std::string resultFolder, std::string imageFolder,
                                   std::string newPrefix)
    : resultFolder(std::move(resultFolder)),
      imageFolder(std::move(imageFolder)),
      imagesBelow(ImageFolderBelow(this->imageFolder)),
      newPrefix(std::move(newPrefix)) {}

text::Bytes UsableBody(text::Bytes bytes, long status, std::string_view contentType,
                       platform::TransferFailure failure, ImageRecord& record) {
    record.status = status;
    record.transfer = failure;
    record.bytes = bytes.size();
    if (status < 200 || status > 299) {
        bytes.clear();
    } else if (!bytes.empty() && IsWebPage(contentType, bytes)) {
        // An error page sent with a 2xx status ("图片不存在") must not be stored as the image.
        bytes.clear();
        record.reason = FailReason::WebPage;
    }
    return bytes;
}

ArticleImages::ArticleImages(const std::vector<ImageRef>& refs, const ImageDestination& destination,
                             RunObserver& observer, const ExtensionOptions& options)
    : refs_(refs),
      observer_(observer),
      options_(options),
      destination_(destination),
      store_(destination.resultFolder, destination.imagesBelow) {
    summary_.records.reserve(refs.size());
    for (const ImageRef& ref : refs) {
        ImageRecord& record = summary_.records.emplace_back();
        record.sourceValue = ref.sourceValue;
        record.address = ref.address;
    }
}

bool ArticleImages::Settle(int row, const text::Bytes& bytes) {
    ImageRecord& record = Record(row);
    if (bytes.empty()) return Fail(row, WhyUnusable(record));
    if (options_.checkContent && DetectImageType(bytes) == ImageType::None)
        return Fail(row, FailReason::NotAnImage);
    bool reused = false;
    const std::optional<std::string> rel =
        StoreImage(store_, destination_.imagesBelow, ContentName(bytes),
                   StoredExtension(Ref(row).address, bytes, options_.checkContent), bytes, &reused);
    // Unstored, the article keeps its reference: it must never point at an image that is not
    // there.
    if (!rel) return Fail(row, FailReason::CannotWrite);
    ++summary_.stored;
    record.outcome = reused ? ImageOutcome::Reused : ImageOutcome::Stored;
    record.storedPath = *rel;
    record.newAddress = AddressOnTheSite(*rel, destination_.newPrefix, options_);
    record.storedSize = bytes.size();
    record.crc = text::Crc32(bytes);
    observer_.ImageSettled(static_cast<std::size_t>(row), record);
    return true;
}

void ArticleImages::SettleKnown(int row, const KnownImage& known) {
    ImageRecord& record = Record(row);
    ++summary_.stored;
    record.outcome = ImageOutcome::Reused;
    record.reason = FailReason::Recorded;
    record.storedPath = known.storedPath;
    record.newAddress = AddressOnTheSite(known.storedPath, destination_.newPrefix, options_);
    record.storedSize = known.size;
    record.crc = known.crc;
    record.etag = known.etag;
    record.lastModified = known.lastModified;
    observer_.ImageSettled(static_cast<std::size_t>(row), record);
}

bool ArticleImages::Fail(int row, FailReason reason) {
    ImageRecord& record = Record(row);
    record.outcome = ImageOutcome::Failed;
    record.reason = reason;
    ++summary_.failed;
    observer_.ImageSettled(static_cast<std::size_t>(row), record);
    return false;
}

void ArticleImages::Rewrite(std::string& text, const std::vector<RefVerdict>& verdicts) {
    // Equal pictures stored in the order their answers came: the first row of each file made
    // here is the one that stored it, as when the rows are taken one after the other.
    std::set<std::string> made, first;
    for (const ImageRecord& record : summary_.records) {
        if (record.outcome == ImageOutcome::Stored) made.insert(record.storedPath);
    }
    for (ImageRecord& record : summary_.records) {
        if (made.contains(record.storedPath))
            record.outcome = first.insert(record.storedPath).second ? ImageOutcome::Stored
                                                                    : ImageOutcome::Reused;
    }
    // The lazy images of a stored source get that source into their src first, placed in the
    // article as it was read and from its end back, so that the texts' replacement below
    // carries them to the stored image as well.
    std::set<std::string_view> stored;
    for (int row = 0; row < Rows(); ++row) {
        if (!Record(row).newAddress.empty()) stored.insert(Ref(row).sourceValue);
    }
    std::vector<const SourceEdit*> edits;
    for (const RefVerdict& verdict : verdicts) {
        if (verdict.decision != RefDecision::Download || !stored.contains(verdict.sourceValue))
            continue;
        for (const SourceEdit& edit : verdict.edits) edits.push_back(&edit);
    }
    std::sort(edits.begin(), edits.end(),
              [](const SourceEdit* a, const SourceEdit* b) { return a->offset > b->offset; });
    std::size_t limit = text.size();
    for (const SourceEdit* edit : edits) {
        if (edit->offset + edit->length > limit) continue;  // one piece is written once
        text.replace(edit->offset, edit->length, edit->text);
        limit = edit->offset;
    }
    // The sources of the stored rows replaced by their new addresses, row after row.
    std::vector<text::TextReplacement> rewrites;
    for (int row = 0; row < Rows(); ++row) {
        if (!Record(row).newAddress.empty())
            rewrites.push_back({Ref(row).sourceValue, Record(row).newAddress});
    }
    RewriteInPlace(text, rewrites, scratch_);
}

}  // namespace zembrat::job
