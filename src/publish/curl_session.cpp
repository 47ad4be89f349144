#include "publish/curl_session.h"

#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>

#include <ctime>
#include <vector>

#include "platform/curl_global.h"
#include "platform/user_account.h"
#include "publish/protocol_transports.h"

namespace zembrat::publish {
namespace {

// No answer at all for this long, or no byte moving for this long, ends a request.
constexpr long kConnectSeconds = 30;
constexpr long kStallSeconds = 60;

std::string_view ActionText(Action action) {
    switch (action) {
        case Action::Connect:
            return "connecting";
        case Action::Look:
            return "looking at";
        case Action::Fetch:
            return "reading";
        case Action::Upload:
            return "uploading";
        case Action::Rename:
            return "renaming";
        case Action::Delete:
            return "deleting";
        case Action::List:
            return "listing";
    }
    return "";
}

}  // namespace

std::optional<std::vector<std::string>> SplitRemotePath(std::string_view remotePath) {
    if (remotePath.empty() || remotePath.front() == '/') return std::nullopt;
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at <= remotePath.size();) {
        std::size_t end = remotePath.find('/', at);
        if (end == std::string_view::npos) end = remotePath.size();
        const std::string_view piece = remotePath.substr(at, end - at);
        if (piece.empty() || piece == "." || piece == "..") return std::nullopt;
        for (const char c : piece)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
        pieces.emplace_back(piece);
        at = end + 1;
    }
    return pieces;
}

std::optional<UploadPlan> PlanUpload(const Target& target, const std::string& localFile,
                                     const std::string& remotePath, LocalFile& file,
                                     std::string& message) {
    const auto pieces = SplitRemotePath(remotePath);
    if (!pieces) {
        message = target.name + ": \"" + remotePath + "\" is no file path";
        return std::nullopt;
    }
    if (!file.open()) {
        message = target.name + ": the local file cannot be read: " + localFile;
        return std::nullopt;
    }
    UploadPlan plan;
    plan.name = pieces->back();
    plan.folder = remotePath.substr(0, remotePath.size() - plan.name.size());
    plan.part = plan.folder + PartName(plan.name);
    return plan;
}

std::string HomeFolder(const Credentials& credentials) {
    if (!credentials.home.empty()) return credentials.home;
    return platform::HomeFolder();
}

bool ReachedFiles(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_LOGIN_DENIED:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_USE_SSL_FAILED:
            return false;
        default:
            return true;
    }
}

LocalFile::LocalFile(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (file_ && (::fstat(::fileno(file_), &st) != 0 || !S_ISREG(st.st_mode))) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (file_) size_ = static_cast<std::uint64_t>(st.st_size);
}

LocalFile::~LocalFile() {
    if (file_) std::fclose(file_);
}

void LocalFile::Attach(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &LocalFile::Read);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size_));
}

std::size_t LocalFile::Read(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto* file = static_cast<LocalFile*>(self)->file_;
    const std::size_t got = std::fread(buffer, 1, size * count, file);
    if (got == 0 && std::ferror(file)) return CURL_READFUNC_ABORT;
    return got;
}

CurlSession::CurlSession(const Target& target) : target_(target) {
    platform::InitCurlOnce();
    curl_ = curl_easy_init();
}

CurlSession::~CurlSession() {
    if (curl_) curl_easy_cleanup(curl_);
    if (multi_) curl_multi_cleanup(multi_);
}

CURL* CurlSession::Begin(std::stop_token stop) {
    curl_easy_reset(curl_);
    stop_ = std::move(stop);
    body_ = nullptr;
    error_[0] = '\0';
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CurlSession::Progress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlSession::Discard);
    if (!target_.caFile.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, target_.caFile.c_str());
    return curl_;
}

CURLcode CurlSession::Perform(std::string* body) {
    body_ = body;
    if (body) {
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlSession::Collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    }
    const CURLcode code =
        target_.protocol == Protocol::Sftp ? PerformAwaitingAnswers() : curl_easy_perform(curl_);
    body_ = nullptr;
    return code;
}

CURLcode CurlSession::PerformAwaitingAnswers() {
    // libcurl's SFTP asks to wait for its socket to take bytes while it waits for the server's
    // answer; a socket that always takes them ends such a wait at once, and the request spins.
    // So a socket it asks both ways is waited on for an answer, and tried again every
    // millisecond in case it did want to write. (The multi handle keeps the connection between
    // requests, as the easy one did.)
    if (!multi_ && !(multi_ = curl_multi_init())) return curl_easy_perform(curl_);
    if (curl_multi_add_handle(multi_, curl_) != CURLM_OK) return curl_easy_perform(curl_);
    CURLcode result = CURLE_OK;
    for (int running = 1;;) {
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left))
                if (message->msg == CURLMSG_DONE) result = message->data.result;
            break;
        }
        fd_set reads, writes, errors;
        FD_ZERO(&reads);
        FD_ZERO(&writes);
        FD_ZERO(&errors);
        int most = -1;
        long timeout = -1;
        curl_multi_fdset(multi_, &reads, &writes, &errors, &most);
        curl_multi_timeout(multi_, &timeout);
        long wait = timeout < 0 || timeout > 100 ? 100 : timeout;
        std::vector<pollfd> sockets;
        for (int fd = 0; fd <= most && fd < FD_SETSIZE; ++fd) {
            const bool read = FD_ISSET(fd, &reads), write = FD_ISSET(fd, &writes);
            if (!read && !write) continue;
            if (read && write && wait > 1) wait = 1;
            sockets.push_back({fd, static_cast<short>(read ? POLLIN : POLLOUT), 0});
        }
        if (most >= FD_SETSIZE) wait = 1;
        ::poll(sockets.data(), sockets.size(), static_cast<int>(wait));
    }
    curl_multi_remove_handle(multi_, curl_);
    return result;
}

long CurlSession::ResponseCode() const {
    long code = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

std::optional<std::uint64_t> CurlSession::ContentLength() const {
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(length);
}

std::uint64_t CurlSession::BytesSent() const {
    curl_off_t sent = 0;
    curl_easy_getinfo(curl_, CURLINFO_SIZE_UPLOAD_T, &sent);
    return sent < 0 ? 0 : static_cast<std::uint64_t>(sent);
}

int CurlSession::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CurlSession*>(self)->stop_.stop_requested() ? 1 : 0;
}

std::size_t CurlSession::Collect(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<CurlSession*>(self)->body_->append(data, size * count);
    return size * count;
}

std::size_t CurlSession::Discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

std::optional<std::chrono::system_clock::time_point> CurlSession::FileTime(const std::string& url) {
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl_, CURLOPT_FILETIME, 1L);
    if (Perform() != CURLE_OK) return std::nullopt;
    curl_off_t time = -1;
    if (curl_easy_getinfo(curl_, CURLINFO_FILETIME_T, &time) != CURLE_OK || time < 0)
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(static_cast<std::time_t>(time));
}

std::string CurlSession::Explain(Action action, std::string_view what, CURLcode code) const {
    std::string why;
    switch (code) {
        case CURLE_LOGIN_DENIED:
            why = "the server refused the login (bad user name, password or key)";
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
            why = "the host name is unknown";
            break;
        case CURLE_COULDNT_CONNECT:
            why = "the host is unreachable or refused the connection";
            break;
        case CURLE_OPERATION_TIMEDOUT:
            why = "the server did not answer in time (time-out)";
            break;
        case CURLE_REMOTE_DISK_FULL:
            why = "the server's disk is full";
            break;
        case CURLE_REMOTE_ACCESS_DENIED:
            why = "access denied: the folder cannot be made or the file cannot be written there";
            break;
        case CURLE_REMOTE_FILE_NOT_FOUND:
            // An upload's file is made, so what is missing is a folder that could not be.
            why = action == Action::Upload ? "the folder cannot be made (is a file in its place?)"
                                           : "there is no such file on the server";
            break;
        case CURLE_USE_SSL_FAILED:
            why = "the server does not offer TLS";
            break;
        case CURLE_SSL_CONNECT_ERROR:
            why = "the TLS connection could not be set up";
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
            why = "the server's certificate or key is not trusted";
            break;
        case CURLE_SSL_CACERT_BADFILE:
            why = "the CA file cannot be read";
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            why = "stopped";
            break;
        case CURLE_READ_ERROR:
            why = "the local file cannot be read";
            break;
        case CURLE_UPLOAD_FAILED:
            why = "the server refused to take the file";
            break;
        default:
            why = curl_easy_strerror(code);
            break;
    }
    std::string message = target_.name + ": " + std::string(ActionText(action));
    if (!what.empty()) message += " " + std::string(what);
    message += " failed: " + why;
    if (error_[0] && code != CURLE_ABORTED_BY_CALLBACK) message += " (" + std::string(error_) + ")";
    return message;
}

}  // namespace zembrat::publish
