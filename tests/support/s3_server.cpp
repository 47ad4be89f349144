#include "support/s3_server.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cctype>

namespace zembrat::testing {
namespace {

constexpr char kNode[] = "/usr/bin/node";

std::size_t Keep(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

}  // namespace

S3Server::S3Server(std::string bucket, std::string accessKey, std::string secretKey)
    : bucket_(std::move(bucket)),
      accessKey_(std::move(accessKey)),
      secretKey_(std::move(secretKey)) {
    const std::string dir = ZEMBRAT_S3_SERVER_DIR;
    if (::access((dir + "/node_modules/@20minutes/s3rver").c_str(), R_OK) != 0) {
        error_ = "s3rver is not installed in " + dir + " (tools/setup.sh deps runs npm ci there)";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string port = std::to_string(port_);
    const std::string objects = folder_.path() + "/objects";
    folder_.Write("objects/.keep", "");
    process_.Start({kNode, dir + "/serve.js", port, objects, bucket_, accessKey_, secretKey_},
                   folder_.path() + "/server.log", port_, error_);
}

std::string S3Server::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::optional<std::string> S3Server::Object(std::string_view key) const {
    return Get(key, nullptr);
}

std::string S3Server::ObjectHeader(std::string_view key, std::string_view name) const {
    std::string headers;
    if (!Get(key, &headers)) return {};
    std::string lower(headers);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string wanted = "\n" + std::string(name) + ":";
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find(wanted);
    if (at == std::string::npos) return {};
    const auto start = headers.find_first_not_of(' ', at + wanted.size());
    const auto end = headers.find_first_of("\r\n", start);
    return headers.substr(start, end - start);
}

std::optional<std::string> S3Server::Get(std::string_view key, std::string* headerText) const {
    CURL* curl = curl_easy_init();
    if (!curl) return std::nullopt;
    std::string url = endpoint() + "/" + bucket_;
    std::string_view rest = key;
    while (true) {
        const auto slash = rest.find('/');
        const std::string piece(rest.substr(0, slash));
        char* escaped = curl_easy_escape(curl, piece.data(), static_cast<int>(piece.size()));
        url += "/";
        url += escaped;
        curl_free(escaped);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    std::string body;
    curl_slist* headers = curl_slist_append(nullptr, "x-amz-content-sha256: UNSIGNED-PAYLOAD");
    const std::string login = accessKey_ + ":" + secretKey_;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, "aws:amz:us-east-1:s3");
    curl_easy_setopt(curl, CURLOPT_USERPWD, login.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Keep);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (headerText) {
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Keep);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, headerText);
    }
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (status != 200) return std::nullopt;
    return body;
}

}  // namespace zembrat::testing
