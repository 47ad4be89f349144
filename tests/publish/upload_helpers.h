// What the publish transport tests share: files to upload and an upload stopped mid-way.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

#include "publish/transport.h"

namespace zembrat::publish {

// The size of the file an upload stopped mid-way sends (sparse on disk).
constexpr std::uint64_t kBigFile = std::uint64_t{256} << 20;

inline std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Uploads a large sparse file and asks to stop once the server holds more than a megabyte of
// it (receiving() tells how much it holds); the upload's result.
inline UploadResult UploadStoppedMidway(Transport& transport, const std::string& localFile,
                                        const std::string& remotePath,
                                        const std::function<std::uint64_t()>& receiving) {
    std::ofstream(localFile, std::ios::binary).flush();
    std::filesystem::resize_file(localFile, kBigFile);
    std::stop_source stop;
    UploadResult result;
    std::thread upload([&] { result = transport.Upload(localFile, remotePath, stop.get_token()); });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (receiving() <= (1u << 20) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop.request_stop();
    upload.join();
    return result;
}

}  // namespace zembrat::publish
