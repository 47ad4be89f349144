#include "job/article_images.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

#include "job/content_type.h"
#include "job/image_names.h"
#include "job/image_optimization.h"
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

void RewriteStoredSources(std::string& text, const std::vector<RefVerdict>& verdicts,
                          const std::vector<StoredSource>& stored, bool whereFound,
                          std::string& scratch) {
    if (!whereFound) {
        std::vector<text::TextReplacement> rewrites;
        rewrites.reserve(stored.size());
        for (const StoredSource& s : stored) rewrites.push_back({s.source, s.newAddress});
        RewriteInPlace(text, rewrites, scratch);
        return;
    }
    std::unordered_map<std::string_view, std::string_view> newAddress;
    newAddress.reserve(stored.size());
    for (const StoredSource& s : stored) newAddress.emplace(s.source, s.newAddress);
    // The pieces to write: each place of a stored source, and the src of each lazy image that
    // shows one (its text holds the source, which becomes the new address).
    struct Piece {
        std::size_t offset, length;
        std::string text;
    };
    std::vector<Piece> pieces;
    for (const RefVerdict& verdict : verdicts) {
        if (verdict.decision != RefDecision::Download) continue;
        const auto to = newAddress.find(verdict.sourceValue);
        if (to == newAddress.end()) continue;
        for (const std::size_t place : verdict.places) {
            // Only a place that holds the text it was read as.
            if (text.compare(place, verdict.sourceValue.size(), verdict.sourceValue) == 0)
                pieces.push_back({place, verdict.sourceValue.size(), std::string(to->second)});
        }
        for (const SourceEdit& edit : verdict.edits) {
            // The source ends the edit's text but for a closing quote.
            const std::size_t at = edit.text.rfind(edit.source);
            if (edit.offset + edit.length > text.size() || at == std::string::npos) continue;
            std::string written = edit.text;
            written.replace(at, edit.source.size(), to->second);
            pieces.push_back({edit.offset, edit.length, std::move(written)});
        }
    }
    if (pieces.empty()) return;
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    scratch.clear();
    scratch.reserve(text.size());
    std::size_t done = 0;
    for (const Piece& piece : pieces) {
        if (piece.offset < done) continue;  // one piece of the article is written once
        scratch.append(text, done, piece.offset - done);
        scratch.append(piece.text);
        done = piece.offset + piece.length;
    }
    scratch.append(text, done, std::string::npos);
    text.swap(scratch);
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
    // The image options shape what is stored (its name is the CRC-32 of what is stored).
    const std::optional<ShapedImage> shaped = ShapeImage(Ref(row).address, bytes, options_);
    const text::Bytes& stored = shaped ? shaped->bytes : bytes;
    bool reused = false;
    const std::optional<std::string> rel =
        StoreImage(store_, destination_.imagesBelow, ContentName(stored),
                   shaped ? shaped->extension
                          : StoredExtension(Ref(row).address, bytes, options_.checkContent),
                   stored, &reused);
    // Unstored, the article keeps its reference: it must never point at an image that is not
    // there.
    if (!rel) return Fail(row, FailReason::CannotWrite);
    ++summary_.stored;
    record.outcome = reused ? ImageOutcome::Reused : ImageOutcome::Stored;
    record.storedPath = *rel;
    record.newAddress = AddressOnTheSite(*rel, destination_.newPrefix, options_);
    record.storedSize = stored.size();
    record.crc = text::Crc32(stored);
    record.shaped = shaped.has_value();
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
    std::vector<StoredSource> stored;
    for (int row = 0; row < Rows(); ++row) {
        if (!Record(row).newAddress.empty())
            stored.push_back({Ref(row).sourceValue, Record(row).newAddress});
    }
    RewriteStoredSources(text, verdicts, stored, RewritesWhereFound(options_), scratch_);
}

}  // namespace zembrat::job
