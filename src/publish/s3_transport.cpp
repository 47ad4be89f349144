// Publishing to an S3-compatible store: every request signed with AWS Signature Version 4 by
// libcurl, the body's SHA-256 computed here (libcurl sends none for an upload), one PUT per
// file (a PUT is atomic: the object appears whole or not at all).
#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "publish/protocol_transports.h"
#include "publish/s3_parts.h"
#include "publish/secret_files.h"
#include "publish/web_transfer.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The SHA-256 of a file's bytes in lower-case hex, read in pieces; nullopt when unreadable.
std::optional<std::string> FileSha256(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::string buffer(1 << 16, '\0');
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get()))
        if (EVP_DigestUpdate(ctx.get(), buffer.data(), n) != 1) return std::nullopt;
    if (std::ferror(file.get())) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

// The SHA-256 of no bytes: the body of a HEAD or a GET.
constexpr char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

class S3Transport final : public Transport {
  public:
    S3Transport(const Target& target, const Credentials& credentials)
        : target_(target), credentials_(credentials) {}

    bool Connect(std::string& message) override {
        if (!Session(message)) return false;
        // The bucket's head: it needs the keys and the bucket (and no listing of its keys).
        auto address = S3Address(target_, "");
        if (!address) return Fail(message, "the endpoint is not an http or https address");
        const WebAnswer answer = Perform(Request("HEAD", *address));
        if (answer.status == 200) return true;
        if (answer.status == 404)
            return Fail(message, "the bucket \"" + target_.bucket + "\" does not exist");
        message = AnswerMessage(answer);
        return false;
    }

    std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) override {
        if (!Session(message)) return std::nullopt;
        const auto address = S3Address(target_, S3Key(target_, remotePath));
        if (!address) {
            Fail(message, "the endpoint is not an http or https address");
            return std::nullopt;
        }
        const WebAnswer answer = Perform(Request("HEAD", *address));
        if (answer.status == 200) return RemoteFile{true, answer.contentLength};
        if (answer.status == 404) return RemoteFile{};
        message = AnswerMessage(answer);
        return std::nullopt;
    }

    std::optional<std::string> Fetch(const std::string& remotePath, std::string& message) override {
        if (!Session(message)) return std::nullopt;
        const auto address = S3Address(target_, S3Key(target_, remotePath));
        if (!address) {
            Fail(message, "the endpoint is not an http or https address");
            return std::nullopt;
        }
        WebAnswer answer = Perform(Request("GET", *address));
        if (answer.status == 200) return std::move(answer.body);
        message = AnswerMessage(answer);
        return std::nullopt;
    }

    using Transport::Upload;
    UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                        const ServedAs& servedAs, std::stop_token stop) override {
        UploadResult result;
        if (stop.stop_requested()) {
            result.status = UploadStatus::Stopped;
            return result;
        }
        if (!Session(result.message)) return result;
        const auto address = S3Address(target_, S3Key(target_, remotePath));
        if (!address) {
            Fail(result.message, "the endpoint is not an http or https address");
            return result;
        }
        const auto sha256 = FileSha256(localFile);
        if (!sha256) {
            Fail(result.message, "the local file could not be read");
            return result;
        }
        WebRequest request = Request("PUT", *address, *sha256);
        if (!servedAs.contentType.empty())
            request.headers.push_back("Content-Type: " + servedAs.contentType);
        if (!servedAs.cacheControl.empty())
            request.headers.push_back("Cache-Control: " + servedAs.cacheControl);
        request.uploadFile = localFile;
        request.stop = stop;
        const WebAnswer answer = Perform(request);
        result.bytes = answer.sent;
        if (answer.stopped) {
            result.status = UploadStatus::Stopped;
        } else if (answer.status >= 200 && answer.status < 300) {
            result.status = UploadStatus::Uploaded;
        } else {
            result.message = AnswerMessage(answer);
        }
        return result;
    }

  private:
    // A request, tried again after the answers S3 documents as worth another try (500, 503) and
    // after a connection that dropped: three tries in all, the waits growing, a stop ending them.
    WebAnswer Perform(const WebRequest& request) {
        constexpr int kTries = 3;
        auto wait = std::chrono::milliseconds(200);
        for (int attempt = 1;; ++attempt) {
            WebAnswer answer = session_->Perform(request);
            const bool again = !answer.stopped && (answer.status == 500 || answer.status == 503 ||
                                                   (answer.status == 0 && answer.dropped));
            if (!again || attempt == kTries) return answer;
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any().wait_for(lock, request.stop, wait, [] { return false; });
            if (request.stop.stop_requested()) return answer;
            wait *= 2;
        }
    }

    bool Fail(std::string& message, std::string_view what) const {
        message = Quoted(target_.name) + ": " + std::string(what);
        return false;
    }

    // The signing session, made at first use with the keys found then.
    bool Session(std::string& message) {
        if (session_) return true;
        std::string why;
        // The target's key id with the secret the desktop's keyring keeps for it, which it is
        // given only when the environment and the credentials file give no keys (KeyringPassword).
        const auto keys =
            !target_.accessKeyId.empty() && !credentials_.password.empty()
                ? std::optional<AwsKeys>(AwsKeys{target_.accessKeyId, credentials_.password, {}})
                : FindAwsKeys(HomeFolder(credentials_.home), target_.profile, why);
        if (!keys) return Fail(message, why);
        sessionToken_ = keys->sessionToken;
        WebLogin login;
        login.kind = WebLogin::Kind::AwsSigV4;
        login.user = keys->accessKey;
        login.password = keys->secretKey;
        const std::string region = target_.region.empty() ? "us-east-1" : target_.region;
        login.sigV4Provider = "aws:amz:" + region + ":s3";
        session_ = std::make_unique<WebSession>(login, target_.caFile);
        return true;
    }

    WebRequest Request(std::string method, std::string url,
                       std::string_view sha256 = kEmptySha256) const {
        WebRequest request;
        request.method = std::move(method);
        request.url = std::move(url);
        request.headers.push_back("x-amz-content-sha256: " + std::string(sha256));
        if (!sessionToken_.empty())
            request.headers.push_back("x-amz-security-token: " + sessionToken_);
        return request;
    }

    std::string AnswerMessage(const WebAnswer& answer) const {
        std::string message = Quoted(target_.name) + ": ";
        if (answer.status == 0) return message + answer.failure;
        const std::string code = S3ErrorCode(answer.body);
        if (code == "SignatureDoesNotMatch")
            return message + "the secret access key does not match the access key (" + code + ")";
        if (code == "InvalidAccessKeyId")
            return message + "the access key is not known to the server (" + code + ")";
        if (code == "NoSuchBucket")
            return message + "the bucket \"" + target_.bucket + "\" does not exist (" + code + ")";
        if (code == "NoSuchKey")
            return message + "there is no object under that key (" + code + ")";
        if (code == "AccessDenied")
            return message + "access is denied to these keys (" + code + ")";
        if (answer.status == 507 || code.find("Quota") != std::string::npos ||
            code == "InsufficientStorage")
            return message + "the storage is full" + (code.empty() ? "" : " (" + code + ")");
        // A HEAD's answer has no body to tell more.
        if (answer.status == 403 && code.empty())
            return message +
                   "the access key or secret key was refused, or they may not use "
                   "the bucket \"" +
                   target_.bucket + "\" (403)";
        if (answer.status == 404 && code.empty())
            return message + "the bucket \"" + target_.bucket +
                   "\" or the object was not found (404)";
        if (answer.status == 301 && code.empty())
            return message + "the bucket \"" + target_.bucket + "\" is in another region (301)";
        return message + "the server answered " + std::to_string(answer.status) +
               (code.empty() ? "" : " (" + code + ")");
    }

    Target target_;
    Credentials credentials_;
    std::unique_ptr<WebSession> session_;
    std::string sessionToken_;
};

}  // namespace

std::optional<AwsKeys> FindAwsKeys(const std::string& home, const std::string& profile,
                                   std::string& why) {
    AwsKeys keys{Env("AWS_ACCESS_KEY_ID"), Env("AWS_SECRET_ACCESS_KEY"), Env("AWS_SESSION_TOKEN")};
    if (!keys.accessKey.empty() && !keys.secretKey.empty()) return keys;
    const std::string wanted = profile.empty() ? "default" : profile;
    const std::string file = home + "/.aws/credentials";
    why = LooseSecretFile(file, SecretFile::Private);
    if (!why.empty()) return std::nullopt;
    std::ifstream in(file);
    keys = {};
    std::string section;
    for (std::string line; std::getline(in, line);) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        if (text.front() == '[' && text.back() == ']') {
            section = Trim(std::string_view(text).substr(1, text.size() - 2));
            continue;
        }
        const auto equals = text.find('=');
        if (section != wanted || equals == std::string::npos) continue;
        const std::string name = Trim(std::string_view(text).substr(0, equals));
        const std::string value = Trim(std::string_view(text).substr(equals + 1));
        if (name == "aws_access_key_id") keys.accessKey = value;
        if (name == "aws_secret_access_key") keys.secretKey = value;
        if (name == "aws_session_token") keys.sessionToken = value;
    }
    if (!keys.accessKey.empty() && !keys.secretKey.empty()) return keys;
    why = "no access key: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or give the profile \"" +
          wanted + "\" aws_access_key_id and aws_secret_access_key in " + file;
    return std::nullopt;
}

std::string S3Key(const Target& target, std::string_view remotePath) {
    std::string_view prefix = target.path;
    while (!prefix.empty() && prefix.front() == '/') prefix.remove_prefix(1);
    while (!remotePath.empty() && remotePath.front() == '/') remotePath.remove_prefix(1);
    return std::string(prefix) + std::string(remotePath);
}

std::optional<std::string> S3Address(const Target& target, std::string_view key) {
    const std::string endpoint =
        target.endpoint.empty()
            ? "https://s3." + (target.region.empty() ? std::string("us-east-1") : target.region) +
                  ".amazonaws.com"
            : target.endpoint;
    auto address = SplitAddress(endpoint);
    if (!address) return std::nullopt;
    std::string base = address->path;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string path = text::PercentEncoded(key, text::UrlKeeps::UnreservedAndSlash);
    if (target.pathStyle) {
        // The bucket itself without a final "/", as signed by the stores.
        const std::string bucket =
            address->Origin() + base + "/" +
            text::PercentEncoded(target.bucket, text::UrlKeeps::UnreservedAndSlash);
        return key.empty() ? bucket : bucket + "/" + path;
    }
    address->host = target.bucket + "." + address->host;
    return address->Origin() + base + "/" + path;
}

std::string S3ErrorCode(std::string_view body) {
    const auto open = body.find("<Code>");
    if (open == std::string_view::npos) return {};
    const auto start = open + 6;
    const auto close = body.find("</Code>", start);
    if (close == std::string_view::npos) return {};
    return std::string(body.substr(start, close - start));
}

std::unique_ptr<Transport> MakeS3Transport(const Target& target, const Credentials& credentials) {
    return std::make_unique<S3Transport>(target, credentials);
}

}  // namespace zembrat::publish
