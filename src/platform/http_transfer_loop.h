// The multi handle that runs the HTTP request component's transfers, and what it asks of each
// request it runs. Private to platform/.
#pragma once

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/http_request.h"
#include "platform/http_request_parts.h"

namespace zembrat::platform::http_detail {

// A request whose transfer runs in a TransferLoop.
class LoopMember {
  public:
    // curl's done message for the member's transfer.
    virtual void TransferDone(CURLcode result) = 0;
    // Ends the transfer, unanswered, when one of its limits (a pause limit, the wait limit) has
    // passed by now.
    virtual void EndIfPastLimit(Clock::time_point now) = 0;
    // When the nearest of those limits passes; nullopt while none applies.
    virtual std::optional<Clock::time_point> NextLimit() const = 0;
    virtual HttpRequest& Owner() = 0;

  protected:
    LoopMember() = default;
    LoopMember(const LoopMember&) = default;
    LoopMember& operator=(const LoopMember&) = default;
    ~LoopMember() = default;
};

// One multi handle and the transfers running in it: a lone request's own, or the one a group's
// members share (with their cookies, through a share handle).
class TransferLoop {
  public:
    // maxHostConnections: curl's limit of connections to one host, 0 for none. keptConnections:
    // the size of the cache of idle connections, 0 for curl's own. noteEnded: keep the members
    // whose transfers end, for TakeEnded. bodyBudget: what the bodies of the running transfers
    // may hold together, 0 for no such bound. multiplex: https transfers offer HTTP/2 and share
    // one connection per host where the server takes it; otherwise every transfer speaks
    // HTTP/1.1, one at a time on its connection.
    TransferLoop(long maxHostConnections, long keptConnections, bool shareCookies, bool noteEnded,
                 std::uint64_t bodyBudget = 0, bool multiplex = false);
    ~TransferLoop();
    TransferLoop(const TransferLoop&) = delete;
    TransferLoop& operator=(const TransferLoop&) = delete;

    bool ok() const { return multi_ && (!wantShare_ || share_); }
    // The cookie share of a group; nullptr for a lone request.
    CURLSH* cookieShare() const { return share_; }
    bool multiplex() const { return multiplex_; }

    bool Add(CURL* easy, LoopMember& member);
    void Remove(CURL* easy, LoopMember& member);
    // member's transfer ended by itself (not by an abort).
    void NoteEnded(LoopMember& member);
    // Drops member from the ended ones not yet taken.
    void Forget(LoopMember& member);

    // Runs the transfers as far as they go without waiting, hands curl's done messages to their
    // members and ends the transfers past a limit.
    void Perform();
    // Waits until a transfer's connection is ready, for at most limit and no longer than the
    // nearest limit of a member.
    void Poll(std::chrono::milliseconds limit);
    std::size_t Running() const { return members_.size(); }
    std::vector<HttpRequest*> TakeEnded();
    // The most the body buffer of a running member whose own limit is own may hold: own, or
    // what the budget leaves beside the others' bodies, whichever is smaller. The budget is
    // shared: a body may grow into what the others leave unused, and every body may always
    // reach kBodyGuarantee (so a small image is never refused while large ones run) and keep
    // what it already holds.
    std::uint64_t BodyLimit(const LoopMember& member, std::uint64_t own) const;
    // The member's body buffer now holds capacity bytes.
    void NoteBodyHeld(const LoopMember& member, std::uint64_t capacity);
    static constexpr std::uint64_t kBodyGuarantee = 1ull << 20;

  private:
    struct Active {
        CURL* easy;
        LoopMember* member;
        std::uint64_t held = 0;  // its body buffer's capacity
    };
    std::uint64_t Claim(const Active& running) const {
        return std::max(running.held, kBodyGuarantee);
    }

    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    bool wantShare_, noteEnded_, multiplex_;
    std::uint64_t bodyBudget_;
    std::uint64_t claims_ = 0;  // the sum of Claim over members_
    std::vector<Active> members_;
    std::vector<LoopMember*> ended_;
};

}  // namespace zembrat::platform::http_detail
