// SFTP over libcurl (libssh2): keys from the agent or the user's key files, the host key checked
// against known_hosts or a pinned SHA-256 fingerprint, uploads under a part name then renamed.
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/user_account.h"
#include "publish/curl_session.h"
#include "publish/part_sweep.h"
#include "publish/protocol_transports.h"
#include "publish/remote_listing.h"
#include "publish/secret_files.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

// The user's key files, in the order they are tried.
constexpr const char* kKeyFiles[] = {"id_ed25519", "id_ecdsa", "id_rsa"};

// The raw key blob of a host key libcurl shows (raw, or base64 text when len is 0).
std::string KeyBlob(const curl_khkey& key) {
    if (key.len != 0) return std::string(key.key, key.len);
    const std::string text(key.key);
    std::string raw(text.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(raw.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return "";
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) ++padding;
    raw.resize(static_cast<std::size_t>(n) - padding);
    return raw;
}

std::string Base64(const unsigned char* data, std::size_t size) {
    std::string encoded(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), data,
                                  static_cast<int>(size));
    encoded.resize(static_cast<std::size_t>(n));
    return encoded;
}

// "SHA256:" and the unpadded base64 of the key blob's digest, as ssh-keygen -l prints it.
std::string Sha256Fingerprint(const std::string& blob) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(blob.data(), blob.size(), digest.data(), &length, EVP_sha256(), nullptr);
    std::string encoded = Base64(digest.data(), length);
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    return "SHA256:" + encoded;
}

// A known_hosts line for the key: "[host]:port type base64" (the plain host on port 22), the
// type read from the blob itself (its first field); empty when the blob is malformed.
std::string KnownHostsLine(const std::string& host, int port, const std::string& blob) {
    if (blob.size() < 4) return "";
    const std::size_t length =
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[0])) << 24) |
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[1])) << 16) |
        (static_cast<std::size_t>(static_cast<unsigned char>(blob[2])) << 8) |
        static_cast<std::size_t>(static_cast<unsigned char>(blob[3]));
    if (length == 0 || length > 64 || blob.size() < 4 + length) return "";
    const std::string type = blob.substr(4, length);
    const std::string name =
        port == 0 || port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    return name + " " + type + " " +
           Base64(reinterpret_cast<const unsigned char*>(blob.data()), blob.size());
}

// A path in a "rename"/"rm" quote command: in double quotes, with '"' and '\' escaped.
std::string Quoted(const std::string& path) {
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::optional<std::map<std::string, RemoteFile>> ParseLongListing(std::string_view listing) {
    std::map<std::string, RemoteFile> files;
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        std::string_view line = listing.substr(0, end);
        listing.remove_prefix(std::min(end + 1, listing.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // Mode, links, owner, group, size, then the date in three fields, one space, the name.
        std::string_view fields[8];
        std::string_view rest = line;
        for (std::string_view& field : fields) {
            const std::size_t start = rest.find_first_not_of(' ');
            if (start == std::string_view::npos) return std::nullopt;
            rest.remove_prefix(start);
            const std::size_t stop = std::min(rest.find(' '), rest.size());
            field = rest.substr(0, stop);
            rest.remove_prefix(stop);
        }
        const std::string_view mode = fields[0];
        const std::string_view size = fields[4];
        if (mode.size() != 10 || std::string_view("-dlcbps").find(mode[0]) == std::string::npos ||
            size.empty() || size.size() > 19 ||
            size.find_first_not_of("0123456789") != std::string_view::npos || rest.size() < 2 ||
            rest[0] != ' ')
            return std::nullopt;
        std::string_view name = rest.substr(1);
        if (mode[0] == 'l') name = name.substr(0, name.find(" -> "));
        if (name == "." || name == "..") continue;
        RemoteFile file{true, std::nullopt};
        if (mode[0] == '-') file.size = std::stoull(std::string(size));
        files[std::string(name)] = file;
    }
    return files;
}

namespace {

class SftpTransport final : public Transport {
  public:
    SftpTransport(const Target& target, const Credentials& credentials)
        : target_(target), credentials_(credentials), session_(target_) {
        const std::string home = HomeFolder(credentials_);
        sshFolder_ = home + "/.ssh";
        knownHosts_ = sshFolder_ + "/known_hosts";
        // No key file at all: name the first, so libcurl never falls back to $HOME's.
        privateKey_ = sshFolder_ + "/" + kKeyFiles[0];
        for (const char* name : kKeyFiles) {
            const std::string candidate = sshFolder_ + "/" + name;
            if (::access(candidate.c_str(), R_OK) == 0) {
                privateKey_ = candidate;
                break;
            }
        }
        // The key file the target names comes before ~/.ssh's.
        if (!target_.keyFile.empty()) privateKey_ = target_.keyFile;
        if (::access((privateKey_ + ".pub").c_str(), R_OK) == 0) publicKey_ = privateKey_ + ".pub";
        user_ = target_.user;
        if (user_.empty()) {
            user_ = platform::LoginName();
        }
        // The base folder: absolute as given, else below the login folder ("/~/" in an
        // address; a relative path in a command is the server's, from the login folder).
        const bool absolute = !target_.path.empty() && target_.path.front() == '/';
        urlBase_ = absolute ? target_.path : "/~/" + target_.path;
        quoteBase_ = target_.path;
    }

    bool Connect(std::string& message) override {
        const std::string loose = LooseSecretFile(privateKey_, SecretFile::Private);
        if (!loose.empty()) {
            message = target_.name + ": " + loose;
            return false;
        }
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url("").c_str());
        curl_easy_setopt(session_.handle(), CURLOPT_NOBODY, 1L);
        const CURLcode code = session_.Perform();
        if (code == CURLE_OK) return true;
        message = Explain(Action::Connect, "", code);
        return false;
    }

    std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return std::nullopt;
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(remotePath).c_str());
        curl_easy_setopt(session_.handle(), CURLOPT_NOBODY, 1L);
        const CURLcode code = session_.Perform();
        if (code == CURLE_REMOTE_FILE_NOT_FOUND) return RemoteFile{};
        if (code != CURLE_OK) {
            message = Explain(Action::Look, remotePath, code);
            return std::nullopt;
        }
        return RemoteFile{true, session_.ContentLength()};
    }

    std::optional<std::map<std::string, RemoteFile>> Listing(const std::string& folder,
                                                             std::string& message) override {
        if (!folder.empty() && !CheckPath(folder.substr(0, folder.size() - 1), message))
            return std::nullopt;
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(folder).c_str());
        std::string body;
        const CURLcode code = session_.Perform(&body);
        if (code == CURLE_REMOTE_FILE_NOT_FOUND) return std::map<std::string, RemoteFile>{};
        if (code != CURLE_OK) {
            message = Explain(Action::Look, folder, code);
            return std::nullopt;
        }
        return ParseLongListing(body);
    }

    std::optional<std::string> Fetch(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return std::nullopt;
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(remotePath).c_str());
        std::string body;
        const CURLcode code = session_.Perform(&body);
        if (code != CURLE_OK) {
            message = Explain(Action::Fetch, remotePath, code);
            return std::nullopt;
        }
        return body;
    }

    using Transport::Upload;
    UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                        const ServedAs& /*servedAs: no such thing over (S)FTP*/,
                        std::stop_token stop) override {
        UploadResult result;
        LocalFile file(localFile);
        const std::optional<UploadPlan> plan =
            PlanUpload(target_, localFile, remotePath, file, result.message);
        if (!plan) return result;
        const std::string& folder = plan->folder;
        const std::string& part = plan->part;
        SweepStaleParts(*this, folder, swept_);

        CURL* curl = Begin(stop);
        curl_easy_setopt(curl, CURLOPT_URL, Url(part).c_str());
        curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS,
                         static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
        file.Attach(curl);
        const std::string rename =
            "rename " + Quoted(quoteBase_ + part) + " " + Quoted(quoteBase_ + remotePath);
        curl_slist* post = curl_slist_append(nullptr, rename.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTQUOTE, post);
        const CURLcode code = session_.Perform();
        curl_slist_free_all(post);
        result.bytes = session_.BytesSent();
        if (code == CURLE_OK) {
            result.status = UploadStatus::Uploaded;
            return result;
        }
        if (code == CURLE_ABORTED_BY_CALLBACK) {
            result.status = UploadStatus::Stopped;
            result.message = target_.name + ": uploading " + remotePath + " stopped";
        } else if (code == CURLE_QUOTE_ERROR) {
            result.message = target_.name + ": " + remotePath +
                             " could not be put under its name: a file of that name may "
                             "already be there (" +
                             session_.ErrorText() + ")";
        } else if (code == CURLE_SSH || code == CURLE_SEND_ERROR) {
            // OpenSSH's server answers a write it cannot do (a full disk) with a bare "failure".
            result.message = Explain(Action::Upload, remotePath, code) +
                             "; the server could not write the file (is its disk full?)";
        } else {
            result.message = Explain(Action::Upload, remotePath, code);
        }
        if (ReachedFiles(code)) RemovePart(folder, part);
        return result;
    }

    // A rename. OpenSSH's server refuses to rename onto a file, and a look asks first.
    MoveStatus Move(const std::string& from, const std::string& to, std::string& message) override {
        if (const auto refused = LookBeforeMove(*this, from, to, message)) return *refused;
        std::vector<std::string> commands;
        for (const std::string& level : FolderLevels(FolderOf(to)))
            commands.push_back("*mkdir " + Quoted(quoteBase_ + level.substr(0, level.size() - 1)));
        commands.push_back("rename " + Quoted(quoteBase_ + from) + " " + Quoted(quoteBase_ + to));
        const CURLcode code = Commands(commands);
        if (code == CURLE_OK) return MoveStatus::Moved;
        message = Explain(Action::Rename, from, code);
        return MoveStatus::Failed;
    }

    bool Delete(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return false;
        const CURLcode code = Commands({"rm " + Quoted(quoteBase_ + remotePath)});
        if (code == CURLE_OK) return true;
        const std::string why = Explain(Action::Delete, remotePath, code);
        const std::optional<RemoteFile> there = Look(remotePath, message);
        if (there && !there->exists) return true;
        message = why;
        return false;
    }

    bool DeleteFolder(const std::string& folder, std::string& message) override {
        std::string path = folder;
        while (path.ends_with('/')) path.pop_back();
        if (!CheckPath(path, message)) return false;
        const CURLcode code = Commands({"rmdir " + Quoted(quoteBase_ + path)});
        if (code == CURLE_OK) return true;
        message = Explain(Action::Delete, folder, code);
        return false;
    }

    // The server's long listing; the time of a part asked for on its own.
    std::optional<std::vector<RemoteEntry>> List(const std::string& folder,
                                                 std::string& message) override {
        if (!folder.empty() && !CheckPath(folder.substr(0, folder.size() - 1), message))
            return std::nullopt;
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(folder).c_str());
        std::string listing;
        const CURLcode code = session_.Perform(&listing);
        if (code == CURLE_REMOTE_FILE_NOT_FOUND) return std::vector<RemoteEntry>{};
        if (code != CURLE_OK) {
            message = Explain(Action::List, folder.empty() ? "/" : folder, code);
            return std::nullopt;
        }
        std::vector<RemoteEntry> entries = LongListing(listing);
        for (RemoteEntry& entry : entries)
            if (!entry.folder && IsPartName(entry.name))
                entry.modified = Modified(folder + entry.name);
        return entries;
    }

    bool HostKeyUnknown() const override { return keyUnknown_; }
    std::string UnknownHostKey() const override { return unknownKey_; }

  private:
    CURL* Begin(std::stop_token stop = {}) {
        CURL* curl = session_.Begin(std::move(stop));
        hostKeyProblem_.clear();
        keyUnknown_ = false;
        curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
        curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES,
                         static_cast<long>(CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_AGENT));
        curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, privateKey_.c_str());
        if (!publicKey_.empty())
            curl_easy_setopt(curl, CURLOPT_SSH_PUBLIC_KEYFILE, publicKey_.c_str());
        if (!credentials_.password.empty())
            curl_easy_setopt(curl, CURLOPT_KEYPASSWD, credentials_.password.c_str());
        if (!target_.hostKeySha256.empty()) {
            pinned_ = target_.hostKeySha256.substr(target_.hostKeySha256.find(':') + 1);
            curl_easy_setopt(curl, CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, pinned_.c_str());
        } else {
            if (credentials_.acceptNewHostKey) {
                std::error_code ec;
                if (!std::filesystem::exists(sshFolder_, ec)) {
                    std::filesystem::create_directories(sshFolder_, ec);
                    ::chmod(sshFolder_.c_str(), 0700);
                }
            }
            curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS, knownHosts_.c_str());
            curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, &SftpTransport::CheckHostKey);
            curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);
        }
        return curl;
    }

    static int CheckHostKey(CURL*, const curl_khkey*, const curl_khkey* found,
                            enum curl_khmatch match, void* data) {
        auto* self = static_cast<SftpTransport*>(data);
        const std::string blob = found ? KeyBlob(*found) : "";
        const std::string fingerprint = Sha256Fingerprint(blob);
        switch (match) {
            case CURLKHMATCH_OK:
                return CURLKHSTAT_FINE;
            case CURLKHMATCH_MISMATCH:
                self->hostKeyProblem_ =
                    "THE HOST KEY HAS CHANGED: the server now shows " + fingerprint +
                    ", not the key " + self->knownHosts_ +
                    " holds for it. Someone may be listening in; if the server's key really "
                    "changed, remove its old line from that file";
                return CURLKHSTAT_REJECT;
            case CURLKHMATCH_MISSING:
            case CURLKHMATCH_LAST:
                if (self->credentials_.acceptNewHostKey) return self->AddKnownHost(blob);
                self->keyUnknown_ = true;
                self->unknownKey_ = fingerprint;
                self->hostKeyProblem_ = "the host key is unknown (not in " + self->knownHosts_ +
                                        "); its fingerprint is " + fingerprint +
                                        ". Accept it only if the server shows the same";
                return CURLKHSTAT_REJECT;
        }
        return CURLKHSTAT_REJECT;
    }

    // Adds the key under this host and port (libcurl's own addition would leave the port out),
    // once: the transports of one publish meet the key at the same moment.
    int AddKnownHost(const std::string& blob) {
        static std::mutex adding;
        std::lock_guard lock(adding);
        const std::string line = KnownHostsLine(target_.host, target_.port, blob);
        std::string before;
        if (std::FILE* in = std::fopen(knownHosts_.c_str(), "rb")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
                before.append(buffer, n);
            std::fclose(in);
        }
        if (!line.empty() && ("\n" + before + "\n").find("\n" + line + "\n") != std::string::npos)
            return CURLKHSTAT_FINE;
        std::FILE* out = line.empty() ? nullptr : std::fopen(knownHosts_.c_str(), "ab");
        bool written = out != nullptr;
        if (out) {
            if (!before.empty() && before.back() != '\n') written = std::fputc('\n', out) != EOF;
            written = written && std::fputs((line + "\n").c_str(), out) != EOF;
            written = std::fclose(out) == 0 && written;
        }
        if (written) return CURLKHSTAT_FINE;
        hostKeyProblem_ = "the host key is unknown and cannot be added to " + knownHosts_;
        return CURLKHSTAT_REJECT;
    }

    std::string Explain(Action action, std::string_view what, CURLcode code) const {
        if (!hostKeyProblem_.empty()) return target_.name + ": " + hostKeyProblem_;
        if (code == CURLE_PEER_FAILED_VERIFICATION && !target_.hostKeySha256.empty())
            return target_.name + ": the host key does not match the pinned fingerprint " +
                   target_.hostKeySha256;
        return session_.Explain(action, what, code);
    }

    bool CheckPath(const std::string& remotePath, std::string& message) const {
        if (SplitRemotePath(remotePath)) return true;
        message = target_.name + ": \"" + remotePath + "\" is no file path";
        return false;
    }

    std::string Url(const std::string& remotePath) const {
        std::string host = target_.host;
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        std::string url = "sftp://" + host;
        if (target_.port) url += ":" + std::to_string(target_.port);
        return url +
               text::PercentEncoded(urlBase_ + remotePath, text::UrlKeeps::UnreservedAndSlash);
    }

    // Runs quote commands in order (one with a "*" before it may fail), on the base folder.
    CURLcode Commands(const std::vector<std::string>& commands) {
        CURL* curl = Begin();
        curl_easy_setopt(curl, CURLOPT_URL, Url("").c_str());
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_slist* quote = nullptr;
        for (const std::string& command : commands)
            quote = curl_slist_append(quote, command.c_str());
        curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
        const CURLcode code = session_.Perform();
        curl_slist_free_all(quote);
        return code;
    }

    // When the file at remotePath last changed, as the server tells it.
    std::optional<std::chrono::system_clock::time_point> Modified(const std::string& remotePath) {
        Begin();
        return session_.FileTime(Url(remotePath));
    }

    // Best effort: the part of a failed or stopped upload goes.
    void RemovePart(const std::string& folder, const std::string& part) {
        CURL* curl = Begin();
        curl_easy_setopt(curl, CURLOPT_URL, Url(folder).c_str());
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        const std::string rm = "*rm " + Quoted(quoteBase_ + part);
        curl_slist* quote = curl_slist_append(nullptr, rm.c_str());
        curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
        session_.Perform();
        curl_slist_free_all(quote);
    }

    const Target target_;
    const Credentials credentials_;
    CurlSession session_;
    std::string sshFolder_, knownHosts_, privateKey_, publicKey_, user_;
    std::string urlBase_, quoteBase_, pinned_;
    std::string hostKeyProblem_;
    bool keyUnknown_ = false;      // the last request was refused for an unknown host key
    std::string unknownKey_;       // its fingerprint
    std::set<std::string> swept_;  // the folders whose stale parts were swept
};

}  // namespace

std::unique_ptr<Transport> MakeSftpTransport(const Target& target, const Credentials& credentials) {
    return std::make_unique<SftpTransport>(target, credentials);
}

}  // namespace zembrat::publish
