#include "publish/public_copies.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "publish/curl_session.h"
#include "publish/result_items.h"
#include "publish/web_transfer.h"
#include "record/run_record.h"
#include "text/crc32.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

// One published image, as its run stored it.
struct Stored {
    std::string remotePath;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

std::string Crc32Hex(std::uint32_t crc) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", crc);
    return hex;
}

CopyCheck Check(WebSession& session, const std::string& base, const Stored& stored,
                std::stop_token stop) {
    CopyCheck copy;
    copy.remotePath = stored.remotePath;
    copy.address =
        base + "/" + text::PercentEncoded(stored.remotePath, text::UrlKeeps::UnreservedAndSlash);
    WebRequest request;
    request.url = copy.address;
    request.stop = std::move(stop);
    const WebAnswer answer = session.Perform(request);
    if (answer.status == 0) {
        copy.outcome = CopyOutcome::Unreachable;
        copy.why = answer.stopped ? "stopped" : answer.failure;
        return copy;
    }
    if (answer.status != 200) {
        copy.outcome = CopyOutcome::Missing;
        copy.why = "the address answered " + std::to_string(answer.status);
        return copy;
    }
    std::string type = answer.contentType.substr(0, answer.contentType.find(';'));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool same = answer.body.size() == stored.size && text::Crc32(answer.body) == stored.crc;
    if (!type.empty() && !type.starts_with("image/")) {
        copy.outcome = CopyOutcome::NotAnImage;
        copy.why = "it is served as " + type + (same ? ", not as an image" : ", not the image");
        return copy;
    }
    if (!same) {
        copy.outcome = CopyOutcome::Different;
        copy.why = std::to_string(answer.body.size()) + " bytes of CRC-32 " +
                   Crc32Hex(text::Crc32(answer.body)) + " are served, not the " +
                   std::to_string(stored.size) + " bytes of CRC-32 " + Crc32Hex(stored.crc) +
                   " its name says";
        return copy;
    }
    copy.outcome = CopyOutcome::Same;
    return copy;
}

}  // namespace

std::size_t PublicCopies::Count(CopyOutcome outcome) const {
    return static_cast<std::size_t>(std::count_if(
        copies.begin(), copies.end(), [&](const CopyCheck& c) { return c.outcome == outcome; }));
}

const char* CopyOutcomeText(CopyOutcome outcome) {
    switch (outcome) {
        case CopyOutcome::Same:
            return "same";
        case CopyOutcome::Missing:
            return "missing";
        case CopyOutcome::Different:
            return "different";
        case CopyOutcome::NotAnImage:
            return "not an image";
        case CopyOutcome::Unreachable:
            return "unreachable";
    }
    return "";
}

PublicCopies CheckPublicCopies(const ResultPublishRequest& request, int atOnce,
                               const std::function<void(const CopyCheck&)>& checked,
                               std::stop_token stop) {
    PublicCopies result;
    ResultPublish opened;
    record::RunRecord record;
    const bool open = OpenResult(request, record, opened);
    result.end = opened.end;
    result.message = opened.message;
    result.recordMessage = opened.recordMessage;
    result.target = opened.target;
    if (!open) return result;
    const Target& target = *result.target;
    if (target.publicAddress.empty()) {
        result.end = ResultPublishEnd::NoTarget;
        result.message =
            target.name + " has no public address (public=): there is nowhere to check its copies";
        return result;
    }
    // What was published there from this result: the images its manifest keeps.
    const std::string place = TargetPlace(target);
    std::vector<Stored> images;
    record.ForEachStoredImage([&](const record::ImageEntry& image) {
        const std::string remotePath = RemotePathOf(image.storedPath);
        if (SplitRemotePath(remotePath) && record.Published(place, remotePath))
            images.push_back({remotePath, image.size, image.crc});
    });
    if (images.empty()) {
        result.end = ResultPublishEnd::NothingToPublish;
        return result;
    }
    result.end = ResultPublishEnd::Published;
    std::string base = target.publicAddress;
    while (!base.empty() && base.back() == '/') base.pop_back();

    // A few fetchers over their own connections; the calling thread alone tells.
    result.copies.resize(images.size());
    std::atomic<std::size_t> next = 0;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::size_t> done;
    const auto fetch = [&] {
        WebSession session(WebLogin{}, "");
        for (std::size_t i; (i = next.fetch_add(1)) < images.size();) {
            CopyCheck copy = Check(session, base, images[i], stop);
            std::lock_guard lock(mutex);
            result.copies[i] = std::move(copy);
            done.push_back(i);
            ready.notify_one();
        }
    };
    const std::size_t fetchers =
        std::min<std::size_t>(std::clamp(atOnce, 1, kMaxUploads), images.size());
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < fetchers; ++t) threads.emplace_back(fetch);
    for (std::size_t told = 0; told < images.size();) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return !done.empty(); });
        const std::size_t i = done.front();
        done.pop_front();
        lock.unlock();
        if (checked) checked(result.copies[i]);
        ++told;
    }
    return result;
}

}  // namespace zembrat::publish
