// One libcurl easy handle that a transport keeps for all its requests, so they share one
// connection; the pieces every libcurl transport needs (addresses, the local file, the stop
// token, a message in a user's words).
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "publish/transport.h"

namespace zembrat::publish {

// A remote path split into its pieces: nullopt when it is empty, absolute, or holds an empty,
// "." or ".." piece or a control character.
std::optional<std::vector<std::string>> SplitRemotePath(std::string_view remotePath);
// The home folder for the user's secrets: credentials.home, else the login's
// (platform::HomeFolder).
std::string HomeFolder(const Credentials& credentials);

// Whether a request that failed with code got as far as the files (logged in): only then can
// it have left anything to clean up.
bool ReachedFiles(CURLcode code);

// What a request is doing, for its message.
enum class Action { Connect, Look, Fetch, Upload, Rename, Delete, List };

// The local file to upload, opened by its native path.
class LocalFile {
  public:
    explicit LocalFile(const std::string& path);
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    bool open() const { return file_ != nullptr; }
    std::uint64_t size() const { return size_; }
    // Sets the handle's upload source to this file.
    void Attach(CURL* curl);

  private:
    static std::size_t Read(char* buffer, std::size_t size, std::size_t count, void* self);
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

// Where an upload goes: the final name, its folder (relative to the base path, "/"-ended or
// empty) and the part name the bytes are written under first, in that folder.
struct UploadPlan {
    std::string folder;
    std::string name;
    std::string part;  // folder + PartName(name)
};

// The plan for remotePath, with the local file opened into file; nullopt, with message set (it
// names the target), when remotePath is not a file's path or the file cannot be read.
std::optional<UploadPlan> PlanUpload(const Target& target, const std::string& localFile,
                                     const std::string& remotePath, LocalFile& file,
                                     std::string& message);

class CurlSession {
  public:
    explicit CurlSession(const Target& target);
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Clears the previous request's options (the connection stays) and sets those every request
    // has: error text, time-outs, the stop token's check, the CA file.
    CURL* Begin(std::stop_token stop = {});
    // Runs the request. The body, when asked for, is collected into body.
    CURLcode Perform(std::string* body = nullptr);
    long ResponseCode() const;
    // The size the server told for the last download or look, when it told one.
    std::optional<std::uint64_t> ContentLength() const;
    std::uint64_t BytesSent() const;
    // After Begin: when the file at url last changed, as the server tells it (a look of its own).
    std::optional<std::chrono::system_clock::time_point> FileTime(const std::string& url);
    const char* ErrorText() const { return error_; }
    CURL* handle() { return curl_; }

    // "<target>: <action> <what> failed: <why in a user's words>".
    std::string Explain(Action action, std::string_view what, CURLcode code) const;

  private:
    CURLcode PerformAwaitingAnswers();
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static std::size_t Collect(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t Discard(char*, std::size_t size, std::size_t count, void*);

    const Target& target_;
    CURL* curl_ = nullptr;
    CURLM* multi_ = nullptr;  // SFTP: the handle's requests, run by PerformAwaitingAnswers
    std::stop_token stop_;
    std::string* body_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
};

}  // namespace zembrat::publish
