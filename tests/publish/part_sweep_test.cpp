// The parts an earlier killed publish left are swept by the next upload into their folder, on
// every protocol that writes parts (SFTP, FTP, WebDAV), against the real servers: only stale
// parts go, a fresh one (a publish still running) and every other file stay. (WebDAV over rclone:
// nginx's listing leaves out every name that starts with ".", as a part's does.)
#include "publish/part_sweep.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "publish/protocol_transports.h"
#include "support/publish_sites.h"
#include "support/temp_dir.h"

namespace zembrat::publish {
namespace {

namespace fs = std::filesystem;
using testing::SiteKind;

class PartSweepTest : public ::testing::TestWithParam<SiteKind> {
  protected:
    void SetUp() override { ASSERT_TRUE(site.started()) << site.error(); }

    std::unique_ptr<Transport> Connected() {
        std::string error;
        const auto target = ParseTargetUrl(site.url(), error);
        EXPECT_TRUE(target) << error;
        auto transport = MakeTransport(target.value_or(Target{}), site.credentials());
        EXPECT_TRUE(transport->Connect(error)) << error;
        return transport;
    }
    // A file on the server's disk below the site, last changed that long ago (its folders made
    // for anyone to write, the FTP server's own user too).
    void OnDisk(const std::string& path, std::chrono::seconds age) const {
        const fs::path file = site.disk() + "/" + path;
        fs::create_directories(file.parent_path());
        for (fs::path folder = file.parent_path(); folder.string().size() >= site.disk().size();
             folder = folder.parent_path())
            fs::permissions(folder, fs::perms::all);
        std::ofstream(file, std::ios::binary) << "a part left behind";
        fs::last_write_time(file, fs::file_time_type::clock::now() - age);
    }
    std::string Upload(Transport& transport, const std::string& remotePath) {
        const std::string file = local.Write("f.png", "an image");
        const UploadResult result = transport.Upload(file, remotePath, {});
        EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
        return file;
    }

    testing::TempDir local;
    testing::PublishSite site{GetParam(), local.path()};
};

TEST_P(PartSweepTest, TheNextUploadIntoAFolderSweepsItsStalePartsOnly) {
    const std::string stale = PartName("killed.png");
    const std::string fresh = PartName("running.png");
    const std::string elsewhere = PartName("other-folder.png");
    OnDisk("files/img/" + stale, std::chrono::hours(2));
    OnDisk("files/img/" + fresh, std::chrono::minutes(5));
    OnDisk("files/img/old.png", std::chrono::hours(48));
    OnDisk("files/img/.not-a-part.zembrat-part", std::chrono::hours(48));
    OnDisk(elsewhere, std::chrono::hours(2));  // the base: no upload goes there

    Upload(*Connected(), "files/img/second.png");
    EXPECT_EQ(site.Read("files/img/" + stale), std::nullopt);
    for (const std::string& kept : {"files/img/" + fresh, std::string("files/img/old.png"),
                                    std::string("files/img/.not-a-part.zembrat-part"), elsewhere,
                                    std::string("files/img/second.png")})
        EXPECT_NE(site.Read(kept), std::nullopt) << kept;
}

INSTANTIATE_TEST_SUITE_P(Servers, PartSweepTest,
                         ::testing::Values(SiteKind::Sftp, SiteKind::Ftp, SiteKind::RcloneDav),
                         [](const ::testing::TestParamInfo<SiteKind>& info) {
                             return std::string(testing::SiteKindName(info.param));
                         });

}  // namespace
}  // namespace zembrat::publish
