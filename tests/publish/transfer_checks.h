// What every transport must do, checked against its server's disk: the same checks for each
// protocol, from its own test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "publish/protocol_transports.h"
#include "publish/transport.h"
#include "support/server_process.h"

namespace zembrat::publish {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t word = random();
        for (std::size_t k = 0; k < 4 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>(word >> (8 * k));
    }
    return bytes;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Everything below a folder on the server's disk, by relative path.
inline std::vector<std::string> Listing(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string LocalFile(const testing::ScratchFolder& local, const std::string& name,
                             const std::string& bytes) {
    EXPECT_FALSE(local.Write(name, bytes).empty());
    return local.path() + "/" + name;
}

// New folders, Chinese names (GBK on the local disk, UTF-8 on the server), looks, fetches, an
// empty file, and never a replaced file or a part left. site: the target's base on disk.
inline void ExpectUploadsLooksFetchesNeverReplaces(Transport& transport, const std::string& site,
                                                   const testing::ScratchFolder& local,
                                                   const std::string& targetName) {
    const std::string bytes = RandomBytes(300 * 1024, 1);
    const std::string file = LocalFile(local, "\xD6\xD0\xCE\xC4.png", bytes);  // 中文.png
    const std::string folder = "\xE5\x9B\xBE\xE7\x89\x87/2024";                // 图片/2024
    const std::string name = "\xE4\xB8\xAD\xE6\x96\x87 \xE5\x9B\xBE.png";      // 中文 图.png
    const std::string remote = folder + "/" + name;
    const UploadResult up = transport.Upload(file, remote, {});
    ASSERT_EQ(up.status, UploadStatus::Uploaded) << up.message;
    EXPECT_EQ(up.bytes, bytes.size());
    EXPECT_EQ(ReadFile(site + "/" + remote), bytes);
    EXPECT_EQ(Listing(site + "/" + folder), std::vector<std::string>{name});

    std::string message;
    const auto found = transport.Look(remote, message);
    ASSERT_TRUE(found) << message;
    EXPECT_TRUE(found->exists);
    EXPECT_EQ(found->size, bytes.size());
    for (const std::string& absent : {folder + "/none.png", std::string("no/such/folder.png")}) {
        const auto missing = transport.Look(absent, message);
        ASSERT_TRUE(missing) << message;
        EXPECT_FALSE(missing->exists) << absent;
    }
    EXPECT_EQ(transport.Fetch(remote, message).value_or("<none>"), bytes) << message;
    EXPECT_FALSE(transport.Fetch(folder + "/none.png", message));
    EXPECT_TRUE(Contains(message, targetName + ": ")) << message;

    // Other bytes under the same name: refused, the file stays, no part is left.
    const UploadResult again = transport.Upload(LocalFile(local, "b.png", "other"), remote, {});
    EXPECT_EQ(again.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(again.message, targetName + ": ")) << again.message;
    EXPECT_EQ(ReadFile(site + "/" + remote), bytes);
    EXPECT_EQ(Listing(site + "/" + folder), std::vector<std::string>{name});
    // A path out of the base is no path.
    EXPECT_EQ(transport.Upload(file, "../x.png", {}).status, UploadStatus::Failed);
    EXPECT_FALSE(transport.Look("/etc/passwd", message));

    // An empty file is a file too (libcurl tells an SFTP file's size 0 as unknown).
    ASSERT_EQ(transport.Upload(LocalFile(local, "e.png", ""), "empty.png", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site + "/empty.png"), "");
    const auto empty = transport.Look("empty.png", message);
    ASSERT_TRUE(empty) << message;
    EXPECT_TRUE(empty->exists);
    EXPECT_EQ(empty->size.value_or(0), 0u);
    // A folder cannot be made where a file is.
    const UploadResult blocked = transport.Upload(file, "empty.png/x.png", {});
    EXPECT_EQ(blocked.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(blocked.message, "folder cannot be made")) << blocked.message;

    // A name of 250 bytes (the file system takes 255): its part fits as well.
    const std::string longName = std::string(246, 'l') + ".htm";
    const UploadResult longOne = transport.Upload(LocalFile(local, "l.htm", "long"), longName, {});
    EXPECT_EQ(longOne.status, UploadStatus::Uploaded) << longOne.message;
    EXPECT_EQ(ReadFile(site + "/" + longName), "long");
}

// A stop once the part has begun to arrive: nothing under the final name, no part, and the
// transport goes on working.
inline void ExpectAStopLeavesNothing(Transport& transport, const std::string& site,
                                     const testing::ScratchFolder& local) {
    const std::string bytes = RandomBytes(64 << 20, 2);
    const std::string file = LocalFile(local, "big.bin", bytes);
    std::stop_source stop;
    std::thread watcher([&] {
        const std::string part = site + "/a/" + PartName("big.bin");
        for (int i = 0; i < 20000 && !stop.stop_requested(); ++i) {
            std::error_code ec;
            if (std::filesystem::file_size(part, ec) > 0 && !ec) stop.request_stop();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    const UploadResult result = transport.Upload(file, "a/big.bin", stop.get_token());
    stop.request_stop();
    watcher.join();
    EXPECT_EQ(result.status, UploadStatus::Stopped) << result.message;
    EXPECT_LT(result.bytes, bytes.size());
    EXPECT_EQ(Listing(site + "/a"), std::vector<std::string>{});
    EXPECT_EQ(transport.Upload(LocalFile(local, "s.bin", "small"), "a/s.bin", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site + "/a/s.bin"), "small");
}

}  // namespace zembrat::publish
