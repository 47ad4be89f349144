#include "platform/http_request_parts.h"

#include "text/codec.h"

namespace zembrat::platform::http_detail {

void OpenRequest::ClearRequest() {
    method.clear();
    url.clear();
    wireUrl.clear();
    scheme.clear();
    host.clear();
    headers.clear();
    serverCredentials = proxyCredentials = false;
    user.clear();
    password.clear();
    proxyUser.clear();
    proxyPassword.clear();
    refused = false;
}

const std::string* OpenRequest::FindHeader(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (text::EqualsNoCase(n, name)) return &v;
    return nullptr;
}

void Response::ClearResponse() {
    status = 0;
    statusText.clear();
    headerLines.clear();
    // Give the memory back: a refused body may have grown up to the body limit, and clear()
    // would keep all of it for the rest of the component's life.
    text::Bytes().swap(body);
}

}  // namespace zembrat::platform::http_detail
