#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "publish/protocol_transports.h"
#include "support/scoped_env.h"
#include "support/sshd_server.h"
#include "support/tmpfs_mount.h"
#include "transfer_checks.h"
#include "upload_helpers.h"

namespace zembrat::publish {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::SshdServer;

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
        return publish::LocalFile(local_, name, bytes);
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
    ExpectUploadsLooksFetchesNeverReplaces(*transport, site_, local_, SiteTarget().name);
    // All of it over the one connection.
    EXPECT_EQ(server_.Logins(), 1);
}

TEST_F(SftpTransportTest, AFolderIsListedWithItsSizes) {
    TrustServer();
    auto transport = MakeSftpTransport(SiteTarget(), credentials_);
    std::string message;
    ASSERT_TRUE(transport->Connect(message)) << message;
    ExpectListsAFolder(*transport, local_.path());
}

TEST_F(SftpTransportTest, AStopMidUploadLeavesNothingUnderTheFinalName) {
    TrustServer();
    ExpectAStopLeavesNothing(*MakeSftpTransport(SiteTarget(), credentials_), site_, local_);
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

    // Nobody listening.
    Target closed = SiteTarget();
    closed.port = testing::FreeLoopbackPort();
    closed.name = "closed";
    EXPECT_FALSE(MakeSftpTransport(closed, credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, "closed: ")) << message;
    EXPECT_TRUE(Contains(message, "refused the connection")) << message;
}

TEST_F(SftpTransportTest, TheAgentsKeyLogsInWhenNoKeyFileIsThere) {
    TrustServer();
    const std::string key = local_.path() + "/agent_key";
    fs::rename(credentials_.home + "/.ssh/id_ed25519", key);
    fs::rename(credentials_.home + "/.ssh/id_ed25519.pub", key + ".pub");
    std::string message;
    EXPECT_FALSE(MakeSftpTransport(SiteTarget(), credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, "refused the login")) << message;

    testing::SshAgent agent;
    ASSERT_TRUE(agent.started());
    ASSERT_TRUE(agent.Add(key));
    testing::ScopedEnv useAgent("SSH_AUTH_SOCK", agent.socket().c_str());
    auto transport = MakeSftpTransport(SiteTarget(), credentials_);
    ASSERT_TRUE(transport->Connect(message)) << message;
    EXPECT_EQ(transport->Upload(LocalFile("a.png", "agent"), "a.png", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site_ + "/a.png"), "agent");
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
    // Under its port, as OpenSSH writes it.
    EXPECT_EQ(known, server_.KnownHostsLine() + "\n");
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
