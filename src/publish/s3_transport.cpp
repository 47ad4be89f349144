// Publishing to an S3-compatible store: every request signed with AWS Signature Version 4 by
// libcurl, the body's SHA-256 computed here (libcurl sends none for an upload), one PUT per
// file (a PUT is atomic: the object appears whole or not at all).
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "publish/protocol_transports.h"
#include "publish/remote_listing.h"
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
        // The uploaders of a publish log in at the same moment: one asks, the others take its
        // answer (a bucket found with these keys stays found for a minute).
        static std::mutex checking;
        static std::map<std::string, std::chrono::steady_clock::time_point> found;
        constexpr auto kFoundFor = std::chrono::minutes(1);
        const std::string checked = *address + "\n" + signedBy_;
        std::lock_guard lock(checking);
        const auto now = std::chrono::steady_clock::now();
        if (const auto it = found.find(checked); it != found.end() && now - it->second < kFoundFor)
            return true;
        const WebAnswer answer = Perform(Request("HEAD", *address));
        if (answer.status == 200) {
            found[checked] = now;
            return true;
        }
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

    std::optional<std::map<std::string, RemoteFile>> Listing(const std::string& folder,
                                                             std::string& message) override {
        if (!Session(message)) return std::nullopt;
        const std::string prefix = S3Key(target_, folder);
        const auto bucket = S3Address(target_, "");
        if (!bucket) {
            Fail(message, "the endpoint is not an http or https address");
            return std::nullopt;
        }
        std::map<std::string, RemoteFile> files;
        std::string marker;
        // A thousand keys a page; a listing longer than this many pages is left to the looks.
        constexpr int kPages = 1000;
        for (int page = 0; page < kPages; ++page) {
            // The listing every store speaks (ListObjects), a page after another by its marker.
            std::vector<std::pair<std::string, std::string>> query{{"prefix", prefix},
                                                                   {"delimiter", "/"}};
            if (!marker.empty()) query.emplace_back("marker", marker);
            const WebAnswer answer = Perform(Request("GET", *bucket + "?" + CanonicalQuery(query)));
            if (answer.status != 200) {
                message = AnswerMessage(answer);
                return std::nullopt;
            }
            const std::string previous = marker;
            if (!ReadS3ListingPage(answer.body, prefix, files, marker) ||
                (!marker.empty() && marker == previous)) {
                Fail(message, "the server's listing could not be read");
                return std::nullopt;
            }
            if (marker.empty()) return files;
        }
        Fail(message, "the listing has too many pages");
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

    // No object is renamed on S3: copied (its Content-Type and Cache-Control with it), the copy's
    // size checked, then the original deleted; only when nothing is under the new key.
    MoveStatus Move(const std::string& from, const std::string& to, std::string& message) override {
        if (const auto refused = LookBeforeMove(*this, from, to, message)) return *refused;
        const std::optional<RemoteFile> source = Look(from, message);
        if (!source) return MoveStatus::Failed;
        const auto address = S3Address(target_, S3Key(target_, to));
        if (!address) {
            Fail(message, "the endpoint is not an http or https address");
            return MoveStatus::Failed;
        }
        // A PUT without a body (a copy sends none).
        WebRequest copy = Request("PUT", *address);
        copy.uploadFile = "/dev/null";
        copy.headers.push_back(
            "x-amz-copy-source: " +
            text::PercentEncoded("/" + target_.bucket + "/" + S3Key(target_, from),
                                 text::UrlKeeps::UnreservedAndSlash));
        const WebAnswer copied = Perform(copy);
        // A copy can fail after its 200 (the error is then in the body).
        if (copied.status != 200 || !S3ErrorCode(copied.body).empty()) {
            message = AnswerMessage(copied);
            return MoveStatus::Failed;
        }
        const std::optional<RemoteFile> made = Look(to, message);
        if (!made) return MoveStatus::Failed;
        if (!made->exists || (made->size && source->size && *made->size != *source->size)) {
            Fail(message, "the copy of " + from + " at " + to + " is not whole; " + from +
                              " was left as it is");
            return MoveStatus::Failed;
        }
        return Delete(from, message) ? MoveStatus::Moved : MoveStatus::Failed;
    }

    bool Delete(const std::string& remotePath, std::string& message) override {
        if (!Session(message)) return false;
        const auto address = S3Address(target_, S3Key(target_, remotePath));
        if (!address) return Fail(message, "the endpoint is not an http or https address");
        const WebAnswer answer = Perform(Request("DELETE", *address));
        if ((answer.status >= 200 && answer.status < 300) || answer.status == 404) return true;
        message = AnswerMessage(answer);
        return false;
    }

    // A folder is only the prefix of the keys below it: gone with them.
    bool DeleteFolder(const std::string&, std::string&) override { return true; }

    // ListObjectsV2 of every key below the folder's prefix, page by page, the keys deeper than
    // one level told as their folders: not S3's delimiter, which some compatible stores (s3rver)
    // answer without the folders that only deeper keys make.
    std::optional<std::vector<RemoteEntry>> List(const std::string& folder,
                                                 std::string& message) override {
        if (!Session(message)) return std::nullopt;
        const auto bucket = S3Address(target_, "");
        if (!bucket) {
            Fail(message, "the endpoint is not an http or https address");
            return std::nullopt;
        }
        std::string prefix = S3Key(target_, folder);
        if (!prefix.empty() && !prefix.ends_with('/')) prefix += '/';
        // The rest of a key below the prefix (every key listed starts with it).
        const auto below = [&prefix](const std::string& key) {
            return key.starts_with(prefix) ? key.substr(prefix.size()) : std::string();
        };
        std::vector<RemoteEntry> entries;
        std::set<std::string> folders;
        std::string token;
        constexpr int kMostPages = 100000;  // a thousand keys each
        for (int page = 0; page < kMostPages; ++page) {
            std::vector<std::pair<std::string, std::string>> query = {{"list-type", "2"},
                                                                      {"prefix", prefix}};
            if (!token.empty()) query.emplace_back("continuation-token", token);
            const WebAnswer answer = Perform(Request("GET", *bucket + "?" + CanonicalQuery(query)));
            if (answer.status != 200) {
                message = AnswerMessage(answer);
                return std::nullopt;
            }
            for (const std::string_view object : XmlElements(answer.body, "Contents")) {
                const auto key = XmlElements(object, "Key");
                if (key.empty()) continue;
                const std::string name = below(XmlText(key.front()));
                if (name.empty()) continue;  // the folder's own marker
                if (const auto slash = name.find('/'); slash != std::string::npos) {
                    if (slash > 0 && folders.insert(name.substr(0, slash)).second)
                        entries.push_back(
                            {name.substr(0, slash), true, std::nullopt, std::nullopt});
                    continue;
                }
                RemoteEntry entry;
                entry.name = name;
                if (const auto size = XmlElements(object, "Size"); !size.empty())
                    entry.size = std::strtoull(std::string(size.front()).c_str(), nullptr, 10);
                if (const auto when = XmlElements(object, "LastModified"); !when.empty())
                    entry.modified = IsoDate(when.front());
                entries.push_back(std::move(entry));
            }
            const auto truncated = XmlElements(answer.body, "IsTruncated");
            const auto next = XmlElements(answer.body, "NextContinuationToken");
            if (truncated.empty() || truncated.front() != "true" || next.empty()) return entries;
            token = XmlText(next.front());
        }
        return entries;
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
        signedBy_ = keys->accessKey + "\n" + keys->secretKey;
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
    std::string signedBy_;  // the keys, to tell whose answer a found bucket is
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

namespace {

// What the first <name>...</name> in xml from at on holds, as it stands; nullopt when there is
// none. at moves past it.
std::optional<std::string_view> Element(std::string_view xml, std::string_view name,
                                        std::size_t& at) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t start = xml.find(open, at);
    if (start == std::string_view::npos) return std::nullopt;
    const std::size_t end = xml.find(close, start + open.size());
    if (end == std::string_view::npos) return std::nullopt;
    at = end + close.size();
    return xml.substr(start + open.size(), end - start - open.size());
}

// An element's text with its entities read: only the five an S3 store writes in keys (nullopt
// for any other).
std::optional<std::string> Text(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        out += text.substr(0, amp);
        if (amp == std::string_view::npos) break;
        text.remove_prefix(amp);
        const std::size_t semi = text.find(';');
        if (semi == std::string_view::npos) return std::nullopt;
        const std::string_view entity = text.substr(1, semi - 1);
        text.remove_prefix(semi + 1);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
                                        [&](const auto& n) { return n.first == entity; });
        if (named == std::end(kNamed)) return std::nullopt;
        out += named->second;
    }
    return out;
}

}  // namespace

bool ReadS3ListingPage(std::string_view body, std::string_view prefix,
                       std::map<std::string, RemoteFile>& files, std::string& nextMarker) {
    nextMarker.clear();
    std::optional<std::string> lastKey;
    if (body.find("<ListBucketResult") == std::string_view::npos) return false;
    for (std::size_t at = 0;;) {
        const std::optional<std::string_view> object = Element(body, "Contents", at);
        if (!object) break;
        std::size_t keyAt = 0, sizeAt = 0;
        const std::optional<std::string_view> rawKey = Element(*object, "Key", keyAt);
        const std::optional<std::string> key = rawKey ? Text(*rawKey) : std::nullopt;
        const std::optional<std::string_view> size = Element(*object, "Size", sizeAt);
        if (!key || !key->starts_with(prefix) || !size || size->empty() || size->size() > 19 ||
            size->find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        lastKey = key;
        const std::string name = key->substr(prefix.size());
        if (!name.empty() && name.find('/') == std::string::npos)
            files[name] = RemoteFile{true, std::stoull(std::string(*size))};
    }
    std::size_t at = 0;
    if (Element(body, "IsTruncated", at).value_or("false") == "true") {
        // The next page begins after NextMarker, or (a store that gives none) the last key.
        at = 0;
        const std::optional<std::string_view> next = Element(body, "NextMarker", at);
        const std::optional<std::string> text = next ? Text(*next) : lastKey;
        if (!text || text->empty()) return false;
        nextMarker = *text;
    }
    return true;
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
