// The cookie engine's stash around a request that brings its own Cookie header. Private to
// platform/.
#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

namespace zembrat::platform::http_detail {

// Takes the engine's cookies out for a request that carries the caller's own Cookie header,
// so that header is the only one sent; they go back (with any new ones) afterwards. A handle
// whose cookies live in a group's share (share not null) cannot empty the jar under the group's
// other transfers: it leaves the share for a jar of its own while it runs instead.
class CookieStash {
  public:
    void Stash(CURL* easy, CURLSH* share);
    // Does nothing unless cookies were stashed.
    void Restore(CURL* easy, CURLSH* share);

  private:
    bool active_ = false;
    std::vector<std::string> lines_;
};

}  // namespace zembrat::platform::http_detail
