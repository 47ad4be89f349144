// What the publish transport tests share: files to upload and an upload stopped mid-way.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <thread>

#include <gtest/gtest.h>

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

// A folder's listing names its files (Chinese, spaced, an empty one) with their sizes,
// and nothing of a folder below it; a folder that is not there lists empty. localFolder: where
// the files to upload are written.
inline void ExpectListsAFolder(Transport& transport, const std::string& localFolder) {
    const std::map<std::string, std::string> files = {
        {"猫 咪.png", std::string(5000, 'c')}, {"a+b (c).gif", "gif"}, {"empty.png", ""}};
    for (const auto& [name, bytes] : files) {
        const UploadResult up =
            transport.Upload(WriteFile(localFolder + "/up.bin", bytes), "列表/" + name, {});
        ASSERT_EQ(up.status, UploadStatus::Uploaded) << up.message;
    }
    ASSERT_EQ(
        transport.Upload(WriteFile(localFolder + "/up.bin", "below"), "列表/下/x.png", {}).status,
        UploadStatus::Uploaded);
    std::string message;
    const auto listing = transport.Listing("列表/", message);
    ASSERT_TRUE(listing) << message;
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(listing->contains(name)) << name;
        EXPECT_TRUE(listing->at(name).exists);
        EXPECT_EQ(listing->at(name).size, bytes.size()) << name;
    }
    EXPECT_FALSE(listing->contains("x.png"));
    EXPECT_FALSE(listing->contains("下/x.png"));
    for (const auto& [name, file] : *listing)
        EXPECT_TRUE(files.contains(name) || (name == "下" && !file.size)) << name;
    const auto none = transport.Listing("没有/这里/", message);
    ASSERT_TRUE(none) << message;
    EXPECT_TRUE(none->empty());
}

}  // namespace zembrat::publish
