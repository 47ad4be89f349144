#include "platform/curl_global.h"

#include <curl/curl.h>

namespace zembrat::platform {

bool InitCurlOnce() {
    // A function's static is initialised once, the other threads waiting for it.
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

}  // namespace zembrat::platform
