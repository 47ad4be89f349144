#include "publish/web_transfer.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "platform/curl_global.h"
#include "platform/user_account.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

CURL* Handle(void* curl) {
    return static_cast<CURL*>(curl);
}

// The body of a PUT, read from the local file, and the stop token asked between pieces.
struct Upload {
    std::FILE* file = nullptr;
    std::uint64_t sent = 0;
};

struct Progress {
    const std::stop_token* stop = nullptr;
    bool stopped = false;
};

std::size_t ReadBody(char* buffer, std::size_t size, std::size_t count, void* data) {
    auto* upload = static_cast<Upload*>(data);
    const std::size_t n = std::fread(buffer, size, count, upload->file);
    if (n == 0 && std::ferror(upload->file)) return CURL_READFUNC_ABORT;
    upload->sent += n;
    return n;
}

int SeekBody(void* data, curl_off_t offset, int origin) {
    auto* upload = static_cast<Upload*>(data);
    if (origin != SEEK_SET || ::fseeko(upload->file, static_cast<off_t>(offset), SEEK_SET) != 0)
        return CURL_SEEKFUNC_CANTSEEK;
    upload->sent = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

int CheckStop(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* progress = static_cast<Progress*>(data);
    if (progress->stop && progress->stop->stop_requested()) {
        progress->stopped = true;
        return 1;
    }
    return 0;
}

std::string FailureWords(CURLcode code, const char* detail) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return "the host name was not found";
        case CURLE_COULDNT_CONNECT:
            return "the host is unreachable or refused the connection";
        case CURLE_OPERATION_TIMEDOUT:
            return "the server did not answer in time (time-out)";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return "the server's certificate is not trusted";
        case CURLE_SSL_CONNECT_ERROR:
            return "the secure connection could not be made";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return "the connection broke off";
        case CURLE_READ_ERROR:
        case CURLE_ABORTED_BY_CALLBACK:
            return "the local file could not be read";
        default:
            return std::string("the transfer failed (") +
                   (detail && *detail ? detail : curl_easy_strerror(code)) + ")";
    }
}

}  // namespace

std::string CanonicalQuery(std::vector<std::pair<std::string, std::string>> parameters) {
    for (auto& [name, value] : parameters) {
        name = text::PercentEncoded(name, text::UrlKeeps::Unreserved);
        value = text::PercentEncoded(value, text::UrlKeeps::Unreserved);
    }
    std::sort(parameters.begin(), parameters.end());
    std::string query;
    for (const auto& [name, value] : parameters) {
        if (!query.empty()) query += '&';
        query += name + '=' + value;
    }
    return query;
}

std::string WebAddress::Origin() const {
    std::string origin = scheme + "://" + host;
    if (port) origin += ':' + std::to_string(port);
    return origin;
}

std::optional<WebAddress> SplitAddress(std::string_view address) {
    const auto colon = address.find("://");
    if (colon == std::string_view::npos) return std::nullopt;
    WebAddress a;
    for (const char c : address.substr(0, colon))
        a.scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (a.scheme != "http" && a.scheme != "https") return std::nullopt;
    std::string_view rest = address.substr(colon + 3);
    const auto slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) a.path = std::string(rest.substr(slash));
    const auto close = authority.rfind(']');
    const auto portColon = authority.rfind(':');
    if (portColon != std::string_view::npos &&
        (close == std::string_view::npos || portColon > close)) {
        const std::string digits(authority.substr(portColon + 1));
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        a.port = std::stoi(digits);
        authority = authority.substr(0, portColon);
    }
    if (authority.empty()) return std::nullopt;
    a.host = std::string(authority);
    return a;
}

WebSession::WebSession(WebLogin login, std::string caFile)
    : login_(std::move(login)), caFile_(std::move(caFile)) {
    platform::InitCurlOnce();
    curl_ = curl_easy_init();
}

WebSession::~WebSession() {
    if (curl_) curl_easy_cleanup(Handle(curl_));
}

WebAnswer WebSession::Perform(const WebRequest& request) {
    WebAnswer answer;
    CURL* curl = Handle(curl_);
    if (!curl) {
        answer.failure = "the transfer could not be set up";
        return answer;
    }
    // The handle keeps its connection between requests; every option is set anew each time.
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // No byte for a minute: the server is gone.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    switch (login_.kind) {
        case WebLogin::Kind::None:
            break;
        case WebLogin::Kind::Basic:
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(curl, CURLOPT_USERNAME, login_.user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, login_.password.c_str());
            break;
        case WebLogin::Kind::Netrc:
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
            // The machine's first login: libcurl finds no password when a user name is given.
            curl_easy_setopt(curl, CURLOPT_NETRC_FILE, login_.netrcFile.c_str());
            break;
        case WebLogin::Kind::AwsSigV4:
            curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, login_.sigV4Provider.c_str());
            curl_easy_setopt(curl, CURLOPT_USERNAME, login_.user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, login_.password.c_str());
            break;
    }

    curl_slist* headers = nullptr;
    for (const auto& header : request.headers) headers = curl_slist_append(headers, header.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    Upload upload;
    Progress progress{&request.stop, false};
    if (request.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (request.method == "PUT") {
        upload.file = std::fopen(request.uploadFile.c_str(), "rb");
        struct stat info {};
        if (!upload.file || ::fstat(::fileno(upload.file), &info) != 0) {
            if (upload.file) std::fclose(upload.file);
            curl_slist_free_all(headers);
            answer.failure = "the local file could not be read";
            return answer;
        }
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size));
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadBody);
        curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
        curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, SeekBody);
        curl_easy_setopt(curl, CURLOPT_SEEKDATA, &upload);
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);

    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headers);
    if (upload.file) std::fclose(upload.file);
    answer.sent = upload.sent;
    answer.stopped = progress.stopped;
    if (code == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
        curl_off_t length = -1;
        if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length >= 0)
            answer.contentLength = static_cast<std::uint64_t>(length);
    } else if (!answer.stopped) {
        answer.failure = FailureWords(code, detail);
    }
    return answer;
}

std::string HomeFolder(const std::string& home) {
    if (!home.empty()) return home;
    return platform::HomeFolder();
}

std::string Quoted(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

}  // namespace zembrat::publish
