#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "publish/transports.h"
#include "support/tmpfs_mount.h"
#include "support/vsftpd_server.h"

namespace zembrat::publish {
namespace {

namespace fs = std::filesystem;
using testing::FtpSecurity;
using testing::ScratchFolder;
using testing::VsftpdServer;

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

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

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
        EXPECT_TRUE(local_.Write(name, bytes));
        return local_.path() + "/" + name;
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

    const std::string site = server.uploads() + "/site";
    const std::string bytes = RandomBytes(300 * 1024, 1);
    const std::string local = LocalFile("\xD6\xD0\xCE\xC4.png", bytes);  // "中文.png" in GBK
    const std::string remote =
        "\xE5\x9B\xBE\xE7\x89\x87/2024/\xE4\xB8\xAD\xE6\x96\x87 "
        "\xE5\x9B\xBE.png";  // "图片/2024/中文 图.png"
    const UploadResult up = transport->Upload(local, remote, {});
    ASSERT_EQ(up.status, UploadStatus::Uploaded) << up.message;
    EXPECT_EQ(up.bytes, bytes.size());
    EXPECT_EQ(ReadFile(site + "/" + remote), bytes);
    EXPECT_EQ(Listing(site + "/\xE5\x9B\xBE\xE7\x89\x87/2024"),
              std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87 \xE5\x9B\xBE.png"});

    const auto found = transport->Look(remote, message);
    ASSERT_TRUE(found) << message;
    EXPECT_TRUE(found->exists);
    EXPECT_EQ(found->size, bytes.size());
    for (const char* absent : {"\xE5\x9B\xBE\xE7\x89\x87/none.png", "no/such/folder.png"}) {
        const auto missing = transport->Look(absent, message);
        ASSERT_TRUE(missing) << message;
        EXPECT_FALSE(missing->exists) << absent;
    }
    const auto fetched = transport->Fetch(remote, message);
    ASSERT_TRUE(fetched) << message;
    EXPECT_EQ(*fetched, bytes);
    EXPECT_FALSE(transport->Fetch("\xE5\x9B\xBE\xE7\x89\x87/none.png", message));
    EXPECT_TRUE(Contains(message, target.name)) << message;

    // Other bytes under the same name: refused, the file stays, no part is left.
    const UploadResult again = transport->Upload(LocalFile("b.png", "other"), remote, {});
    EXPECT_EQ(again.status, UploadStatus::Failed);
    EXPECT_TRUE(Contains(again.message, target.name)) << again.message;
    EXPECT_EQ(ReadFile(site + "/" + remote), bytes);
    EXPECT_EQ(Listing(site + "/\xE5\x9B\xBE\xE7\x89\x87/2024").size(), 1u);
}

TEST_F(FtpTransportTest, AStopMidUploadLeavesNothingUnderTheFinalName) {
    VsftpdServer server(FtpSecurity::Plain);
    ASSERT_TRUE(server.started()) << server.error();
    credentials_.password = "s3cret";
    auto transport = MakeFtpTransport(SiteTarget(server, "ftp"), credentials_);
    const std::string bytes = RandomBytes(64 << 20, 2);
    const std::string local = LocalFile("big.bin", bytes);
    const std::string site = server.uploads() + "/site";
    std::stop_source stop;
    std::thread watcher([&] {
        const std::string part = site + "/a/.big.bin.zembrat-part";
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
    EXPECT_EQ(Listing(site + "/a"), std::vector<std::string>{});
    EXPECT_EQ(transport->Upload(LocalFile("s.bin", "small"), "a/s.bin", {}).status,
              UploadStatus::Uploaded);
    EXPECT_EQ(ReadFile(site + "/a/s.bin"), "small");
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
