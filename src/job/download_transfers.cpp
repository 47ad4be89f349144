#include "job/download_transfers.h"

#include <utility>

#include "web/fetch_group.h"

namespace zembrat::job {
namespace {

class OneTransfer : public Transfers {
  public:
    OneTransfer(web::WebClient& web, const ExtensionOptions& options)
        : web_(web), arguments_(FetchArguments(options)) {}
    bool OneAtATime() const override { return true; }
    std::string HostOf(const std::string&) const override { return {}; }
    bool CanStart(const std::string&) const override { return !running_; }
    void Start(std::size_t tag, const std::string& address,
               const web::RequestArguments& arguments) override {
        web_.StartFetchBytes(address, arguments);
        tag_ = tag;
        running_ = true;
    }
    std::size_t Running() const override { return running_ ? 1 : 0; }
    std::vector<EndedTransfer> Wait(std::optional<std::chrono::steady_clock::time_point>) override {
        if (!running_) return {};
        running_ = false;
        EndedTransfer ended;
        ended.tag = tag_;
        ended.body = web_.FinishFetchBytes(arguments_);
        ended.status = web_.Status();
        ended.failure = web_.LastFailure();
        if (ended.status >= 200 && ended.status <= 299 && !ended.body.empty())
            ended.contentType = web_.GetResponseHeader("Content-Type");
        if (ended.status >= 200 && ended.status <= 299) {
            ended.etag = web_.GetResponseHeader("ETag");
            ended.lastModified = web_.GetResponseHeader("Last-Modified");
        }
        return {std::move(ended)};
    }
    void AbandonAll() override {
        if (running_) web_.Abort();  // a walk ended by a stop leaves no request behind
        running_ = false;
    }

  private:
    web::WebClient& web_;
    web::RequestArguments arguments_;
    std::size_t tag_ = 0;
    bool running_ = false;
};

class GroupTransfers : public Transfers {
  public:
    GroupTransfers(web::FetchGroup& group, const ExtensionOptions& options)
        : group_(group), https_(options.https) {}
    bool OneAtATime() const override { return false; }
    std::string HostOf(const std::string& address) const override {
        return web::FetchGroup::HostKey(address, https_);
    }
    bool CanStart(const std::string& address) const override {
        return group_.Running() < group_.MaxAtOnce() && group_.CanStart(address);
    }
    void Start(std::size_t tag, const std::string& address,
               const web::RequestArguments& arguments) override {
        group_.Start(tag, address, arguments);
    }
    std::size_t Running() const override { return group_.Running(); }
    std::vector<EndedTransfer> Wait(
        std::optional<std::chrono::steady_clock::time_point> until) override {
        std::vector<EndedTransfer> out;
        for (web::GroupFetchResult& r : group_.Wait(until))
            out.push_back({r.tag, r.status, std::move(r.body), std::move(r.contentType), r.failure,
                           std::move(r.etag), std::move(r.lastModified)});
        return out;
    }
    void AbandonAll() override { group_.AbandonAll(); }

  private:
    web::FetchGroup& group_;
    bool https_;
};

}  // namespace

web::RequestArguments FetchArguments(const ExtensionOptions& options) {
    web::RequestArguments arguments;
    arguments.timeout = options.timeoutSeconds;  // 0: the usual waits
    return arguments;
}

std::unique_ptr<Transfers> TransfersOneAtATime(web::WebClient& web,
                                               const ExtensionOptions& options) {
    return std::make_unique<OneTransfer>(web, options);
}

std::unique_ptr<Transfers> TransfersAtOnce(web::FetchGroup& group,
                                           const ExtensionOptions& options) {
    return std::make_unique<GroupTransfers>(group, options);
}

}  // namespace zembrat::job
