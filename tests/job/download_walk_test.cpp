// The download walk over several articles, as a run drives it: the articles read one after the
// other (or ahead, several downloads at once), each done in run order with its images settled.
#include "job/download_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "job/image_names.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::TempDir;

const std::string kPng = "\x89PNG\r\n\x1A\n png-bytes";
const std::string kGif = std::string("GIF89a\x01\x00\x01\x00", 10) + "gif-bytes";
const std::string kJpg = "\xFF\xD8\xFF jpeg-bytes";

// What the walk told, in order.
struct Told : RunObserver {
    std::vector<std::string> lines;
    void ImageBegins(std::size_t row) override { lines.push_back("begins " + std::to_string(row)); }
    void ImageSettled(std::size_t row, const ImageRecord& r) override {
        lines.push_back("settled " + std::to_string(row) + " " + OutcomeText(r.outcome));
    }
};

// An article of the walk: its text and the references a run would have kept.
struct Article {
    std::string text;
    std::vector<std::string> addresses;
};

// One article's end as the done hook saw it.
struct Done {
    std::size_t index = 0;
    std::string text;
    bool complete = false;
    std::vector<ImageRecord> records;
};

class DownloadWalkTest : public ::testing::Test {
  protected:
    DownloadWalkTest() {
        web.CreateRequest();
        web.SetEventPoints(events);
        result = dir.path() + "/result/";
        std::filesystem::create_directories(platform::NativePath(result));
        server.Set("/a.png", Reply::Ok(kPng, "image/png"));
        server.Set("/b.gif", Reply::Ok(kGif, "image/gif"));
        server.Set("/c.jpg", Reply::Ok(kJpg, "image/jpeg"));
        server.Set("/gone.png", Reply::Status(404, "no"));
    }

    Article Of(const std::vector<std::string>& paths) {
        Article article;
        for (const std::string& path : paths) {
            article.text += "<img src=\"" + server.Url(path) + "\">\r\n";
            article.addresses.push_back(server.Url(path));
        }
        return article;
    }

    // Walks the articles (several at once when atOnce > 1); hooks gets what the walk asked, in
    // order: "next current", "next ahead", "show 2", "done 2".
    std::vector<Done> Walk(const std::vector<Article>& articles, int atOnce = 1,
                           std::optional<ImageMemory> memory = std::nullopt) {
        std::optional<web::FetchGroup> group;
        if (atOnce > 1) group.emplace(web, atOnce);
        const ImageDestination destination(result, "files/img", "my.site");
        DownloadWalk walk(web, events, told, options, destination, CountSleep,
                          group ? &*group : nullptr);
        if (memory) walk.Remember(std::move(*memory));
        std::vector<Done> done;
        std::size_t next = 0;
        hooks.clear();
        walk.Run({[&](bool current) -> std::optional<ArticleWork> {
                      hooks.push_back(current ? "next current" : "next ahead");
                      if (next == articles.size()) return std::nullopt;
                      ArticleWork work;
                      work.index = ++next;
                      work.path = "/a/" + std::to_string(next) + ".htm";
                      work.text = articles[next - 1].text;
                      for (const std::string& address : articles[next - 1].addresses)
                          work.refs.push_back({address, address});
                      return work;
                  },
                  [&](ArticleWork& work, bool) {
                      hooks.push_back("show " + std::to_string(work.index));
                      return true;
                  },
                  [&](ArticleWork& work, DownloadSummary& summary) {
                      hooks.push_back("done " + std::to_string(work.index));
                      done.push_back({work.index, work.text, summary.complete, summary.records});
                      ++articlesDone;
                  }});
        return done;
    }
    static void CountSleep(std::chrono::milliseconds) {}

    std::string Stored(const std::string& bytes, const std::string& ext) const {
        return "files/img/" + ContentName(bytes) + "." + ext;
    }

    TempDir dir;
    HttpServer server;
    web::WebClient web;
    platform::EventPoints events;
    std::stop_source stop;
    Told told;
    ExtensionOptions options;
    std::string result;
    std::vector<std::string> hooks;
    std::atomic<std::size_t> articlesDone = 0;
};

TEST_F(DownloadWalkTest, EachArticleIsDoneInRunOrderWithItsImagesStoredAndRewritten) {
    const std::vector<Article> articles = {Of({"/a.png", "/gone.png"}), Of({}),
                                           Of({"/b.gif", "/a.png"})};
    for (const int atOnce : {1, 4}) {
        SCOPED_TRACE(atOnce);
        std::filesystem::remove_all(platform::NativePath(result + "files"));
        const std::vector<Done> done = Walk(articles, atOnce);
        ASSERT_EQ(done.size(), 3u);
        for (std::size_t i = 0; i < done.size(); ++i) {
            EXPECT_EQ(done[i].index, i + 1);
            EXPECT_TRUE(done[i].complete);
        }
        EXPECT_EQ(done[0].text, "<img src=\"http://my.site/" + Stored(kPng, "png") +
                                    "\">\r\n<img src=\"" + server.Url("/gone.png") + "\">\r\n");
        EXPECT_EQ(done[1].text, "");
        EXPECT_EQ(done[2].text, "<img src=\"http://my.site/" + Stored(kGif, "gif") +
                                    "\">\r\n<img src=\"http://my.site/" + Stored(kPng, "png") +
                                    "\">\r\n");
        ASSERT_EQ(done[0].records.size(), 2u);
        EXPECT_EQ(done[0].records[0].outcome, ImageOutcome::Stored);
        EXPECT_EQ(done[0].records[1].outcome, ImageOutcome::Failed);
        EXPECT_EQ(done[0].records[1].status, 404);
        ASSERT_EQ(done[2].records.size(), 2u);
        EXPECT_EQ(done[2].records[0].outcome, ImageOutcome::Stored);
        EXPECT_EQ(done[2].records[1].outcome, ImageOutcome::Reused);  // stored by article 1
        EXPECT_EQ(ReadFileOrMissing(result + Stored(kGif, "gif")), kGif);
    }
}

TEST_F(DownloadWalkTest, OneAtATimeReadsNothingAheadAndAtOnceReadsAheadWhileTheCurrentWaits) {
    Reply slow = Reply::Ok(kJpg, "image/jpeg");
    slow.delay = std::chrono::milliseconds(400);
    server.Set("/slow.jpg", slow);
    const std::vector<Article> articles = {Of({"/slow.jpg"}), Of({"/a.png"}), Of({"/b.gif"})};

    Walk(articles, 1);
    EXPECT_EQ(hooks, (std::vector<std::string>{"next current", "show 1", "done 1", "next current",
                                               "show 2", "done 2", "next current", "show 3",
                                               "done 3", "next current"}));
    // One after the other: no request of a later article while the slow one was answered.
    for (const auto& request : server.Requests()) EXPECT_EQ(request.inProgress, 1);

    server.ClearRequests();
    std::filesystem::remove_all(platform::NativePath(result + "files"));
    const std::vector<Done> done = Walk(articles, 4);
    ASSERT_EQ(done.size(), 3u);
    // The later articles were read, and their images asked for, before the first was done.
    const auto firstDone = std::find(hooks.begin(), hooks.end(), "done 1");
    EXPECT_NE(std::find(hooks.begin(), firstDone, "next ahead"), firstDone);
    ASSERT_EQ(server.RequestsTo("/a.png").size(), 1u);
    EXPECT_LT(server.RequestsTo("/a.png")[0].arrived,
              server.RequestsTo("/slow.jpg")[0].arrived + std::chrono::milliseconds(300));
    for (std::size_t i = 0; i < done.size(); ++i) EXPECT_EQ(done[i].index, i + 1);
}

TEST_F(DownloadWalkTest, ARememberedWalkFetchesEachAddressOnceAndWhatTheMemoryKnowsNever) {
    const std::vector<Article> articles = {Of({"/a.png", "/b.gif"}), Of({"/a.png", "/c.jpg"}),
                                           Of({"/a.png"})};
    // An earlier run stored c.jpg's picture.
    const std::string known = Stored(kJpg, "jpg");
    ASSERT_TRUE(platform::WriteFileBeneath(result, known, kJpg));
    for (const int atOnce : {1, 3}) {
        SCOPED_TRACE(atOnce);
        server.ClearRequests();
        ImageMemory memory;
        memory.lookup = [&](const std::string& address) -> std::optional<KnownImage> {
            if (address != server.Url("/c.jpg")) return std::nullopt;
            return KnownImage{known, kJpg.size(), 0, "", ""};
        };
        const std::vector<Done> done = Walk(articles, atOnce, memory);
        ASSERT_EQ(done.size(), 3u);
        EXPECT_EQ(server.RequestsTo("/a.png").size(), 1u);
        EXPECT_EQ(server.RequestsTo("/b.gif").size(), 1u);
        EXPECT_EQ(server.RequestsTo("/c.jpg").size(), 0u);
        ASSERT_EQ(done[1].records.size(), 2u);
        EXPECT_EQ(done[1].records[0].outcome, ImageOutcome::Reused);
        EXPECT_EQ(done[1].records[1].outcome, ImageOutcome::Reused);
        EXPECT_EQ(done[1].records[1].reason, FailReason::Recorded);
        EXPECT_EQ(done[1].text, "<img src=\"http://my.site/" + Stored(kPng, "png") +
                                    "\">\r\n<img src=\"http://my.site/" + known + "\">\r\n");
        EXPECT_EQ(done[2].records.at(0).storedPath, Stored(kPng, "png"));
    }
}

TEST_F(DownloadWalkTest, AStopEndsTheWalkAndTheArticleItCutShortIsDoneIncomplete) {
    server.Set("/held.png", Reply::NeverAnswer());
    const std::vector<Article> articles = {Of({"/a.png"}), Of({"/b.gif", "/held.png"}),
                                           Of({"/c.jpg"})};
    for (const int atOnce : {1, 4}) {
        SCOPED_TRACE(atOnce);
        stop = std::stop_source();
        events.SetStopToken(stop.get_token());
        articlesDone = 0;
        // The stop comes once the first article is done and the walk waits for the held download.
        std::thread stopper([&] {
            const auto start = std::chrono::steady_clock::now();
            while ((articlesDone == 0 || server.RequestsTo("/held.png").empty()) &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            stop.request_stop();
        });
        const std::vector<Done> done = Walk(articles, atOnce);
        stopper.join();
        ASSERT_EQ(done.size(), 2u);
        EXPECT_TRUE(done[0].complete);
        EXPECT_FALSE(done[1].complete);
        ASSERT_EQ(done[1].records.size(), 2u);
        EXPECT_EQ(done[1].records[1].outcome, ImageOutcome::NotReached);
        EXPECT_EQ(done[1].records[1].reason, FailReason::Stopped);
        EXPECT_EQ(server.RequestsTo("/held.png").size(), 1u);  // abandoned, never retried
        server.ClearRequests();
    }
    events.SetStopToken({});
}

TEST_F(DownloadWalkTest, AHeldAnswerLetsTheOtherDownloadsGoOnThroughTheArticlesAhead) {
    // The first article's image is never answered; 100 articles of one image each come after.
    server.Set("/held.png", Reply::NeverAnswer());
    std::vector<Article> articles = {Of({"/held.png"})};
    for (int i = 0; i < 100; ++i) {
        server.Set("/ahead/" + std::to_string(i) + ".png", Reply::Ok(kPng, "image/png"));
        articles.push_back(Of({"/ahead/" + std::to_string(i) + ".png"}));
    }
    stop = std::stop_source();
    events.SetStopToken(stop.get_token());
    std::atomic<std::size_t> askedBeforeStop = 0;
    // The stop comes once every image was asked for (or after 20 s, when the walk idles).
    std::thread stopper([&] {
        const auto start = std::chrono::steady_clock::now();
        while (server.Requests().size() < articles.size() &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        askedBeforeStop = server.Requests().size();
        stop.request_stop();
    });
    const std::vector<Done> done = Walk(articles, 4);
    stopper.join();
    events.SetStopToken({});
    // Every later image was asked for while the first article still waited, and nothing was
    // done out of order: the first article, cut short by the stop, is the only one done.
    EXPECT_EQ(askedBeforeStop, articles.size());
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].index, 1u);
    EXPECT_FALSE(done[0].complete);
}

}  // namespace
}  // namespace zembrat::job
