#include "job/article_images.h"

#include <algorithm>
#include <deque>
#include <set>
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

void RewriteStoredSources(std::string& text, const std::vector<ImageRef>& refs,
                          const std::vector<std::string_view>& newAddresses,
                          const std::vector<RefVerdict>& verdicts, bool whereFound,
                          std::string& scratch) {
    if (!whereFound) {
        std::vector<text::TextReplacement> rewrites;
        rewrites.reserve(refs.size());
        for (std::size_t row = 0; row < refs.size() && row < newAddresses.size(); ++row) {
            if (!newAddresses[row].empty())
                rewrites.push_back({refs[row].sourceValue, newAddresses[row]});
        }
        RewriteInPlace(text, rewrites, scratch);
        return;
    }
    // Each stored verdict with its new address: the Download verdicts are the rows, in order.
    std::vector<std::pair<const RefVerdict*, std::string_view>> stored;
    std::size_t row = 0;
    for (const RefVerdict& verdict : verdicts) {
        if (verdict.decision != RefDecision::Download || row >= refs.size()) continue;
        const std::string_view to = row < newAddresses.size() ? newAddresses[row] : "";
        if (!to.empty() && refs[row].sourceValue.size() == verdict.sourceValue.size())
            stored.emplace_back(&verdict, to);
        ++row;
    }
    // The pieces to write: each place of a stored source, and the src of each lazy image that
    // shows one (its text holds the source, which becomes the new address).
    struct Piece {
        std::size_t offset, length;
        std::string_view text;
    };
    std::vector<Piece> pieces;
    std::deque<std::string> written;  // the lazy images' src as written
    for (const auto& [verdict, to] : stored) {
        const std::string& source = verdict->sourceValue;
        for (const std::size_t place : verdict->places) {
            // Only a place that holds the text it was read as.
            if (place <= text.size() && text.compare(place, source.size(), source) == 0)
                pieces.push_back({place, source.size(), to});
        }
        for (const SourceEdit& edit : verdict->edits) {
            // The source ends the edit's text but for a closing quote.
            const std::size_t at = edit.text.rfind(edit.source);
            if (edit.offset + edit.length > text.size() || at == std::string::npos) continue;
            std::string& src = written.emplace_back(edit.text);
            src.replace(at, edit.source.size(), to);
            pieces.push_back({edit.offset, edit.length, src});
        }
    }
    if (pieces.empty()) return;
    // In article order already, unless a text stands more than once.
    const auto byOffset = [](const Piece& a, const Piece& b) { return a.offset < b.offset; };
    if (!std::is_sorted(pieces.begin(), pieces.end(), byOffset))
        std::stable_sort(pieces.begin(), pieces.end(), byOffset);
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
    std::vector<std::string_view> newAddresses;
    newAddresses.reserve(summary_.records.size());
    for (const ImageRecord& record : summary_.records) newAddresses.push_back(record.newAddress);
    RewriteStoredSources(text, refs_, newAddresses, verdicts, RewritesWhereFound(options_),
                         scratch_);
}

}  // namespace zembrat::job
