// A transfer group is a TransferLoop shared by its members; a lone request has one of its own.
#include "platform/http_transfer_loop.h"

#include <algorithm>

#include "platform/curl_global.h"
#include "platform/http_request.h"

namespace zembrat::platform::http_detail {

using Ms = std::chrono::milliseconds;

TransferLoop::TransferLoop(long maxHostConnections, long keptConnections, bool shareCookies,
                           bool noteEnded, std::uint64_t bodyBudget, bool multiplex)
    : wantShare_(shareCookies),
      noteEnded_(noteEnded),
      multiplex_(multiplex),
      bodyBudget_(bodyBudget) {
    if (!InitCurlOnce()) return;
    multi_ = curl_multi_init();
    if (multi_)
        curl_multi_setopt(multi_, CURLMOPT_PIPELINING,
                          multiplex ? CURLPIPE_MULTIPLEX : CURLPIPE_NOTHING);
    if (multi_ && maxHostConnections > 0)
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, maxHostConnections);
    if (multi_ && keptConnections > 0)
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, keptConnections);
    if (shareCookies) {
        share_ = curl_share_init();
        if (share_ &&
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
            curl_share_cleanup(share_);
            share_ = nullptr;
        }
    }
}

TransferLoop::~TransferLoop() {
    // The members have left by now: each one leaves before it goes.
    if (multi_) curl_multi_cleanup(multi_);
    if (share_) curl_share_cleanup(share_);
}

bool TransferLoop::Add(CURL* easy, LoopMember& member) {
    if (!multi_) return false;
    Forget(member);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(&member));
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) return false;
    members_.push_back({easy, &member});
    claims_ += Claim(members_.back());
    return true;
}

void TransferLoop::Remove(CURL* easy, LoopMember& member) {
    curl_multi_remove_handle(multi_, easy);
    std::erase_if(members_, [&](const Active& m) {
        if (m.member != &member) return false;
        claims_ -= Claim(m);
        return true;
    });
}

void TransferLoop::NoteEnded(LoopMember& member) {
    if (noteEnded_) ended_.push_back(&member);
}

void TransferLoop::Forget(LoopMember& member) {
    std::erase(ended_, &member);
}

void TransferLoop::Perform() {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        char* member = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &member);
        // The member removes its handle, which frees msg: read the result first.
        const CURLcode result = msg->data.result;
        if (member) static_cast<LoopMember*>(static_cast<void*>(member))->TransferDone(result);
    }
    const Clock::time_point now = Clock::now();
    // Backwards, as a member that ends here leaves the list.
    for (std::size_t i = members_.size(); i-- > 0;) {
        if (i < members_.size()) members_[i].member->EndIfPastLimit(now);
    }
}

void TransferLoop::Poll(Ms limit) {
    Ms wait = limit;
    const Clock::time_point now = Clock::now();
    for (const auto& m : members_) {
        if (const auto at = m.member->NextLimit())
            wait = std::min(wait, std::chrono::ceil<Ms>(*at - now));
    }
    wait = std::max(wait, Ms(0));
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
}

std::uint64_t TransferLoop::BodyLimit(const LoopMember& member, std::uint64_t own) const {
    if (bodyBudget_ == 0) return own;
    const auto it = std::find_if(members_.begin(), members_.end(),
                                 [&](const Active& m) { return m.member == &member; });
    if (it == members_.end()) return std::min(own, kBodyGuarantee);
    const std::uint64_t others = claims_ - Claim(*it);
    const std::uint64_t left = bodyBudget_ > others ? bodyBudget_ - others : 0;
    return std::min(own, std::max({left, Claim(*it)}));
}

void TransferLoop::NoteBodyHeld(const LoopMember& member, std::uint64_t capacity) {
    for (Active& m : members_) {
        if (m.member != &member) continue;
        claims_ -= Claim(m);
        m.held = capacity;
        claims_ += Claim(m);
        return;
    }
}

std::vector<HttpRequest*> TransferLoop::TakeEnded() {
    std::vector<HttpRequest*> out;
    out.reserve(ended_.size());
    for (LoopMember* m : ended_) out.push_back(&m->Owner());
    ended_.clear();
    return out;
}

}  // namespace zembrat::platform::http_detail
