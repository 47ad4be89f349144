// Publishing to a WebDAV folder: the missing folders made one level at a time (MKCOL), the file
// put under a temporary name beside its final one and moved there without overwriting
// (MOVE with "Overwrite: F"), the temporary file deleted when the upload fails or stops.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "publish/part_sweep.h"
#include "publish/protocol_transports.h"
#include "publish/remote_listing.h"
#include "publish/secret_files.h"
#include "publish/web_transfer.h"
#include "text/percent_encoding.h"

namespace zembrat::publish {
namespace {

class DavTransport final : public Transport {
  public:
    DavTransport(const Target& target, const Credentials& credentials) : target_(target) {
        WebLogin login;
        if (!credentials.password.empty()) {
            login.kind = WebLogin::Kind::Basic;
            login.user = target.user;
            login.password = credentials.password;
        } else {
            login.kind = WebLogin::Kind::Netrc;
            login.netrcFile = HomeFolder(credentials.home) + "/.netrc";
            noNetrc_ = ::access(login.netrcFile.c_str(), R_OK) != 0 ? login.netrcFile : "";
            looseNetrc_ = LooseSecretFile(login.netrcFile, SecretFile::Netrc);
        }
        session_ = std::make_unique<WebSession>(login, target.caFile);
        WebAddress address;
        address.scheme = target.protocol == Protocol::Davs ? "https" : "http";
        address.host = target.host;
        address.port = target.port;
        origin_ = address.Origin();
        base_ = target.path;
        if (base_.empty() || base_.front() != '/') base_.insert(base_.begin(), '/');
        if (base_.back() != '/') base_ += '/';
    }

    bool Connect(std::string& message) override {
        if (!looseNetrc_.empty()) {
            message = Quoted(target_.name) + ": " + looseNetrc_;
            return false;
        }
        // The base folder may not exist yet, or not be listed (403): any answer but a refusal
        // of the login will do.
        const WebAnswer answer = session_->Perform(Request("HEAD", base_));
        if (answer.status != 0 && answer.status != 401) return true;
        message = AnswerMessage(answer, "log in");
        return false;
    }

    std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) override {
        const WebAnswer answer = session_->Perform(Request("HEAD", Path(remotePath)));
        if (answer.status >= 200 && answer.status < 300)
            return RemoteFile{true, answer.contentLength};
        if (answer.status == 404) return RemoteFile{};
        message = AnswerMessage(answer, "look at " + remotePath);
        return std::nullopt;
    }

    std::optional<std::string> Fetch(const std::string& remotePath, std::string& message) override {
        WebAnswer answer = session_->Perform(Request("GET", Path(remotePath)));
        if (answer.status == 200) return std::move(answer.body);
        message = AnswerMessage(answer, "read " + remotePath);
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
        const std::string final = Path(remotePath);
        if (!MakeFolders(FolderOf(final), result.message)) return result;
        SweepStaleParts(*this, FolderOf(remotePath), swept_);
        const std::string part = FolderOf(final) + PartName(NameOf(final));

        WebRequest put = Request("PUT", part);
        if (!servedAs.contentType.empty())
            put.headers.push_back("Content-Type: " + servedAs.contentType);
        put.uploadFile = localFile;
        put.stop = stop;
        const WebAnswer sent = session_->Perform(put);
        result.bytes = sent.sent;
        if (sent.stopped || sent.status < 200 || sent.status >= 300) {
            if (sent.stopped) {
                result.status = UploadStatus::Stopped;
            } else {
                result.message = AnswerMessage(sent, "upload " + remotePath);
            }
            Delete(part);
            return result;
        }

        WebRequest move = Request("MOVE", part);
        move.headers.push_back("Destination: " + origin_ +
                               text::PercentEncoded(final, text::UrlKeeps::UnreservedAndSlash));
        move.headers.push_back("Overwrite: F");
        const WebAnswer moved = session_->Perform(move);
        if (moved.status >= 200 && moved.status < 300) {
            result.status = UploadStatus::Uploaded;
            return result;
        }
        if (moved.status == 412) {
            result.message = Quoted(target_.name) + ": another file is already there under " +
                             remotePath + " (it was not overwritten)";
        } else {
            result.message = AnswerMessage(moved, "upload " + remotePath);
        }
        Delete(part);
        return result;
    }

    MoveStatus Move(const std::string& from, const std::string& to, std::string& message) override {
        const std::string destination = Path(to);
        if (!MakeFolders(FolderOf(destination), message)) return MoveStatus::Failed;
        WebRequest move = Request("MOVE", Path(from));
        move.headers.push_back(
            "Destination: " + origin_ +
            text::PercentEncoded(destination, text::UrlKeeps::UnreservedAndSlash));
        move.headers.push_back("Overwrite: F");
        const WebAnswer moved = session_->Perform(move);
        if (moved.status >= 200 && moved.status < 300) return MoveStatus::Moved;
        if (moved.status == 412) return MoveStatus::Taken;
        if (moved.status == 404) return MoveStatus::Missing;
        message = AnswerMessage(moved, "move " + from + " to " + to);
        return MoveStatus::Failed;
    }

    bool Delete(const std::string& remotePath, std::string& message) override {
        const WebAnswer answer = session_->Perform(Request("DELETE", Path(remotePath)));
        if ((answer.status >= 200 && answer.status < 300) || answer.status == 404) return true;
        message = AnswerMessage(answer, "delete " + remotePath);
        return false;
    }

    bool DeleteFolder(const std::string& folder, std::string& message) override {
        std::string path = Path(folder);
        if (!path.ends_with('/')) path += '/';
        const WebAnswer answer = session_->Perform(Request("DELETE", path));
        if ((answer.status >= 200 && answer.status < 300) || answer.status == 404) {
            folders_.erase(path);
            return true;
        }
        message = AnswerMessage(answer, "delete the folder " + folder);
        return false;
    }

    // PROPFIND, one level deep.
    std::optional<std::vector<RemoteEntry>> List(const std::string& folder,
                                                 std::string& message) override {
        std::string path = Path(folder);
        if (!path.ends_with('/')) path += '/';
        WebRequest list = Request("PROPFIND", path);
        list.headers.push_back("Depth: 1");
        const WebAnswer answer = session_->Perform(list);
        if (answer.status == 404) return std::vector<RemoteEntry>{};
        if (answer.status != 207) {
            message = AnswerMessage(answer, "list " + (folder.empty() ? "/" : folder));
            return std::nullopt;
        }
        std::vector<RemoteEntry> entries;
        for (const std::string_view response : XmlElements(answer.body, "response")) {
            const auto href = XmlElements(response, "href");
            if (href.empty()) continue;
            // An address or a path, encoded; a folder's ends with "/".
            std::string at = text::PercentDecoded(XmlText(href.front()));
            if (const auto scheme = at.find("://"); scheme != std::string::npos)
                at.erase(0, std::min(at.find('/', scheme + 3), at.size()));
            RemoteEntry entry;
            entry.folder = !XmlElements(response, "collection").empty();
            while (at.ends_with('/')) at.pop_back();
            if (!at.starts_with(path) || at.size() == path.size()) continue;  // itself
            entry.name = at.substr(path.size());
            if (entry.name.find('/') != std::string::npos) continue;
            if (const auto length = XmlElements(response, "getcontentlength"); !length.empty())
                entry.size = std::strtoull(std::string(length.front()).c_str(), nullptr, 10);
            if (const auto modified = XmlElements(response, "getlastmodified"); !modified.empty())
                entry.modified = HttpDate(XmlText(modified.front()));
            entries.push_back(std::move(entry));
        }
        return entries;
    }

  private:
    std::string Path(std::string_view remotePath) const {
        while (!remotePath.empty() && remotePath.front() == '/') remotePath.remove_prefix(1);
        return base_ + std::string(remotePath);
    }

    WebRequest Request(std::string method, std::string_view path) const {
        WebRequest request;
        request.method = std::move(method);
        request.url = origin_ + text::PercentEncoded(path, text::UrlKeeps::UnreservedAndSlash);
        return request;
    }

    // Deletes a temporary file; a server still busy with an abandoned upload holds it locked
    // (423) for a moment.
    void Delete(const std::string& path) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (session_->Perform(Request("DELETE", path)).status != 423) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Makes each missing folder of folder ("/"-ended, from the root), top down; the folders
    // known to be there are not asked about again.
    bool MakeFolders(const std::string& folder, std::string& message) {
        for (auto slash = folder.find('/', 1); slash != std::string::npos;
             slash = folder.find('/', slash + 1)) {
            const std::string level = folder.substr(0, slash + 1);
            if (folders_.count(level)) continue;
            const WebAnswer made = session_->Perform(Request("MKCOL", level));
            // 405: the folder is already there.
            if ((made.status >= 200 && made.status < 300) || made.status == 405) {
                folders_.insert(level);
                continue;
            }
            // Some servers refuse MKCOL on a folder that exists where the user may not write.
            if (made.status != 0 && made.status != 401) {
                WebRequest look = Request("PROPFIND", level);
                look.headers.push_back("Depth: 0");
                if (session_->Perform(look).status == 207) {
                    folders_.insert(level);
                    continue;
                }
            }
            message = AnswerMessage(made, "make the folder " + level);
            return false;
        }
        return true;
    }

    std::string AnswerMessage(const WebAnswer& answer, const std::string& what) const {
        std::string message = Quoted(target_.name) + ": ";
        switch (answer.status) {
            case 0:
                return message + answer.failure;
            case 401:
                if (!noNetrc_.empty())
                    return message + "the server asks for a password: none was given, and " +
                           noNetrc_ + " cannot be read";
                return message + "the user name or password was refused";
            case 403:
                return message + "the server forbids to " + what + " (403)";
            case 409:
                return message + "could not " + what + ": a folder on the way is missing (409)";
            case 413:
                return message + "the file is larger than the server takes (413)";
            case 507:
                return message + "the server's disk is full (507)";
            default:
                return message + "could not " + what + ": the server answered " +
                       std::to_string(answer.status);
        }
    }

    Target target_;
    std::unique_ptr<WebSession> session_;
    std::string origin_;
    std::string base_;  // "/"-started and "/"-ended
    std::set<std::string> folders_;
    std::set<std::string> swept_;  // the folders whose stale parts were removed
    std::string noNetrc_;     // the ~/.netrc the login was to come from, when it cannot be read
    std::string looseNetrc_;  // why that ~/.netrc may not be used, when it may not
};

}  // namespace

std::unique_ptr<Transport> MakeDavTransport(const Target& target, const Credentials& credentials) {
    return std::make_unique<DavTransport>(target, credentials);
}

}  // namespace zembrat::publish
