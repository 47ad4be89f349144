// The publish runner over a transport that keeps its files in memory: what is sent, skipped,
// left alone and told, whatever protocol is below. The real transports have their own tests
// against real servers.
#include "publish/publish_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>

#include "support/temp_dir.h"
#include "text/digest.h"

namespace zembrat::publish {
namespace {

// The server side all fake transports share.
struct FakeServer {
    std::mutex mutex;
    std::map<std::string, std::string> files;
    std::atomic<int> made{0}, connected{0}, running{0}, mostAtOnce{0}, uploads{0};
    bool refuseLogin = false;
    std::stop_source* stopAfterFirstUpload = nullptr;
    bool lists = false;        // the transports list folders
    bool keepsUploads = true;  // false: an upload is answered as done, and nothing is kept
    std::atomic<int> looks{0}, listings{0};
};

class FakeTransport : public Transport {
  public:
    explicit FakeTransport(FakeServer& server) : server_(server) { ++server_.made; }
    bool Connect(std::string& message) override {
        if (server_.refuseLogin) {
            message = "site: the password was refused";
            return false;
        }
        ++server_.connected;
        return true;
    }
    std::optional<RemoteFile> Look(const std::string& path, std::string&) override {
        ++server_.looks;
        std::lock_guard lock(server_.mutex);
        const auto it = server_.files.find(path);
        if (it == server_.files.end()) return RemoteFile{};
        return RemoteFile{true, it->second.size()};
    }
    std::optional<std::map<std::string, RemoteFile>> Listing(const std::string& folder,
                                                             std::string&) override {
        if (!server_.lists) return std::nullopt;
        ++server_.listings;
        std::lock_guard lock(server_.mutex);
        std::map<std::string, RemoteFile> files;
        for (const auto& [path, bytes] : server_.files)
            if (path.starts_with(folder) && path.find('/', folder.size()) == std::string::npos)
                files[path.substr(folder.size())] = RemoteFile{true, bytes.size()};
        return files;
    }
    std::optional<std::string> Fetch(const std::string& path, std::string&) override {
        std::lock_guard lock(server_.mutex);
        return server_.files.at(path);
    }
    using Transport::Upload;
    UploadResult Upload(const std::string& local, const std::string& path, const ServedAs&,
                        std::stop_token stop) override {
        const int now = ++server_.running;
        for (int seen = server_.mostAtOnce;
             now > seen && !server_.mostAtOnce.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --server_.running;
        if (stop.stop_requested()) return {UploadStatus::Stopped, 0, {}};
        const std::string bytes = zembrat::testing::ReadFileOrMissing(local);
        if (server_.keepsUploads) {
            std::lock_guard lock(server_.mutex);
            server_.files[path] = bytes;
        }
        if (++server_.uploads == 1 && server_.stopAfterFirstUpload)
            server_.stopAfterFirstUpload->request_stop();
        return {UploadStatus::Uploaded, bytes.size(), {}};
    }

  private:
    FakeServer& server_;
};

class MemoryManifest : public PublishManifest {
  public:
    std::optional<ManifestEntry> Find(const std::string& target, const std::string& path) override {
        const auto it = entries.find(target + "|" + path);
        if (it == entries.end()) return std::nullopt;
        return it->second;
    }
    bool Put(const std::string& target,
             const std::vector<std::pair<std::string, ManifestEntry>>& published) override {
        for (const auto& [path, entry] : published) entries[target + "|" + path] = entry;
        return true;
    }
    std::map<std::string, ManifestEntry> entries;
};

struct Told : PublishObserver {
    void ItemBegins(std::size_t i) override { begun.push_back(i); }
    void ItemSettled(std::size_t i, const PublishRow& row) override {
        settled[i] = PublishOutcomeText(row.outcome);
    }
    std::vector<std::size_t> begun;
    std::map<std::size_t, std::string> settled;
};

class PublishRunTest : public ::testing::Test {
  protected:
    void MakeFiles(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "images/" + std::to_string(i) + ".png";
            items.push_back({dir.Write(name, "png-" + std::to_string(i)), name, {"a.htm"}});
        }
    }
    PublishSummary Run(std::stop_token stop = {}, PublishOptions options = {}) {
        told = Told{};
        return Publish(
            items, "site", [&] { return std::make_unique<FakeTransport>(server); }, &manifest, told,
            options, stop);
    }
    zembrat::testing::TempDir dir;
    FakeServer server;
    MemoryManifest manifest;
    Told told;
    std::vector<PublishItem> items;
};

TEST_F(PublishRunTest, SendsNewFilesFourAtOnceAndAfterwardsAsksNothing) {
    MakeFiles(12);
    const PublishSummary first = Run();
    EXPECT_EQ(first.Count(PublishOutcome::Uploaded), 12u);
    EXPECT_EQ(server.files.at("images/3.png"), "png-3");
    EXPECT_LE(server.mostAtOnce, 4);
    EXPECT_GE(server.mostAtOnce, 2);
    EXPECT_EQ(told.settled.size(), 12u);
    EXPECT_EQ(manifest.entries.size(), 12u);

    // Published before with the same bytes: no transport is even made.
    const int made = server.made;
    const PublishSummary second = Run();
    EXPECT_EQ(second.Count(PublishOutcome::Published), 12u);
    EXPECT_EQ(server.made, made);

    // A file changed locally under the same name is looked at again: the server's other bytes
    // are a conflict, left as they are, and the articles using it are named.
    dir.Write("images/3.png", "changed");
    const PublishSummary third = Run();
    EXPECT_EQ(third.rows[3].outcome, PublishOutcome::Conflict);
    EXPECT_NE(third.rows[3].message.find("a.htm"), std::string::npos);
    EXPECT_EQ(server.files.at("images/3.png"), "png-3");
    EXPECT_EQ(third.Count(PublishOutcome::Published), 11u);
}

TEST_F(PublishRunTest, AsManyUploadsAtOnceAsAskedUpToThirtyTwo) {
    MakeFiles(200);
    PublishOptions many;
    many.atOnce = 12;
    EXPECT_EQ(Run({}, many).Count(PublishOutcome::Uploaded), 200u);
    EXPECT_LE(server.mostAtOnce, 12);
    EXPECT_GT(server.mostAtOnce, 4);
    EXPECT_EQ(server.made, 12);
    items.clear();
    manifest.entries.clear();
    server.made = 0;
    MakeFiles(40);
    many.atOnce = 100;  // no more than 32
    Run({}, many);
    EXPECT_EQ(server.made, 32);
}

TEST_F(PublishRunTest, ManyFilesEachKeepTheirOwnDigestAndAMissingOneFailsAlone) {
    MakeFiles(300);
    std::filesystem::remove(items[150].localFile);
    const PublishSummary first = Run();
    EXPECT_EQ(first.Count(PublishOutcome::Uploaded), 299u);
    EXPECT_EQ(first.rows[150].outcome, PublishOutcome::Failed);
    EXPECT_NE(first.rows[150].message.find(items[150].localFile), std::string::npos);
    ASSERT_EQ(manifest.entries.size(), 299u);
    for (const int i : {0, 149, 151, 299}) {
        const ManifestEntry& kept = manifest.entries.at("site|" + items[i].remotePath);
        EXPECT_EQ(kept.md5, text::Md5Hex("png-" + std::to_string(i)));
        EXPECT_EQ(kept.size, ("png-" + std::to_string(i)).size());
    }
    // Changed far apart: only those are looked at again.
    dir.Write("images/7.png", "changed");
    dir.Write("images/280.png", "changed");
    const PublishSummary second = Run();
    EXPECT_EQ(second.Count(PublishOutcome::Published), 297u);
    EXPECT_EQ(second.rows[7].outcome, PublishOutcome::Conflict);
    EXPECT_EQ(second.rows[280].outcome, PublishOutcome::Conflict);
}

TEST_F(PublishRunTest, SameBytesAlreadyOnTheServerAreNotSentAndAreKept) {
    MakeFiles(2);
    server.files["images/0.png"] = "png-0";
    server.files["images/1.png"] = "other";
    const PublishSummary summary = Run();
    EXPECT_EQ(summary.rows[0].outcome, PublishOutcome::AlreadyThere);
    EXPECT_EQ(summary.rows[1].outcome, PublishOutcome::Conflict);
    EXPECT_EQ(server.uploads, 0);
    EXPECT_TRUE(manifest.entries.contains("site|images/0.png"));
    EXPECT_FALSE(manifest.entries.contains("site|images/1.png"));
}

TEST_F(PublishRunTest, ARefusedLoginFailsEveryFileWithTheTargetsMessage) {
    MakeFiles(3);
    server.refuseLogin = true;
    const PublishSummary summary = Run();
    EXPECT_FALSE(summary.connected);
    EXPECT_EQ(summary.message, "site: the password was refused");
    EXPECT_EQ(summary.Count(PublishOutcome::Failed), 3u);
    EXPECT_EQ(summary.rows[2].message, summary.message);
    EXPECT_TRUE(manifest.entries.empty());
}

TEST_F(PublishRunTest, AStopLeavesTheRestUnsentAndKeepsWhatWasSent) {
    MakeFiles(20);
    std::stop_source stop;
    server.stopAfterFirstUpload = &stop;
    PublishOptions one;
    one.atOnce = 1;
    const PublishSummary summary = Run(stop.get_token(), one);
    EXPECT_EQ(summary.Count(PublishOutcome::Uploaded), 1u);
    EXPECT_EQ(summary.Count(PublishOutcome::Stopped), 19u);
    EXPECT_EQ(told.settled.size(), 20u);
    EXPECT_EQ(manifest.entries.size(), 1u);
}

}  // namespace
}  // namespace zembrat::publish

namespace zembrat::publish {
namespace {

TEST_F(PublishRunTest, AFileUnchangedSinceItWasPublishedIsNotReadAgain) {
    MakeFiles(2);
    // The manifest's entries name other digests: only a file that is read can tell.
    const std::int64_t later = static_cast<std::int64_t>(std::time(nullptr)) + 60;
    manifest.entries["site|images/0.png"] = {5, "not-its-digest", later};  // published after
    manifest.entries["site|images/1.png"] = {5, "not-its-digest", 0};      // time not known
    const PublishSummary summary = Run();
    EXPECT_EQ(summary.rows[0].outcome, PublishOutcome::Published);
    EXPECT_EQ(summary.rows[1].outcome, PublishOutcome::Uploaded);  // read, so found changed
}

}  // namespace
}  // namespace zembrat::publish

namespace zembrat::publish {
namespace {

// Where the transports list folders, each folder is listed once before the uploads and once after
// them, in place of a look per file before and after each upload; what is found is told apart
// as without listings, and an upload counts only once it is found there.
TEST_F(PublishRunTest, AListedFolderTakesTheLooksOfItsFilesBeforeAndAfterTheUploads) {
    for (const bool lists : {false, true}) {
        for (const bool keeps : {true, false}) {
            SCOPED_TRACE(std::string(lists ? "listed" : "looked at") + (keeps ? "" : ", not kept"));
            server.files.clear();
            server.looks = server.listings = server.uploads = 0;
            server.lists = lists;
            server.keepsUploads = keeps;
            manifest.entries.clear();
            items.clear();
            MakeFiles(12);
            server.files["images/0.png"] = "png-0";
            server.files["images/1.png"] = "other";
            const PublishSummary summary = Run();
            EXPECT_EQ(summary.rows[0].outcome, PublishOutcome::AlreadyThere);
            EXPECT_EQ(summary.rows[1].outcome, PublishOutcome::Conflict);
            EXPECT_EQ(summary.Count(keeps ? PublishOutcome::Uploaded : PublishOutcome::Failed),
                      10u);
            EXPECT_EQ(told.settled.size(), 12u);
            EXPECT_EQ(server.uploads, 10);
            EXPECT_EQ(manifest.entries.size(), keeps ? 11u : 1u);
            if (!keeps) {
                EXPECT_NE(summary.rows[5].message.find("a look finds nothing"), std::string::npos)
                    << summary.rows[5].message;
            }
            // Listed: one listing before, one after; only what they did not find is looked at.
            EXPECT_EQ(server.listings, lists ? 2 : 0);
            EXPECT_EQ(server.looks, lists ? (keeps ? 0 : 10) : 22);
        }
    }
}

}  // namespace
}  // namespace zembrat::publish
