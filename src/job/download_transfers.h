// Where the download walk's transfers run: one at a time on the web client's own connection, or
// several at once through a group of downloads.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/extension_options.h"
#include "platform/http_request_failure.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::web {
class FetchGroup;
}

namespace zembrat::job {

// The arguments of every image request of a run under the options (its time bound).
web::RequestArguments FetchArguments(const ExtensionOptions& options);

// A download that ended, as the walk takes it.
struct EndedTransfer {
    std::size_t tag = 0;
    long status = 0;
    text::Bytes body;
    std::string contentType;
    platform::TransferFailure failure = platform::TransferFailure::None;
    std::string etag;  // of a 2xx answer
    std::string lastModified;
};

// Where the walk's downloads run: one at a time on the client's own connection, or several at
// once through a group.
class Transfers {
  public:
    virtual ~Transfers() = default;
    // One at a time: the rows go strictly in order, and a retry is waited for in event passes.
    virtual bool OneAtATime() const = 0;
    virtual std::string HostOf(const std::string& address) const = 0;
    virtual bool CanStart(const std::string& address) const = 0;
    virtual void Start(std::size_t tag, const std::string& address,
                       const web::RequestArguments& arguments) = 0;
    virtual std::size_t Running() const = 0;
    // At least one ended, or until came; nothing when a stop came.
    virtual std::vector<EndedTransfer> Wait(
        std::optional<std::chrono::steady_clock::time_point> until) = 0;
    virtual void AbandonAll() = 0;
};

// One at a time through the client (it outlives the transfers).
std::unique_ptr<Transfers> TransfersOneAtATime(web::WebClient& web,
                                               const ExtensionOptions& options);
// Several at once through the group (it outlives the transfers).
std::unique_ptr<Transfers> TransfersAtOnce(web::FetchGroup& group, const ExtensionOptions& options);

}  // namespace zembrat::job
