#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "publish/transports.h"
#include "support/scoped_env.h"
#include "support/sshd_server.h"
#include "support/tmpfs_mount.h"

namespace zembrat::publish {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::SshdServer;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Everything below a folder on the server's disk, by relative path.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class SftpTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "sshd needs root for its privilege separation";
        ASSERT_TRUE(server_.started()) << server_.error();
        credentials_.home = local_.path() + "/home";
        const std::string key = SshdServer::MakeUserKey(credentials_.home + "/.ssh");
        ASSERT_FALSE(key.empty());
        ASSERT_TRUE(server_.Authorize(key));
        site_ = server_.root() + "/site";
    }

    // The target over the server's site folder; trusted: its host key in known_hosts.
    Target SiteTarget(const std::string& query = "") const {
        std::string error;
        const auto target = ParseTargetUrl(
            "sftp://root@127.0.0.1:" + std::to_string(server_.port()) + site_ + query, error);
        EXPECT_TRUE(target) << error;
        return target.value_or(Target{});
    }
    void TrustServer() const {
        std::ofstream(credentials_.home + "/.ssh/known_hosts") << server_.KnownHostsLine() << "\n";
    }
    std::string LocalFile(const std::string& name, const std::string& bytes) const {
        EXPECT_TRUE(local_.Write(name, bytes));
        return local_.path() + "/" + name;
    }

    testing::ScopedEnv noAgent_{"SSH_AUTH_SOCK", nullptr};
    ScratchFolder local_;
    SshdServer server_;
    Credentials credentials_;
    std::string site_;
};

TEST_F(SftpTransportTest, UploadsIntoNewFoldersUnderChineseNamesThenLooksFetchesNeverReplaces) {
    TrustServer();
    auto transport = MakeSftpTransport(SiteTarget(), credentials_);
    std::string message;
    ASSERT_TRUE(transport->Connect(message)) << message;

    const std::string bytes = RandomBytes(300 * 1024, 1);
    // The local name in GBK bytes ("中文.png"), the remote one in UTF-8 ("图片/2024/中文 图.png").
    const std::string local = LocalFile("\xD6\xD0\xCE\xC4.png", bytes);
    const std::string remote =
        "\xE5\x9B\xBE\xE7\x89\x87/2024/\xE4\xB8\xAD\xE6\x96\x87 "
        "\xE5\x9B\xBE.png";
    const UploadResult up = transport->Upload(local, remote, {});
    ASSERT_EQ(up.status, UploadStatus::Uploaded) << up.message;
    EXPECT_EQ(up.bytes, bytes.size());
    EXPECT_EQ(ReadFile(site_ + "/" + remote), bytes);
    EXPECT_EQ(Listing(site_ + "/\xE5\x9B\xBE\xE7\x89\x87/2024"),
              std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87 \xE5\x9B\xBE.png"});

    const auto found = transport->Look(remote, message);
    ASSERT_TRUE(found) << message;
    EXPECT_TRUE(found->exists);
    EXPECT_EQ(found->size, bytes.size());
    const auto missing = transport->Look("\xE5\x9B\xBE\xE7\x89\x87/none.png", message);
    ASSERT_TRUE(missing) << message;
    EXPECT_FALSE(missing->exists);
    const auto fetched = transport->Fetch(remote, message);
    ASSERT_TRUE(fetched) << message;
    EXPECT_EQ(*fetched, bytes);
    EXPECT_FALSE(transport->Fetch("nowhere/none.png", message));
    EXPECT_TRUE(Contains(message, SiteTarget().name)) << message;

    // Other bytes under the same name: refused, the file stays, no part is left.
    const UploadResult again = transport->Upload(LocalFile("b.png", "other"), remote, {});
    EXPECT_EQ(again.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(again.message, SiteTarget().name)) << again.message;
    EXPECT_EQ(ReadFile(site_ + "/" + remote), bytes);
    EXPECT_EQ(Listing(site_ + "/\xE5\x9B\xBE\xE7\x89\x87/2024").size(), 1u);
    // A path out of the base is no path.
    EXPECT_EQ(transport->Upload(local, "../x.png", {}).status, UploadStatus::Failed);
    EXPECT_FALSE(transport->Look("/etc/passwd", message));
}

TEST_F(SftpTransportTest, AStopMidUploadLeavesNothingUnderTheFinalName) {
    TrustServer();
    auto transport = MakeSftpTransport(SiteTarget(), credentials_);
    const std::string bytes = RandomBytes(64 << 20, 2);
    const std::string local = LocalFile("big.bin", bytes);
    std::stop_source stop;
    std::thread watcher([&] {
        // Stops once the part has begun to arrive.
        const std::string part = site_ + "/a/.big.bin.zembrat-part";
        for (int i = 0; i < 20000 && !stop.stop_requested(); ++i) {
            std::error_code ec;
            if (fs::file_size(part, ec) > 0 && !ec) stop.request_stop();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    const UploadResult result = transport->Upload(local, "a/big.bin", stop.get_token());
    stop.request_stop();
    watcher.join();
    EXPECT_EQ(result.status, UploadStatus::Stopped) << result.message;
    EXPECT_LT(result.bytes, bytes.size());
    EXPECT_EQ(Listing(site_ + "/a"), std::vector<std::string>{});
    // The transport goes on working after a stop.
    EXPECT_EQ(transport->Upload(LocalFile("s.bin", "small"), "a/s.bin", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site_ + "/a/s.bin"), "small");
}

TEST_F(SftpTransportTest, AKeyTheServerDoesNotKnowIsABadLoginNamingTheTarget) {
    TrustServer();
    Credentials stranger = credentials_;
    stranger.home = local_.path() + "/stranger";
    ASSERT_FALSE(SshdServer::MakeUserKey(stranger.home + "/.ssh").empty());
    std::ofstream(stranger.home + "/.ssh/known_hosts") << server_.KnownHostsLine() << "\n";
    auto transport = MakeSftpTransport(SiteTarget(), stranger);
    std::string message;
    EXPECT_FALSE(transport->Connect(message));
    EXPECT_TRUE(Contains(message, SiteTarget().name)) << message;
    EXPECT_TRUE(Contains(message, "refused the login")) << message;
    const UploadResult up = transport->Upload(LocalFile("x.png", "x"), "x.png", {});
    EXPECT_EQ(up.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(up.message, "refused the login")) << up.message;
    EXPECT_FALSE(fs::exists(site_ + "/x.png"));
}

TEST_F(SftpTransportTest, HostKeysUnknownRefusedOrAcceptedThenKnownAndAChangedOneAlwaysRefused) {
    std::string message;
    EXPECT_FALSE(MakeSftpTransport(SiteTarget(), credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, SiteTarget().name)) << message;
    EXPECT_TRUE(Contains(message, "unknown")) << message;
    EXPECT_TRUE(Contains(message, server_.fingerprint())) << message;
    EXPECT_FALSE(fs::exists(credentials_.home + "/.ssh/known_hosts"));

    Credentials accepting = credentials_;
    accepting.acceptNewHostKey = true;
    ASSERT_TRUE(MakeSftpTransport(SiteTarget(), accepting)->Connect(message)) << message;
    const std::string known = ReadFile(credentials_.home + "/.ssh/known_hosts");
    EXPECT_TRUE(
        Contains(known, server_.KnownHostsLine().substr(server_.KnownHostsLine().find(' '))))
        << known;
    // Known now, without accepting anything.
    EXPECT_TRUE(MakeSftpTransport(SiteTarget(), credentials_)->Connect(message)) << message;

    ASSERT_TRUE(server_.ChangeHostKey()) << server_.error();
    for (const Credentials& c : {credentials_, accepting}) {
        EXPECT_FALSE(MakeSftpTransport(SiteTarget(), c)->Connect(message));
        EXPECT_TRUE(Contains(message, "HOST KEY HAS CHANGED")) << message;
        EXPECT_TRUE(Contains(message, server_.fingerprint())) << message;
        EXPECT_TRUE(Contains(message, SiteTarget().name)) << message;
    }
    EXPECT_EQ(ReadFile(credentials_.home + "/.ssh/known_hosts"), known);
}

TEST_F(SftpTransportTest, APinnedFingerprintAloneDecides) {
    std::string message;
    const Target pinned = SiteTarget("?fingerprint=" + server_.fingerprint());
    auto transport = MakeSftpTransport(pinned, credentials_);
    ASSERT_TRUE(transport->Connect(message)) << message;
    EXPECT_EQ(transport->Upload(LocalFile("p.png", "pinned"), "p.png", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site_ + "/p.png"), "pinned");

    std::string other = server_.fingerprint();
    other.back() = other.back() == 'A' ? 'B' : 'A';
    const Target wrong = SiteTarget("?fingerprint=" + other);
    EXPECT_FALSE(MakeSftpTransport(wrong, credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, "pinned")) << message;
    EXPECT_TRUE(Contains(message, wrong.name)) << message;
}

TEST_F(SftpTransportTest, AFullDiskFailsTheUploadAndLeavesNoPart) {
    TrustServer();
    fs::create_directories(site_);
    testing::TmpfsMount full(site_ + "/full", "size=64k");
    if (!full.mounted()) GTEST_SKIP() << "mounting a small tmpfs is not allowed here";
    auto transport = MakeSftpTransport(SiteTarget(), credentials_);
    const UploadResult up =
        transport->Upload(LocalFile("big.png", RandomBytes(1 << 20, 3)), "full/big.png", {});
    EXPECT_EQ(up.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(up.message, SiteTarget().name)) << up.message;
    EXPECT_TRUE(Contains(up.message, "disk")) << up.message;
    EXPECT_EQ(Listing(site_ + "/full"), std::vector<std::string>{});
}

}  // namespace
}  // namespace zembrat::publish
