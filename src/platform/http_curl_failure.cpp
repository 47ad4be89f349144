#include "platform/http_curl_failure.h"

#include <cerrno>
#include <cstring>

namespace zembrat::platform::http_detail {

TransferFailure FailureOf(CURLcode code, CURL* easy, bool redirecting, std::string_view message,
                          bool viaProxy) {
    switch (code) {
        case CURLE_OK:
            return TransferFailure::None;
        case CURLE_COULDNT_RESOLVE_HOST:
            return TransferFailure::NameNotFound;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransferFailure::ProxyNameNotFound;
        // Through a proxy the only connection curl makes is to the proxy; a host behind it that
        // refuses is the proxy's answer (a 502, or a tunnel refused).
        case CURLE_COULDNT_CONNECT:
            return viaProxy ? TransferFailure::ProxyRefused : TransferFailure::Refused;
        case CURLE_GOT_NOTHING:
            return TransferFailure::Reset;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR: {
            // The same codes stand for a broken chunk. The system's error number would tell a
            // reset apart, but curl keeps it from an earlier transfer of the handle; the
            // message of this one names the reset.
            for (const int error : {ECONNRESET, EPIPE, ECONNABORTED}) {
                if (message.find(std::strerror(error)) != std::string_view::npos)
                    return TransferFailure::Reset;
            }
            return TransferFailure::BrokenAnswer;
        }
        case CURLE_PEER_FAILED_VERIFICATION: {
            // An untrusted chain fails the handshake with OpenSSL's verify result (20 unknown
            // issuer, 10 expired, ...). curl checks the name itself after a handshake that
            // went through, before it reads that result, which then still holds its
            // placeholder 1; OpenSSL's own name checks give 62 (host) and 64 (IP address).
            long verified = -1;
            curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified);
            return verified == 0 || verified == 1 || verified == 62 || verified == 64
                       ? TransferFailure::HostName
                       : TransferFailure::Certificate;
        }
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return TransferFailure::Certificate;
        // Open takes http and https only: another scheme can only be a redirect's. Without a
        // redirect, it is an answer without a status line (taken for HTTP/0.9, refused).
        case CURLE_UNSUPPORTED_PROTOCOL:
            return redirecting ? TransferFailure::RedirectRefused : TransferFailure::BrokenAnswer;
        case CURLE_TOO_MANY_REDIRECTS:
            return TransferFailure::RedirectRefused;
        case CURLE_FILESIZE_EXCEEDED:
            return TransferFailure::TooLarge;
        case CURLE_OPERATION_TIMEDOUT:
            return TransferFailure::TimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return TransferFailure::BrokenAnswer;
        default:
            return TransferFailure::Other;
    }
}

}  // namespace zembrat::platform::http_detail
