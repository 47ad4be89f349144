// Why a transfer of the HTTP request component gave no response. A response of any status,
// an error page included, is no failure.
#pragma once

namespace zembrat::platform {

enum class TransferFailure {
    None,               // a response came, or nothing was tried yet
    NameNotFound,       // the host name could not be resolved
    Refused,            // the server refused the connection
    Reset,              // the connection was reset, or closed before a word of an answer
    Certificate,        // the server's certificate is not trusted (unknown issuer, expired, ...)
    HostName,           // the certificate is trusted but made out for another host
    RedirectRefused,    // a redirect that is not followed: https to http when refused, to
                        // another scheme, or past the tenth hop
    TooLarge,           // the body went past the body limit
    TimedOut,           // a time-out or the wait for the answer ran out
    BrokenAnswer,       // not HTTP, a broken chunk, or a body shorter than it said
    Stopped,            // abandoned: a stop, an Abort, or a new Open while it ran
    NotSent,            // refused before it went out (an unsafe URL or header, no component)
    Other,              // anything else curl reports
    ProxyNameNotFound,  // the proxy's host name could not be resolved
    ProxyRefused,       // the proxy refused the connection (the image's host was never reached)
};

// A short English name for reports and logs ("time-out", "host name", ...); empty for None.
constexpr const char* TransferFailureName(TransferFailure failure) {
    switch (failure) {
        case TransferFailure::None:
            return "";
        case TransferFailure::NameNotFound:
            return "name not found";
        case TransferFailure::Refused:
            return "refused";
        case TransferFailure::Reset:
            return "reset";
        case TransferFailure::Certificate:
            return "certificate";
        case TransferFailure::HostName:
            return "host name";
        case TransferFailure::RedirectRefused:
            return "redirect refused";
        case TransferFailure::TooLarge:
            return "too large";
        case TransferFailure::TimedOut:
            return "time-out";
        case TransferFailure::BrokenAnswer:
            return "broken answer";
        case TransferFailure::Stopped:
            return "stopped";
        case TransferFailure::NotSent:
            return "not sent";
        case TransferFailure::Other:
            return "other";
        case TransferFailure::ProxyNameNotFound:
            return "proxy name not found";
        case TransferFailure::ProxyRefused:
            return "proxy refused";
    }
    return "";
}

}  // namespace zembrat::platform
