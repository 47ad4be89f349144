// What curl's result code of a transfer means to the HTTP request component. Private to
// platform/.
#pragma once

#include <curl/curl.h>

#include <string_view>

#include "platform/http_request_failure.h"

namespace zembrat::platform::http_detail {

// Why a transfer that curl ended with code (and message, its error text) failed; redirecting:
// the last answer was a redirect the transfer was about to follow; viaProxy: it went through a
// proxy, so that a connection refused is the proxy's.
TransferFailure FailureOf(CURLcode code, CURL* easy, bool redirecting, std::string_view message,
                          bool viaProxy = false);

}  // namespace zembrat::platform::http_detail
