// A prune over a real site: runs in-process against a loopback image server, real files and the
// run record they keep; the target's side through a recording mirror.
#include "job/prune.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "platform/files.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "support/tmpfs_mount.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::TempDir;
namespace fs = std::filesystem;

// What a mirror was asked, call by call: the target's side as this program's own seam.
struct RecordingMirror : TrashMirror {
    struct Call {
        std::string what, stamp;
        std::vector<TrashFile> files;
    };
    std::string Name() const override { return "recorded"; }
    std::vector<TrashStep> SetAside(const std::string& stamp, const std::vector<TrashFile>& files,
                                    std::stop_token) override {
        return Steps("set aside", stamp, files);
    }
    std::vector<TrashStep> Restore(const std::string& stamp, const std::vector<TrashFile>& files,
                                   std::stop_token) override {
        return Steps("restore", stamp, files);
    }
    std::vector<std::string> Stamps(std::string&) override { return stamps; }
    std::vector<TrashStep> Empty(const std::string& stamp, std::stop_token) override {
        calls.push_back({"empty", stamp, {}});
        return {{stamp + "/x.png", TrashStepEnd::Done, {}}};
    }
    std::vector<TrashStep> Steps(const char* what, const std::string& stamp,
                                 const std::vector<TrashFile>& files) {
        calls.push_back({what, stamp, files});
        std::vector<TrashStep> steps;
        for (const TrashFile& f : files) steps.push_back({f.path, TrashStepEnd::Done, {}});
        return steps;
    }
    std::vector<Call> calls;
    std::vector<std::string> stamps;
};

std::set<std::string> Paths(const std::vector<TrashFile>& files) {
    std::set<std::string> paths;
    for (const TrashFile& f : files) paths.insert(f.path);
    return paths;
}

std::set<std::string> Paths(const TrashOutcome& outcome, TrashFileEnd end) {
    std::set<std::string> paths;
    for (const TrashEntry& e : outcome.files) {
        if (e.end == end) paths.insert(e.file.path);
    }
    return paths;
}

// A small site: articles (HTML, and one Markdown article whose front matter names an image) over
// images a loopback server hands out, each address's bytes changing with its version.
class Site {
  public:
    static constexpr int kArticles = 6;
    static constexpr int kImages = 14;

    Site() {
        web_.CreateRequest();
        web_.SetEventPoints(events_);
        inputs_.settings = {dir_ / "fs/site", "*.htm|*.md", "files/img", "", "new.site", ""};
        inputs_.options.incremental = true;
        for (int i = 0; i < kImages; ++i) Serve(i);
    }
    const std::string& Result() { return result_; }
    RunInputs& Inputs() { return inputs_; }

    std::string Address(int image) const {
        return server_.Url("/i" + std::to_string(image) + ".png");
    }
    std::string Bytes(int image, int version) const {
        return "\x89PNG\r\n\x1a\n image " + std::to_string(image) + " v" + std::to_string(version);
    }
    std::string StoredPath(int image, int version) const {
        return "files/img/" + ContentName(Bytes(image, version)) + ".png";
    }
    void Serve(int image) {
        server_.Set("/i" + std::to_string(image) + ".png",
                    Reply::Ok(Bytes(image, version_[image]), "image/png"));
    }
    void Write(int article) {
        std::string text;
        for (const int image : uses_[article])
            text += "<p><img src=\"" + Address(image) + "\"></p>\n";
        if (article == 0) {
            const std::string cover = cover_ ? "cover: " + Address(*cover_) + "\n" : "";
            text = "---\ntitle: t\n" + cover + "---\n" + text;
        }
        dir_.Write("fs/site/" + Name(article), text);
    }
    static std::string Name(int article) {
        return article == 0 ? "a0.md" : "a" + std::to_string(article) + ".htm";
    }
    // A run as a front end starts one; a refresh when an image changed.
    void Run(bool refresh) {
        inputs_.refresh = refresh;
        RunObserver none;
        const RunResult result = job::Run(inputs_, web_, events_, none, [](auto) {});
        ASSERT_EQ(result.end, RunEnd::Finished);
        ASSERT_EQ(result.counts.imagesFailed, 0u);
        result_ = result.resultFolder;
        for (int a = 0; a < kArticles; ++a) {
            for (const int image : uses_[a]) stored_[image] = version_[image];
        }
    }
    // The stored files an article uses: its images' and the cover's, as the last run stored them.
    std::set<std::string> Used() const {
        std::set<std::string> used;
        std::set<int> images(cover_ ? std::set<int>{*cover_} : std::set<int>{});
        for (const auto& uses : uses_) images.insert(uses.begin(), uses.end());
        for (const int image : images) {
            if (const auto v = stored_.find(image); v != stored_.end())
                used.insert(StoredPath(image, v->second));
        }
        return used;
    }
    std::set<std::string> Files() const {
        std::set<std::string> files;
        const fs::path images = platform::NativePath(result_ + "files/img");
        if (!fs::exists(images)) return files;
        for (const auto& e : fs::directory_iterator(images))
            files.insert("files/img/" + e.path().filename().string());
        return files;
    }

    std::vector<std::set<int>> uses_ = std::vector<std::set<int>>(kArticles);
    std::optional<int> cover_;
    std::map<int, int> version_;
    std::map<int, int> stored_;  // the version the last run that used it stored

  private:
    TempDir dir_;
    // In memory where it can be mounted, so that the record's syncs do not set the pace.
    testing::TmpfsMount memory_{dir_ / "fs", "size=64m"};
    HttpServer server_;
    testing::EventCounter events_;
    web::WebClient web_;
    RunInputs inputs_;
    std::string result_;
};

TrashOutcome Do(Site& site, TrashAction action, TrashMirror* mirror, bool force = false,
                int days = kTrashDaysKept) {
    TrashRequest request;
    request.action = action;
    request.inputs = site.Inputs();
    request.mirror = mirror;
    request.force = force;
    request.days = days;
    return DoTrash(request);
}

// Edits, runs, prunes and restores over and over: no image an article uses is ever moved, and
// every image none uses is moved by the next prune; the mirror is asked the very same files.
TEST(PruneCycles, NoImageInUseIsEverMovedAndEveryUnusedOneIs) {
    std::mt19937 random(20261210);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    Site site;
    RecordingMirror mirror;
    for (int a = 0; a < Site::kArticles; ++a) {
        site.uses_[a] = {pick(Site::kImages), pick(Site::kImages)};
        site.Write(a);
    }
    site.Run(false);
    std::size_t moved = 0, restored = 0, refusedOverBound = 0, refreshes = 0;
    constexpr int kCycles = 2000;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        // An edit: an article gains, loses or shares an image, or the cover changes; sometimes
        // an image changes on its server and the run refreshes.
        const int article = pick(Site::kArticles);
        std::set<int>& uses = site.uses_[article];
        bool refresh = false;
        switch (pick(6)) {
            case 0:
            case 1:
                uses.insert(pick(Site::kImages));
                break;
            case 2:
                if (!uses.empty()) uses.erase(std::next(uses.begin(), pick(int(uses.size()))));
                break;
            case 3: {
                const std::set<int>& other = site.uses_[pick(Site::kArticles)];
                if (!other.empty()) uses.insert(*std::next(other.begin(), pick(int(other.size()))));
                break;
            }
            case 4:
                site.cover_ = pick(3) == 0 ? std::nullopt : std::optional<int>(pick(Site::kImages));
                site.Write(0);
                break;
            case 5:
                // Now and then the whole site is rewritten: most of its images go at once.
                if (pick(12) == 0) {
                    for (int a = 0; a < Site::kArticles; ++a) {
                        site.uses_[a] = {pick(Site::kImages)};
                        site.Write(a);
                    }
                } else if (pick(4) == 0) {
                    const int image = pick(Site::kImages);
                    ++site.version_[image];
                    site.Serve(image);
                    refresh = true;
                    ++refreshes;
                }
                break;
        }
        site.Write(article);
        site.Run(refresh);
        if (::testing::Test::HasFatalFailure()) return;

        const std::set<std::string> used = site.Used();
        const std::set<std::string> before = site.Files();
        std::set<std::string> unused;
        std::set_difference(before.begin(), before.end(), used.begin(), used.end(),
                            std::inserter(unused, unused.end()));
        mirror.calls.clear();
        TrashOutcome pruned = Do(site, TrashAction::Prune, &mirror);
        if (pruned.end == TrashEnd::OverBound) {
            ++refusedOverBound;
            EXPECT_TRUE(unused.size() > kMaxPrunedFiles || unused.size() * 2 > before.size());
            EXPECT_EQ(site.Files(), before);
            EXPECT_TRUE(mirror.calls.empty());
            pruned = Do(site, TrashAction::Prune, &mirror, true);
        }
        ASSERT_EQ(pruned.end, TrashEnd::Done) << TrashRefusal(pruned, {});
        const std::set<std::string> movedNow = Paths(pruned, TrashFileEnd::Moved);
        // Zero false removals, and nothing unused left behind.
        for (const std::string& path : movedNow) ASSERT_FALSE(used.contains(path)) << path;
        ASSERT_EQ(movedNow, unused);
        // A front matter names an image without bringing it back: what is used and there stays.
        std::set<std::string> kept;
        std::set_intersection(before.begin(), before.end(), used.begin(), used.end(),
                              std::inserter(kept, kept.end()));
        ASSERT_EQ(site.Files(), kept);
        moved += movedNow.size();
        if (!movedNow.empty()) {
            ASSERT_EQ(mirror.calls.size(), 1u);
            EXPECT_EQ(mirror.calls[0].what, "set aside");
            EXPECT_EQ(mirror.calls[0].stamp, pruned.stamps.at(0));
            EXPECT_EQ(Paths(mirror.calls[0].files), movedNow);
            EXPECT_EQ(pruned.mirrorSteps.size(), movedNow.size());
        }

        // Now and then the last trash comes back: its files stand where they were again, the
        // mirror is asked for the same ones, and the next prune takes them anew.
        if (pick(5) == 0 && !LocalTrashes(site.Result()).empty()) {
            mirror.calls.clear();
            const TrashOutcome back = Do(site, TrashAction::Restore, &mirror);
            ASSERT_EQ(back.end, TrashEnd::Done);
            const std::set<std::string> restoredNow = Paths(back, TrashFileEnd::Restored);
            EXPECT_EQ(back.Count(TrashFileEnd::Failed), 0u);
            for (const std::string& path : restoredNow)
                EXPECT_TRUE(platform::PathExists(site.Result() + path)) << path;
            if (!restoredNow.empty()) {
                ASSERT_EQ(mirror.calls.size(), 1u);
                EXPECT_EQ(Paths(mirror.calls[0].files), restoredNow);
            }
            restored += restoredNow.size();
        }
        if (cycle % 100 == 99) {
            const TrashOutcome emptied = Do(site, TrashAction::Empty, nullptr, false, 0);
            ASSERT_EQ(emptied.end, TrashEnd::Done);
            EXPECT_TRUE(LocalTrashes(site.Result()).empty());
        }
    }
    // The cycles went through every path: moves, restores, refusals past the bound, refreshes.
    EXPECT_GT(moved, 400u);
    EXPECT_GT(restored, 50u);
    EXPECT_GT(refusedOverBound, 5u);
    EXPECT_GT(refreshes, 20u);
}

// What the guards keep, one site each time: a front matter's image with the Markdown reading
// off, a link in the image folder, a file not named by its bytes; the emptied trash on the
// mirror's side too.
TEST(PruneGuards, KeepWhatTheRunDidNotStoreOrAFrontMatterNames) {
    Site site;
    site.uses_[1] = {1, 2};
    site.uses_[2] = {3, 4};
    for (int a = 1; a < 3; ++a) site.Write(a);
    site.Run(false);
    // Image 2 is left by its article but named by the Markdown article's front matter.
    site.uses_[1] = {1};
    site.cover_ = 2;
    site.Write(1);
    site.Write(0);
    site.Run(false);
    ASSERT_FALSE(site.Inputs().options.markdown);
    const std::string images = site.Result() + "files/img/";
    // Beside the stored ones: a file not named by the CRC-32 of its bytes, a link.
    std::filesystem::create_directories(platform::NativePath(site.Result() + "elsewhere"));
    const std::string own = "files/img/ABCDEF.png";
    std::ofstream(platform::NativePath(site.Result() + own)) << "the user's own";
    fs::create_symlink(platform::NativePath(site.Result() + site.StoredPath(3, 0)),
                       platform::NativePath(images + "1234.png"));
    site.uses_[2] = {3};
    site.Write(2);
    site.Run(false);

    RecordingMirror mirror;
    const TrashOutcome pruned = Do(site, TrashAction::Prune, &mirror);
    ASSERT_EQ(pruned.end, TrashEnd::Done) << TrashRefusal(pruned, {});
    EXPECT_EQ(Paths(pruned, TrashFileEnd::Moved), std::set<std::string>{site.StoredPath(4, 0)});
    EXPECT_EQ(ReadFileOrMissing(site.Result() + own), "the user's own");
    EXPECT_TRUE(fs::is_symlink(platform::NativePath(images + "1234.png")));
    EXPECT_TRUE(platform::PathExists(site.Result() + site.StoredPath(2, 0)));
    // The trash holds the file with its record-shaped path; the mirror got its bytes' size and
    // CRC-32 and where they are now.
    ASSERT_EQ(mirror.calls.size(), 1u);
    const TrashFile& f = mirror.calls[0].files.at(0);
    EXPECT_EQ(f.path, site.StoredPath(4, 0));
    EXPECT_EQ(f.size, site.Bytes(4, 0).size());
    EXPECT_EQ(ReadFileOrMissing(f.localFile), site.Bytes(4, 0));
    EXPECT_EQ(f.localFile, site.Result() + ".zembrat-trash/" + pruned.stamps[0] + "/" + f.path);

    // Emptying: the mirror's old trashes go, its young ones stay.
    mirror.calls.clear();
    mirror.stamps = {"20000101-000000", TrashStamp(std::time(nullptr))};
    const TrashOutcome emptied = Do(site, TrashAction::Empty, &mirror);
    EXPECT_EQ(emptied.stamps.size(), 0u);  // the local one is young
    ASSERT_EQ(mirror.calls.size(), 1u);
    EXPECT_EQ(mirror.calls[0].stamp, "20000101-000000");
    EXPECT_EQ(emptied.CountMirror(TrashStepEnd::Done), 1u);
}

// An image folder whose name starts with "." keeps its layout through the trash and back.
TEST(PruneGuards, AHiddenImageFolderGoesIntoTheTrashAndComesBack) {
    Site site;
    site.Inputs().settings.imageFolder = ".img";
    site.uses_[1] = {1, 2, 3};
    site.Write(1);
    site.Run(false);
    site.uses_[1] = {1, 2};
    site.Write(1);
    site.Run(false);
    const std::string unused = ".img/" + ContentName(site.Bytes(3, 0)) + ".png";
    const TrashOutcome pruned = Do(site, TrashAction::Prune, nullptr);
    ASSERT_EQ(pruned.end, TrashEnd::Done) << TrashRefusal(pruned, {});
    EXPECT_EQ(Paths(pruned, TrashFileEnd::Moved), std::set<std::string>{unused});
    EXPECT_EQ(pruned.images, 3u);
    const TrashOutcome back = Do(site, TrashAction::Restore, nullptr);
    EXPECT_EQ(Paths(back, TrashFileEnd::Restored), std::set<std::string>{unused});
    EXPECT_EQ(ReadFileOrMissing(site.Result() + unused), site.Bytes(3, 0));
    EXPECT_TRUE(LocalTrashes(site.Result()).empty());
}

TEST(TrashStamps, AreTheLocalTimeAndReadBack) {
    const std::time_t when = 1797000000;
    const std::string stamp = TrashStamp(when);
    EXPECT_EQ(stamp.size(), 15u);
    EXPECT_EQ(StampTime(stamp), when);
    for (const char* name : {"20261310-143000", "2026121-143000", "20261210_143000", "x", ""})
        EXPECT_FALSE(StampTime(name)) << name;
}

}  // namespace
}  // namespace zembrat::job
