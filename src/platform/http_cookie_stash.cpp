#include "platform/http_cookie_stash.h"

namespace zembrat::platform::http_detail {
namespace {

std::vector<std::string> CookieLines(CURL* easy) {
    std::vector<std::string> lines;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist* i = list; i; i = i->next) lines.emplace_back(i->data);
        curl_slist_free_all(list);
    }
    return lines;
}

}  // namespace

void CookieStash::Stash(CURL* easy, CURLSH* share) {
    if (share) {
        // Out of the share, the engine is off; reloading the handle's (empty) cookie file gives
        // it a jar of its own, which catches what this answer sets.
        curl_easy_setopt(easy, CURLOPT_SHARE, static_cast<CURLSH*>(nullptr));
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, "RELOAD");
    } else {
        lines_ = CookieLines(easy);
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
    }
    active_ = true;
}

void CookieStash::Restore(CURL* easy, CURLSH* share) {
    if (!active_) return;
    active_ = false;
    const std::vector<std::string> received = CookieLines(easy);
    if (share) {
        // Back in the share (its own jar goes), with what the answer set.
        curl_easy_setopt(easy, CURLOPT_SHARE, share);
    } else {
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
        for (const auto& line : lines_) curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.c_str());
    }
    for (const auto& line : received) curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.c_str());
    lines_.clear();
}

}  // namespace zembrat::platform::http_detail
