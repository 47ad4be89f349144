#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "publish/protocol_transports.h"
#include "support/dav_server.h"
#include "support/temp_dir.h"
#include "upload_helpers.h"

namespace zembrat::testing {
// Names the server in a failed case's line.
void PrintTo(DavKind kind, std::ostream* out) {
    *out << (kind == DavKind::Nginx      ? "nginx"
             : kind == DavKind::NginxTls ? "nginx over TLS"
                                         : "rclone");
}
}  // namespace zembrat::testing

namespace zembrat::publish {
namespace {

using testing::DavKind;

class DavTransportTest : public ::testing::TestWithParam<DavKind> {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.started()) << server_.error(); }

    Target MakeTarget() const {
        Target target;
        target.name = "my-dav";
        target.protocol = GetParam() == DavKind::NginxTls ? Protocol::Davs : Protocol::Dav;
        target.caFile = server_.caFile();
        target.host = "127.0.0.1";
        target.port = server_.port();
        target.user = server_.user();
        target.path = "/site/";
        return target;
    }
    std::unique_ptr<Transport> Connected(const Credentials& credentials) {
        auto transport = MakeDavTransport(MakeTarget(), credentials);
        std::string message;
        EXPECT_TRUE(transport->Connect(message)) << message;
        return transport;
    }
    std::string OnServer(const std::string& path) const {
        return testing::ReadWholeFile(server_.root() + path);
    }
    // Files whose name tells a temporary upload, anywhere in the served folder.
    int PartFiles() const {
        int parts = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(server_.root()))
            parts += entry.path().filename().string().ends_with(".zembrat-part");
        return parts;
    }

    testing::DavServer server_{GetParam()};
    testing::TempDir local_;
};

TEST_P(DavTransportTest, UploadsIntoFoldersItMakesUnderChineseNames) {
    auto transport = Connected({local_.path(), server_.password(), false});
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(7000, 'x');
    const std::string gif = "GIF89a" + std::string(64, '\1');
    const std::string first = "图片/2024/猫 咪+1.png";
    const std::string second = "图片/2024/夜/b.gif";
    // The local name is bytes as the disk has them (GBK here), the remote one UTF-8.
    const std::string gbkName = local_.path() + "/\xCD\xBC.png";
    UploadResult result = transport->Upload(WriteFile(gbkName, png), first, {});
    EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
    EXPECT_EQ(result.bytes, png.size());
    result = transport->Upload(WriteFile(local_ / "b", gif), second, {});
    EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
    EXPECT_EQ(OnServer("/site/" + first), png);
    EXPECT_EQ(OnServer("/site/" + second), gif);
    EXPECT_EQ(PartFiles(), 0);

    std::string message;
    const auto found = transport->Look(first, message);
    ASSERT_TRUE(found.has_value()) << message;
    EXPECT_TRUE(found->exists);
    EXPECT_EQ(found->size, png.size());
    EXPECT_EQ(transport->Fetch(second, message), gif) << message;
    const auto absent = transport->Look("图片/none.png", message);
    ASSERT_TRUE(absent.has_value()) << message;
    EXPECT_FALSE(absent->exists);

    // The login from ~/.netrc when no password is given.
    testing::TempDir home;
    home.Write(".netrc", "machine 127.0.0.1 login " + server_.user() + " password " +
                             server_.password() + "\n");
    auto fromNetrc = Connected({home.path(), "", false});
    EXPECT_EQ(fromNetrc->Upload(local_ / "b", "c.gif", {}).status, UploadStatus::Uploaded);
    EXPECT_EQ(OnServer("/site/c.gif"), gif);
    // A ~/.netrc others may write is not used, and the fix is named.
    const std::string netrc = home.path() + "/.netrc";
    ASSERT_EQ(::chmod(netrc.c_str(), 0666), 0);
    std::string refused;
    EXPECT_FALSE(MakeDavTransport(MakeTarget(), {home.path(), "", false})->Connect(refused));
    EXPECT_EQ(refused, "\"my-dav\": " + netrc +
                           " is writable by others (0666): anyone could change the logins it "
                           "gives, so it is not used; make it the owner's alone with: chmod 600 " +
                           netrc);
}

TEST_P(DavTransportTest, AFileAlreadyThereIsNeverOverwritten) {
    std::filesystem::create_directories(server_.root() + "/site/img");
    WriteFile(server_.root() + "/site/img/taken.png", "the old bytes");
    auto transport = Connected({local_.path(), server_.password(), false});
    const UploadResult result =
        transport->Upload(WriteFile(local_ / "new", "other bytes"), "img/taken.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_NE(result.message.find("\"my-dav\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("not overwritten"), std::string::npos) << result.message;
    EXPECT_EQ(OnServer("/site/img/taken.png"), "the old bytes");
    EXPECT_EQ(PartFiles(), 0);
}

TEST_P(DavTransportTest, ARefusedPasswordIsTold) {
    auto transport = MakeDavTransport(MakeTarget(), {local_.path(), "wrong", false});
    std::string message;
    EXPECT_FALSE(transport->Connect(message));
    EXPECT_EQ(message, "\"my-dav\": the user name or password was refused");
    const UploadResult result = transport->Upload(WriteFile(local_ / "a", "abc"), "a.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_NE(result.message.find("password was refused"), std::string::npos) << result.message;
    EXPECT_FALSE(std::filesystem::exists(server_.root() + "/site"));

    // No password and no ~/.netrc.
    EXPECT_FALSE(MakeDavTransport(MakeTarget(), {local_.path(), "", false})->Connect(message));
    EXPECT_EQ(message, "\"my-dav\": the server asks for a password: none was given, and " +
                           local_.path() + "/.netrc cannot be read");
}

TEST_P(DavTransportTest, AStopLeavesNothingUnderTheFinalName) {
    auto transport = Connected({local_.path(), server_.password(), false});
    const UploadResult result = UploadStoppedMidway(*transport, local_ / "big", "大/big.png", [&] {
        return testing::LargestFileBelow(server_.folder());
    });
    EXPECT_EQ(result.status, UploadStatus::Stopped) << result.message;
    EXPECT_LT(result.bytes, kBigFile);
    EXPECT_FALSE(std::filesystem::exists(server_.root() + "/site/大/big.png"));
    EXPECT_EQ(PartFiles(), 0);
}

// A publish killed between an upload and its move leaves a part: the next upload into that
// folder removes the parts older than an hour (where the server lists its folders), and only
// those; a 250-byte name, as long as the server's file system takes, has a part it takes too.
TEST_P(DavTransportTest, StalePartsAreSweptAndALongNameHasAPartThatFits) {
    namespace fs = std::filesystem;
    const std::string folder = server_.root() + "/site/a/";
    fs::create_directories(folder);
    const std::string stale = PartName("left by a killed publish.png");
    const std::string fresh = PartName("being moved now.png");
    WriteFile(folder + stale, "part");
    WriteFile(folder + fresh, "part");
    WriteFile(folder + ".notes.zembrat-part", "not a part name of ours");
    fs::last_write_time(folder + stale, fs::file_time_type::clock::now() - std::chrono::hours(48));
    auto transport = Connected({local_.path(), server_.password(), false});
    const std::string longName = std::string(246, 'n') + ".htm";
    const UploadResult result =
        transport->Upload(WriteFile(local_ / "long", "article"), "a/" + longName, {});
    EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
    EXPECT_EQ(OnServer("/site/a/" + longName), "article");
    EXPECT_TRUE(fs::exists(folder + fresh));
    EXPECT_TRUE(fs::exists(folder + ".notes.zembrat-part"));
    // nginx's WebDAV listing leaves out every name that starts with ".", a part's too: its parts
    // stay until their file is sent again.
    if (GetParam() == DavKind::Rclone) {
        EXPECT_FALSE(fs::exists(folder + stale));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, DavTransportTest,
                         ::testing::Values(DavKind::Nginx, DavKind::NginxTls, DavKind::Rclone),
                         [](const auto& info) {
                             return info.param == DavKind::Nginx      ? "Nginx"
                                    : info.param == DavKind::NginxTls ? "NginxTls"
                                                                      : "Rclone";
                         });

TEST(DavTransportMessages, AnUntrustedCertificateAndAClosedPortAreTold) {
    testing::DavServer server(DavKind::NginxTls);
    ASSERT_TRUE(server.started()) << server.error();
    Target target;
    target.name = "site";
    target.protocol = Protocol::Davs;
    target.host = "127.0.0.1";
    target.port = server.port();
    std::string message;
    EXPECT_FALSE(MakeDavTransport(target, {"", "pass", false})->Connect(message));
    EXPECT_EQ(message, "\"site\": the server's certificate is not trusted");

    target.protocol = Protocol::Dav;
    target.port = testing::FreeLoopbackPort();
    auto closed = MakeDavTransport(target, {"", "pass", false});
    EXPECT_FALSE(closed->Connect(message));
    EXPECT_EQ(message, "\"site\": the host is unreachable or refused the connection");
    testing::TempDir local;
    const UploadResult result = closed->Upload(WriteFile(local / "a", "abc"), "a/b.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_NE(result.message.find("refused the connection"), std::string::npos) << result.message;
}

}  // namespace
}  // namespace zembrat::publish
