// A prune's moves repeated on a publish target, through the mirror the console opens, against
// each real server of the suite: only this program's copies with the local bytes are set aside,
// a restore brings them back (refusing a name that came back with other bytes), a trash is
// emptied, and anything else on the server is never touched.
#include "cli/prune_mirror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "publish/target_url.h"
#include "record/run_record.h"
#include "support/publish_sites.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "text/crc32.h"

namespace zembrat::cli {
namespace {

using namespace text::literals;
using job::TrashStepEnd;
using testing::SiteKind;

const std::string kStamp1 = "20261210-143000";
const std::string kStamp2 = "20261210-150000";
// The stored images (as the record names them, GBK) and their bytes.
const std::string kFigure = "files/img/图.png"_gbk;
const std::string kFigureRemote = "files/img/图.png";  // on the server, UTF-8
const std::map<std::string, std::string> kImages = {{kFigure, "\x89PNG the figure"},
                                                    {"files/img/b.png", "\x89PNG bee"},
                                                    {"files/img/c.png", "\x89PNG sea"}};

struct Rows : publish::PublishObserver {
    void ItemsListed(const std::vector<publish::PublishItem>& listed,
                     const publish::Target&) override {
        items = &listed;
    }
    void ItemSettled(std::size_t index, const publish::PublishRow& row) override {
        outcomes[(*items)[index].remotePath] = row.outcome;
    }
    const std::vector<publish::PublishItem>* items = nullptr;
    std::map<std::string, publish::PublishOutcome> outcomes;
};

class PruneMirrorTest : public ::testing::TestWithParam<SiteKind> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(site.started()) << site.error();
        result = dir / "转存结果"_gbk;
        for (const auto& [path, bytes] : kImages) dir.Write("转存结果/"_gbk + path, bytes);
        record::RunRecord record;
        ASSERT_NE(record.Open(result), record::OpenResult::Failed) << record.Message();
        record.Begin();
        for (const auto& [path, bytes] : kImages) {
            record.PutImage({"http://web.example.com/" + path, path, bytes.size(),
                             text::Crc32(bytes), "", "", record::Outcome::Stored, 1});
        }
        ASSERT_TRUE(record.Commit());
        record.Close();
        ASSERT_EQ(Publish().size(), 3u);
    }

    publish::ResultPublishRequest Request() const {
        publish::ResultPublishRequest request;
        request.resultFolder = result;
        request.target = site.url();
        request.credentials = site.credentials();
        return request;
    }
    // Publishes the result's images: each one's outcome by its remote path.
    std::map<std::string, publish::PublishOutcome> Publish() const {
        Rows rows;
        const publish::ResultPublish published = publish::PublishResult(Request(), rows, {});
        EXPECT_TRUE(published.summary.connected) << published.summary.message;
        return rows.outcomes;
    }
    // Puts bytes on the server as someone else would: no manifest hears of it.
    void PutAsSomeoneElse(const std::string& remotePath, const std::string& bytes) {
        std::string error;
        const auto target = publish::ParseTargetUrl(site.url(), error);
        ASSERT_TRUE(target) << error;
        auto transport = publish::MakeTransport(*target, site.credentials());
        ASSERT_TRUE(transport->Connect(error)) << error;
        ASSERT_TRUE(transport->Delete(remotePath, error)) << error;
        const std::string file = dir.Write("someone-else", bytes);
        ASSERT_EQ(transport->Upload(file, remotePath, {}).status, publish::UploadStatus::Uploaded);
    }
    job::TrashFile File(const std::string& path) const {
        const std::string bytes = kImages.count(path) ? kImages.at(path) : "";
        return {path, result + "/" + path, bytes.size(), text::Crc32(bytes)};
    }
    static std::vector<TrashStepEnd> Ends(const std::vector<job::TrashStep>& steps) {
        std::vector<TrashStepEnd> ends;
        for (const job::TrashStep& step : steps) ends.push_back(step.end);
        return ends;
    }
    static std::string InTrash(const std::string& stamp, const std::string& remotePath) {
        return ".zembrat-trash/" + stamp + "/" + remotePath;
    }
    bool HasStamp(job::TrashMirror& mirror, const std::string& stamp) {
        std::string error;
        const std::vector<std::string> stamps = mirror.Stamps(error);
        EXPECT_EQ(error, "");
        return std::find(stamps.begin(), stamps.end(), stamp) != stamps.end();
    }

    testing::TempDir dir;
    testing::PublishSite site{GetParam(), dir.path()};
    std::string result;
};

TEST_P(PruneMirrorTest, SetsAsideRestoresEmptiesAndNeverTouchesWhatIsNotItsOwn) {
    // Someone else's bytes under a published name, and a file this program never published.
    const std::string otherC = "someone's own sea";
    PutAsSomeoneElse("files/img/c.png", otherC);
    PutAsSomeoneElse("files/img/other.png", "someone's file");
    dir.Write("elsewhere/other.png", "someone's file");

    std::string error;
    const std::unique_ptr<job::TrashMirror> mirror = OpenPruneMirror(Request(), error);
    ASSERT_TRUE(mirror) << error;
    EXPECT_NE(site.url().find(mirror->Name()), std::string::npos) << mirror->Name();

    // Set aside: only the copy published with the local bytes moves.
    job::TrashFile other = File("files/img/other.png");
    other.localFile = dir / "elsewhere/other.png";
    const auto aside =
        mirror->SetAside(kStamp1, {File(kFigure), File("files/img/c.png"), other}, {});
    ASSERT_EQ(Ends(aside),
              (std::vector{TrashStepEnd::Done, TrashStepEnd::Skipped, TrashStepEnd::Skipped}))
        << aside[0].reason << " | " << aside[1].reason << " | " << aside[2].reason;
    EXPECT_EQ(aside[0].path, kFigure);
    EXPECT_NE(aside[1].reason.find("other bytes"), std::string::npos) << aside[1].reason;
    EXPECT_NE(aside[2].reason.find("not published there"), std::string::npos) << aside[2].reason;
    EXPECT_EQ(site.Read(kFigureRemote), std::nullopt);
    EXPECT_EQ(site.Read(InTrash(kStamp1, kFigureRemote)), kImages.at(kFigure));
    EXPECT_EQ(site.Read("files/img/c.png"), otherC);
    EXPECT_EQ(site.Read("files/img/other.png"), "someone's file");
    EXPECT_EQ(mirror->Stamps(error), std::vector<std::string>{kStamp1}) << error;

    // The manifest forgot it: a publish sends it again.
    auto outcomes = Publish();
    EXPECT_EQ(outcomes[kFigureRemote], publish::PublishOutcome::Uploaded);
    EXPECT_EQ(outcomes["files/img/b.png"], publish::PublishOutcome::Published);
    // Restored where its name came back with the same bytes: the trash's copy goes.
    EXPECT_EQ(Ends(mirror->Restore(kStamp1, {File(kFigure)}, {})), std::vector{TrashStepEnd::Done});
    EXPECT_EQ(site.Read(kFigureRemote), kImages.at(kFigure));
    EXPECT_EQ(site.Read(InTrash(kStamp1, kFigureRemote)), std::nullopt);

    // Set aside again, then the figure's name comes back with other bytes: refused, the trash
    // keeps its copy; the other file is brought back and kept in the manifest again.
    ASSERT_EQ(Ends(mirror->SetAside(kStamp2, {File("files/img/b.png"), File(kFigure)}, {})),
              (std::vector{TrashStepEnd::Done, TrashStepEnd::Done}));
    PutAsSomeoneElse(kFigureRemote, "a new figure by someone");
    const auto back = mirror->Restore(kStamp2, {File("files/img/b.png"), File(kFigure)}, {});
    ASSERT_EQ(Ends(back), (std::vector{TrashStepEnd::Done, TrashStepEnd::Refused}))
        << back[0].reason << " | " << back[1].reason;
    EXPECT_NE(back[1].reason.find("other bytes"), std::string::npos) << back[1].reason;
    EXPECT_EQ(site.Read("files/img/b.png"), kImages.at("files/img/b.png"));
    EXPECT_EQ(site.Read(InTrash(kStamp2, "files/img/b.png")), std::nullopt);
    EXPECT_EQ(site.Read(kFigureRemote), "a new figure by someone");
    EXPECT_EQ(site.Read(InTrash(kStamp2, kFigureRemote)), kImages.at(kFigure));
    outcomes = Publish();
    EXPECT_EQ(outcomes["files/img/b.png"], publish::PublishOutcome::Published);
    EXPECT_EQ(outcomes[kFigureRemote], publish::PublishOutcome::Conflict);

    // Emptied: the trash's files go, the trash with them; the rest stays.
    EXPECT_TRUE(HasStamp(*mirror, kStamp2));
    const auto emptied = mirror->Empty(kStamp2, {});
    ASSERT_EQ(emptied.size(), 1u);
    EXPECT_EQ(emptied[0].path, kFigure);
    EXPECT_EQ(emptied[0].end, TrashStepEnd::Done) << emptied[0].reason;
    EXPECT_EQ(site.Read(InTrash(kStamp2, kFigureRemote)), std::nullopt);
    EXPECT_FALSE(HasStamp(*mirror, kStamp2));
    for (const job::TrashStep& step : mirror->Empty(kStamp1, {}))
        EXPECT_EQ(step.end, TrashStepEnd::Done) << step.reason;
    EXPECT_EQ(mirror->Stamps(error), std::vector<std::string>{}) << error;
    EXPECT_EQ(site.Read("files/img/c.png"), otherC);
    EXPECT_EQ(site.Read("files/img/other.png"), "someone's file");
    EXPECT_EQ(site.Read(kFigureRemote), "a new figure by someone");
}

// A date and time that is no trash's is never made into a path on the server.
TEST_P(PruneMirrorTest, ATrashIsNamedByItsDateAndTimeOnly) {
    std::string error;
    const std::unique_ptr<job::TrashMirror> mirror = OpenPruneMirror(Request(), error);
    ASSERT_TRUE(mirror) << error;
    for (const std::string stamp : {"../../x", "20261210", "2026121a-143000"}) {
        const auto steps = mirror->SetAside(stamp, {File(kFigure)}, {});
        ASSERT_EQ(Ends(steps), std::vector{TrashStepEnd::Failed}) << stamp;
        EXPECT_EQ(site.Read(kFigureRemote), kImages.at(kFigure));
        EXPECT_EQ(Ends(mirror->Empty(stamp, {})), std::vector{TrashStepEnd::Failed});
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, PruneMirrorTest,
                         ::testing::Values(SiteKind::Sftp, SiteKind::Ftp, SiteKind::S3,
                                           SiteKind::Dav),
                         [](const ::testing::TestParamInfo<SiteKind>& info) {
                             return std::string(testing::SiteKindName(info.param));
                         });

TEST(PruneMirrorOpening, ATargetNotKeptNorAnAddressIsNamedInTheError) {
    testing::TempDir dir;
    publish::ResultPublishRequest request;
    request.resultFolder = dir.path();
    request.target = "no-such-target";
    std::string error;
    EXPECT_EQ(OpenPruneMirror(request, error), nullptr);
    EXPECT_NE(error.find("no-such-target"), std::string::npos) << error;
}

}  // namespace
}  // namespace zembrat::cli
