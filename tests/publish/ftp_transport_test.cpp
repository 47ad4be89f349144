#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "publish/protocol_transports.h"
#include "support/tmpfs_mount.h"
#include "support/vsftpd_server.h"
#include "transfer_checks.h"

namespace zembrat::publish {
namespace {

namespace fs = std::filesystem;
using testing::FtpSecurity;
using testing::ScratchFolder;
using testing::VsftpdServer;

class FtpTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "vsftpd changes to its ftp user, which needs root";
        credentials_.home = local_.path() + "/home";
    }

    // The target over the server's pub/site/ folder.
    Target SiteTarget(const VsftpdServer& server, const std::string& scheme,
                      const std::string& query = "") const {
        std::string error;
        const auto target =
            ParseTargetUrl(scheme + "://" + std::string(VsftpdServer::kUser) +
                               "@127.0.0.1:" + std::to_string(server.port()) + "/pub/site/" + query,
                           error);
        EXPECT_TRUE(target) << error;
        return target.value_or(Target{});
    }
    void WriteNetrc(const std::string& password) const {
        local_.Write("home/.netrc",
                     "machine 127.0.0.1 login anonymous password " + password + "\n");
    }
    std::string LocalFile(const std::string& name, const std::string& bytes) const {
        return publish::LocalFile(local_, name, bytes);
    }

    ScratchFolder local_;
    Credentials credentials_;
};

TEST_F(FtpTransportTest, UploadsIntoNewFoldersUnderChineseNamesThenLooksFetchesNeverReplaces) {
    VsftpdServer server(FtpSecurity::Plain);
    ASSERT_TRUE(server.started()) << server.error();
    WriteNetrc("s3cret");
    const Target target = SiteTarget(server, "ftp");
    auto transport = MakeFtpTransport(target, credentials_);
    std::string message;
    ASSERT_TRUE(transport->Connect(message)) << message;
    ExpectUploadsLooksFetchesNeverReplaces(*transport, server.uploads() + "/site", local_,
                                           target.name);
    // All of it over the one connection.
    EXPECT_EQ(server.Logins(), 1);
}

TEST_F(FtpTransportTest, AStopMidUploadLeavesNothingUnderTheFinalName) {
    VsftpdServer server(FtpSecurity::Plain);
    ASSERT_TRUE(server.started()) << server.error();
    credentials_.password = "s3cret";
    ExpectAStopLeavesNothing(*MakeFtpTransport(SiteTarget(server, "ftp"), credentials_),
                             server.uploads() + "/site", local_);
}

TEST_F(FtpTransportTest, AWrongPasswordIsABadLoginNamingTheTarget) {
    VsftpdServer server(FtpSecurity::Plain);
    ASSERT_TRUE(server.started()) << server.error();
    WriteNetrc("wrong");
    const Target target = SiteTarget(server, "ftp");
    std::string message;
    EXPECT_FALSE(MakeFtpTransport(target, credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, target.name)) << message;
    EXPECT_TRUE(Contains(message, "refused the login")) << message;
    credentials_.password = "also wrong";
    const UploadResult up =
        MakeFtpTransport(target, credentials_)->Upload(LocalFile("x.png", "x"), "x.png", {});
    EXPECT_EQ(up.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(up.message, "refused the login")) << up.message;
    EXPECT_EQ(Listing(server.uploads()), std::vector<std::string>{});

    // Nobody listening.
    Target closed = target;
    closed.port = testing::FreeLoopbackPort();
    closed.name = "closed";
    EXPECT_FALSE(MakeFtpTransport(closed, credentials_)->Connect(message));
    EXPECT_TRUE(Contains(message, "closed: ")) << message;
    EXPECT_TRUE(Contains(message, "refused the connection")) << message;
}

TEST_F(FtpTransportTest, ExplicitAndImplicitTlsUploadWholeFilesAndTrustOnlyTheirCa) {
    const std::string bytes = RandomBytes(3 << 20, 4);
    const std::string local = LocalFile("tls.bin", bytes);
    credentials_.password = "s3cret";
    for (const auto& [security, scheme] : {std::pair{FtpSecurity::ExplicitTls, "ftpes"},
                                           std::pair{FtpSecurity::ImplicitTls, "ftps"}}) {
        VsftpdServer server(security);
        ASSERT_TRUE(server.started()) << server.error();
        const Target target = SiteTarget(server, scheme, "?ca=" + server.certificate());
        auto transport = MakeFtpTransport(target, credentials_);
        for (const char* name : {"x/tls1.bin", "x/tls2.bin"}) {
            const UploadResult up = transport->Upload(local, name, {});
            EXPECT_EQ(up.status, UploadStatus::Uploaded) << scheme << ": " << up.message;
            EXPECT_EQ(ReadFile(server.uploads() + "/site/" + name), bytes) << scheme;
        }
        std::string message;
        const auto fetched = transport->Fetch("x/tls1.bin", message);
        EXPECT_EQ(fetched.value_or(""), bytes) << message;

        // Without the server's CA the certificate is not trusted.
        const Target untrusted = SiteTarget(server, scheme);
        EXPECT_FALSE(MakeFtpTransport(untrusted, credentials_)->Connect(message));
        EXPECT_TRUE(Contains(message, untrusted.name)) << message;
        EXPECT_TRUE(Contains(message, "not trusted")) << message;
    }
}

TEST_F(FtpTransportTest, AFullDiskFailsTheUploadAndLeavesNoPart) {
    VsftpdServer server(FtpSecurity::Plain);
    ASSERT_TRUE(server.started()) << server.error();
    const std::string full = server.uploads() + "/site/full";
    fs::create_directories(full);
    testing::TmpfsMount mount(full, "size=64k,mode=0777");
    if (!mount.mounted()) GTEST_SKIP() << "mounting a small tmpfs is not allowed here";
    credentials_.password = "s3cret";
    const Target target = SiteTarget(server, "ftp");
    const UploadResult up =
        MakeFtpTransport(target, credentials_)
            ->Upload(LocalFile("big.png", RandomBytes(1 << 20, 3)), "full/big.png", {});
    EXPECT_EQ(up.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(up.message, target.name)) << up.message;
    EXPECT_TRUE(Contains(up.message, "disk")) << up.message;
    EXPECT_EQ(Listing(full), std::vector<std::string>{});
}

}  // namespace
}  // namespace zembrat::publish
