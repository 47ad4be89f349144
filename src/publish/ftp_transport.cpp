// FTP, FTP with explicit TLS (AUTH TLS) and implicit TLS over libcurl: the login from the
// keyring's password or ~/.netrc, uploads under a part name, their size checked, then renamed.
#include <chrono>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "publish/curl_session.h"
#include "publish/part_sweep.h"
#include "publish/protocol_transports.h"
#include "publish/remote_listing.h"
#include "publish/secret_files.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

class FtpTransport final : public Transport {
  public:
    FtpTransport(const Target& target, const Credentials& credentials)
        : target_(target), credentials_(credentials), session_(target_) {
        netrc_ = HomeFolder(credentials_) + "/.netrc";
        base_ =
            target_.path.empty() || target_.path.front() != '/' ? "/" + target_.path : target_.path;
    }

    bool Connect(std::string& message) override {
        if (credentials_.password.empty()) {
            const std::string loose = LooseSecretFile(netrc_, SecretFile::Netrc);
            if (!loose.empty()) {
                message = target_.name + ": " + loose;
                return false;
            }
        }
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url("").c_str());
        curl_easy_setopt(session_.handle(), CURLOPT_NOBODY, 1L);
        const CURLcode code = session_.Perform();
        if (code == CURLE_OK || code == CURLE_REMOTE_ACCESS_DENIED) {
            // Logged in; a base folder not made yet is made by the first upload.
            return true;
        }
        message = session_.Explain(Action::Connect, "", code);
        return false;
    }

    std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return std::nullopt;
        return LookAt(remotePath, message);
    }

    std::optional<std::string> Fetch(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return std::nullopt;
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(remotePath).c_str());
        std::string body;
        const CURLcode code = session_.Perform(&body);
        if (code != CURLE_OK) {
            message = session_.Explain(Action::Fetch, remotePath, code);
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
        const std::string& name = plan->name;
        const std::string& folder = plan->folder;
        const std::string& part = plan->part;
        SweepStaleParts(*this, folder, swept_);

        CURL* curl = Begin(stop);
        curl_easy_setopt(curl, CURLOPT_URL, Url(part).c_str());
        curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS,
                         static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
        file.Attach(curl);
        const CURLcode code = session_.Perform();
        result.bytes = session_.BytesSent();
        if (code != CURLE_OK) {
            if (code == CURLE_ABORTED_BY_CALLBACK) {
                result.status = UploadStatus::Stopped;
                result.message = target_.name + ": uploading " + remotePath + " stopped";
            } else {
                result.message = UploadFailure(remotePath, code);
            }
            if (ReachedFiles(code)) RemovePart(folder, PartName(name));
            return result;
        }
        // Some servers end a TLS upload early and still say it went well: count what arrived.
        std::string message;
        const auto arrived = LookAt(part, message);
        // (A server that tells no size cannot be checked: its upload is taken as it is.)
        if (!arrived || !arrived->exists || (arrived->size && *arrived->size != file.size())) {
            result.message = !arrived
                                 ? message
                                 : target_.name + ": uploading " + remotePath + " failed: only " +
                                       std::to_string(arrived->size.value_or(0)) + " of " +
                                       std::to_string(file.size()) + " bytes arrived";
            RemovePart(folder, PartName(name));
            return result;
        }
        // A rename would replace a file already under the final name: never overwrite.
        const auto existing = LookAt(remotePath, message);
        if (!existing || existing->exists) {
            result.message = !existing ? message
                                       : target_.name + ": " + remotePath +
                                             " is already on the server; it was not replaced";
            RemovePart(folder, PartName(name));
            return result;
        }
        if (!InFolder(folder, {"RNFR " + PartName(name), "RNTO " + name})) {
            result.message = target_.name + ": " + remotePath +
                             " could not be put under its name (" + session_.ErrorText() + ")";
            RemovePart(folder, PartName(name));
            return result;
        }
        result.status = UploadStatus::Uploaded;
        return result;
    }

    // RNFR and RNTO. A rename would replace a file under the new name: a look asks first.
    MoveStatus Move(const std::string& from, const std::string& to, std::string& message) override {
        if (const auto refused = LookBeforeMove(*this, from, to, message)) return *refused;
        std::vector<std::string> commands;
        for (const std::string& level : FolderLevels(FolderOf(to)))
            commands.push_back("*MKD " + level.substr(0, level.size() - 1));
        commands.push_back("RNFR " + from);
        commands.push_back("RNTO " + to);
        if (InFolder("", commands)) return MoveStatus::Moved;
        message = target_.name + ": " + from + " could not be moved to " + to + " (" +
                  session_.ErrorText() + ")";
        return MoveStatus::Failed;
    }

    bool Delete(const std::string& remotePath, std::string& message) override {
        if (!CheckPath(remotePath, message)) return false;
        if (InFolder("", {"DELE " + remotePath})) return true;
        const std::string why = target_.name + ": " + remotePath + " could not be deleted (" +
                                session_.ErrorText() + ")";
        const std::optional<RemoteFile> there = LookAt(remotePath, message);
        if (there && !there->exists) return true;
        message = why;
        return false;
    }

    bool DeleteFolder(const std::string& folder, std::string& message) override {
        std::string path = folder;
        while (path.ends_with('/')) path.pop_back();
        if (!CheckPath(path, message)) return false;
        if (InFolder("", {"RMD " + path})) return true;
        message = target_.name + ": the folder " + folder + " could not be deleted (" +
                  session_.ErrorText() + ")";
        return false;
    }

    // "LIST -a" (names that start with "." too, as every part's does); the time of a part asked
    // for on its own (MDTM).
    std::optional<std::vector<RemoteEntry>> List(const std::string& folder,
                                                 std::string& message) override {
        if (!folder.empty() && !CheckPath(folder.substr(0, folder.size() - 1), message))
            return std::nullopt;
        CURL* curl = Begin();
        curl_easy_setopt(curl, CURLOPT_URL, Url(folder).c_str());
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "LIST -a");
        std::string listing;
        const CURLcode code = session_.Perform(&listing);
        // A folder that cannot be entered is not there (for all this program can tell).
        if (code == CURLE_REMOTE_ACCESS_DENIED || code == CURLE_REMOTE_FILE_NOT_FOUND)
            return std::vector<RemoteEntry>{};
        if (code != CURLE_OK) {
            message = session_.Explain(Action::List, folder.empty() ? "/" : folder, code);
            return std::nullopt;
        }
        std::vector<RemoteEntry> entries = LongListing(listing);
        for (RemoteEntry& entry : entries)
            if (!entry.folder && IsPartName(entry.name))
                entry.modified = Modified(folder + entry.name);
        return entries;
    }

  private:
    CURL* Begin(std::stop_token stop = {}) {
        CURL* curl = session_.Begin(std::move(stop));
        if (!credentials_.password.empty()) {
            curl_easy_setopt(curl, CURLOPT_PASSWORD, credentials_.password.c_str());
        } else {
            curl_easy_setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
            curl_easy_setopt(curl, CURLOPT_NETRC_FILE, netrc_.c_str());
        }
        if (target_.protocol != Protocol::Ftp) {
            // libcurl 7.88 cut uploads short under TLS 1.3 against common servers.
            curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                             static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                                 static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        }
        if (target_.protocol == Protocol::FtpExplicit)
            curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        return curl;
    }

    std::optional<RemoteFile> LookAt(const std::string& remotePath, std::string& message) {
        Begin();
        curl_easy_setopt(session_.handle(), CURLOPT_URL, Url(remotePath).c_str());
        curl_easy_setopt(session_.handle(), CURLOPT_NOBODY, 1L);
        const CURLcode code = session_.Perform();
        // A folder that cannot be entered holds no file of ours yet (it is made on upload).
        if (code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED)
            return RemoteFile{};
        if (code != CURLE_OK) {
            message = session_.Explain(Action::Look, remotePath, code);
            return std::nullopt;
        }
        return RemoteFile{true, session_.ContentLength()};
    }

    // Runs commands inside folder (relative to the base path; one with a "*" before it may
    // fail); false when one failed.
    bool InFolder(const std::string& folder, const std::vector<std::string>& commands) {
        CURL* curl = Begin();
        curl_easy_setopt(curl, CURLOPT_URL, Url(folder).c_str());
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_slist* list = nullptr;
        for (const std::string& command : commands) list = curl_slist_append(list, command.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTQUOTE, list);
        const CURLcode code = session_.Perform();
        curl_slist_free_all(list);
        return code == CURLE_OK;
    }

    // When the file at remotePath last changed, as the server tells it (MDTM).
    std::optional<std::chrono::system_clock::time_point> Modified(const std::string& remotePath) {
        Begin();
        return session_.FileTime(Url(remotePath));
    }

    // Best effort: the part of a failed or stopped upload goes.
    void RemovePart(const std::string& folder, const std::string& partName) {
        InFolder(folder, {"*DELE " + partName});
    }

    std::string UploadFailure(const std::string& remotePath, CURLcode code) const {
        const long reply = session_.ResponseCode();
        const std::string message = session_.Explain(Action::Upload, remotePath, code);
        if (reply == 452 || reply == 552) return message + "; the server's disk is full";
        if (reply == 451)
            return message + "; the server could not write the file (is its disk full?)";
        // vsftpd drops the data connection when a write fails, before it says why.
        if (code == CURLE_SEND_ERROR || code == CURLE_PARTIAL_FILE)
            return message + "; the server stopped taking the file part way (is its disk full?)";
        return message;
    }

    bool CheckPath(const std::string& remotePath, std::string& message) const {
        if (SplitRemotePath(remotePath)) return true;
        message = target_.name + ": \"" + remotePath + "\" is no file path";
        return false;
    }

    std::string Url(const std::string& remotePath) const {
        std::string host = target_.host;
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        std::string url = target_.protocol == Protocol::FtpImplicit ? "ftps://" : "ftp://";
        // The user goes into the address: libcurl looks a password up in ~/.netrc only then.
        if (!target_.user.empty()) {
            url += text::PercentEncoded(target_.user, text::UrlKeeps::Unreserved) + "@";
        }
        url += host;
        if (target_.port) url += ":" + std::to_string(target_.port);
        return url + text::PercentEncoded(base_ + remotePath, text::UrlKeeps::UnreservedAndSlash);
    }

    const Target target_;
    const Credentials credentials_;
    CurlSession session_;
    std::string netrc_, base_;
    std::set<std::string> swept_;  // the folders whose stale parts were swept
};

}  // namespace

std::unique_ptr<Transport> MakeFtpTransport(const Target& target, const Credentials& credentials) {
    return std::make_unique<FtpTransport>(target, credentials);
}

}  // namespace zembrat::publish
