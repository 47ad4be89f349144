// The image options on the command line: the real executable, real images made in the test and
// served from 127.0.0.1, the stored files decoded back.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "child_process.h"
#include "config/config_store.h"
#include "image/image_fixtures.h"
#include "job/image_names.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;
namespace pictures = image::testing;

const std::string kProgram = ZEMBRAT_EXECUTABLE;

class ImageRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        Serve("/photo.jpg", photo, "image/jpeg");
        Serve("/wide.jpg", wide, "image/jpeg");
        Serve("/pixel.gif", pixel, "image/gif");
        Serve("/moving.gif", moving, "image/gif");
        Serve("/logo.png", logo, "image/png");
        Serve("/phone.jpg", phone, "image/jpeg");
        articles = dir / "articles";
        result = articles + "/转存结果/"_gbk;
        settings = dir / "Zembrat.ini";
        config::ConfigStore store;
        ASSERT_TRUE(store.Open(settings, config::DiskFile));
        store.SetSection("基本配置"_gbk);
        store.WriteText("新的域名前缀"_gbk, "new.site");
    }
    void Serve(const std::string& path, const std::string& bytes, const char* type) {
        server.Set(path, Reply::Ok(bytes, type));
    }
    std::string Img(const std::string& path) const {
        return "<img src=\"" + server.Url(path) + "\">";
    }
    int Run(std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), "--run");
        args.insert(args.end(), {articles, "--settings", settings, "--report", dir / "r.csv"});
        std::string err;
        const int status = RunToEnd(kProgram, args, dir.path(), out, &err);
        EXPECT_EQ(status, 0) << err;
        return status;
    }
    // The report's row of each address, by the address's path.
    std::map<std::string, job::ReportRow> Rows() const {
        std::vector<job::ReportRow> all;
        std::string error;
        EXPECT_TRUE(job::ParseCsvReport(ReadFileOrMissing(dir / "r.csv"), all, error)) << error;
        std::map<std::string, job::ReportRow> rows;
        for (const job::ReportRow& r : all) {
            if (!r.address.empty()) rows[r.address.substr(r.address.rfind('/'))] = r;
        }
        return rows;
    }
    std::string StoredFile(const job::ReportRow& row) const {
        return ReadFileOrMissing(result + row.storedName);
    }

    const std::string photo = pictures::Jpeg(pictures::Photo(800, 600));
    const std::string wide = pictures::Jpeg(pictures::Photo(1600, 900, 3));
    const std::string pixel = [] {
        static constexpr char kPixel[] =
            "GIF89a\1\0\1\0\x80\0\0\0\0\0\xFF\xFF\xFF!\xF9\4\1\0\0\0\0,"
            "\0\0\0\0\1\0\1\0\0\2\2D\1\0;";
        return std::string(kPixel, sizeof kPixel - 1);
    }();
    const std::string moving = pictures::AnimatedGif(240, 160, 6);
    const std::string logo = pictures::Png(pictures::Drawing(320, 200, true));
    // A phone photograph held sideways, with its GPS position: 300x200 pixels shown 200x300.
    const std::string phone = pictures::JpegWithMetadata(pictures::Photo(300, 200), 6);

    HttpServer server;
    TempDir dir;
    std::string articles, result, settings;
};

TEST_F(ImageRunTest, OptimisedImagesAreStoredAsWebPUnderTheNameOfWhatIsStored) {
    dir.Write("articles/a.htm", Img("/photo.jpg") + Img("/pixel.gif") + Img("/moving.gif") +
                                    Img("/logo.png") + Img("/wide.jpg"));
    std::string out;
    ASSERT_EQ(Run({"--optimize", "webp", "--max-width", "1000"}, &out), 0);
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 5u);

    // The report tells each image's original and stored size, the summary what was saved.
    std::int64_t saved = 0;
    for (const auto& [path, row] : rows) {
        ASSERT_TRUE(row.storedBytes) << path;
        EXPECT_EQ(*row.storedBytes, StoredFile(row).size()) << path;
        saved += static_cast<std::int64_t>(row.bytes) - static_cast<std::int64_t>(*row.storedBytes);
    }
    EXPECT_GT(saved, 0);
    EXPECT_NE(out.find("; " + std::to_string(saved) + " bytes saved by the image options\n"),
              std::string::npos)
        << out;

    // The photograph: a WebP, lighter, named by the CRC-32 of the WebP, the article pointing at it.
    const job::ReportRow& p = rows["/photo.jpg"];
    const std::string stored = StoredFile(p);
    EXPECT_EQ(p.storedName, "files/img/" + job::ContentName(stored) + ".webp");
    EXPECT_EQ(p.bytes, photo.size());
    EXPECT_LT(stored.size() * 10, photo.size() * 9);
    EXPECT_EQ(pictures::Decode(stored).width, 800);
    EXPECT_NE(ReadFileOrMissing(result + "a.htm").find("http://new.site/" + p.storedName),
              std::string::npos);

    // The one-pixel GIF: no WebP is a tenth lighter, it is kept byte for byte.
    const job::ReportRow& t = rows["/pixel.gif"];
    EXPECT_EQ(t.storedName, "files/img/" + job::ContentName(pixel) + ".gif");
    EXPECT_EQ(StoredFile(t), pixel);

    // The animation: an animated WebP with every frame.
    const job::ReportRow& m = rows["/moving.gif"];
    ASSERT_TRUE(m.storedName.ends_with(".webp")) << m.storedName;
    const pictures::Decoded animation = pictures::Decode(StoredFile(m));
    EXPECT_EQ(animation.pages, 6);
    EXPECT_EQ(animation.width, 240);

    // The PNG with alpha: a lossless WebP that keeps its transparency.
    const job::ReportRow& l = rows["/logo.png"];
    ASSERT_TRUE(l.storedName.ends_with(".webp")) << l.storedName;
    EXPECT_EQ(pictures::Decode(StoredFile(l)).bands, 4);

    // The wide photograph: shrunk to the bound, its proportions kept.
    const pictures::Decoded shrunk = pictures::Decode(StoredFile(rows["/wide.jpg"]));
    EXPECT_EQ(shrunk.width, 1000);
    EXPECT_EQ(shrunk.pageHeight, 563);
}

TEST_F(ImageRunTest, StrippingTurnsTheRotatedPhotoUprightAndRemovesItsGpsPosition) {
    dir.Write("articles/a.htm", Img("/phone.jpg"));
    ASSERT_EQ(Run({"--strip-metadata"}), 0);
    const job::ReportRow row = Rows()["/phone.jpg"];
    ASSERT_TRUE(row.storedName.ends_with(".jpg")) << row.storedName;
    const std::string stored = StoredFile(row);
    const pictures::Decoded d = pictures::Decode(stored);
    EXPECT_EQ(d.width, 200);
    EXPECT_EQ(d.pageHeight, 300);
    EXPECT_FALSE(d.exif);
    EXPECT_FALSE(d.gps);
    EXPECT_FALSE(d.xmp);
    EXPECT_EQ(stored.find("Elm Street"), std::string::npos);
    EXPECT_EQ(row.storedName, "files/img/" + job::ContentName(stored) + ".jpg");
}

TEST_F(ImageRunTest, WithoutTheOptionsTheImagesAreStoredAsFetched) {
    dir.Write("articles/a.htm", Img("/phone.jpg") + Img("/logo.png"));
    std::string out;
    ASSERT_EQ(Run({}, &out), 0);
    auto rows = Rows();
    EXPECT_EQ(StoredFile(rows["/phone.jpg"]), phone);
    EXPECT_EQ(StoredFile(rows["/logo.png"]), logo);
    // The report and the summary as ever.
    EXPECT_FALSE(rows["/logo.png"].storedBytes);
    EXPECT_EQ(ReadFileOrMissing(dir / "r.csv").find("stored_bytes"), std::string::npos);
    EXPECT_EQ(out.find("saved"), std::string::npos);
}

TEST_F(ImageRunTest, ASecondRunStoresTheSameBytes) {
    dir.Write("articles/a.htm", Img("/photo.jpg") + Img("/moving.gif") + Img("/phone.jpg"));
    const std::vector<std::string> options = {"--optimize", "avif", "--strip-metadata"};
    ASSERT_EQ(Run(options), 0);
    std::map<std::string, std::string> first;
    for (const auto& [path, row] : Rows()) first[row.storedName] = StoredFile(row);
    ASSERT_EQ(first.size(), 3u);
    fs::remove_all(platform::NativePath(result));
    ASSERT_EQ(Run(options), 0);
    for (const auto& [path, row] : Rows()) {
        ASSERT_EQ(first.count(row.storedName), 1u) << row.storedName;
        EXPECT_EQ(StoredFile(row), first[row.storedName]);
    }
    EXPECT_TRUE(first.begin()->first.ends_with(".avif") ||
                std::next(first.begin())->first.ends_with(".avif"));
}

TEST_F(ImageRunTest, AnIncrementalRunReusesTheOptimisedFileUntilTheQualityChanges) {
    dir.Write("articles/a.htm", Img("/photo.jpg"));
    ASSERT_EQ(Run({"--incremental", "--optimize", "webp"}), 0);
    const job::ReportRow first = Rows()["/photo.jpg"];

    // Another article with the same image: the stored file is reused, not downloaded again.
    dir.Write("articles/b.htm", "<p>" + Img("/photo.jpg"));
    server.ClearRequests();
    ASSERT_EQ(Run({"--incremental", "--optimize", "webp"}), 0);
    EXPECT_EQ(server.RequestsTo("/photo.jpg").size(), 0u);
    const job::ReportRow reused = Rows()["/photo.jpg"];
    EXPECT_EQ(reused.outcome, "reused");
    EXPECT_EQ(reused.storedName, first.storedName);

    // Another quality: downloaded (once for both articles) and optimised again, under the name
    // of the new bytes.
    server.ClearRequests();
    ASSERT_EQ(Run({"--incremental", "--optimize", "webp", "--quality", "40"}), 0);
    EXPECT_EQ(server.RequestsTo("/photo.jpg").size(), 1u);
    const job::ReportRow again = Rows()["/photo.jpg"];
    EXPECT_NE(again.storedName, first.storedName);
    EXPECT_LT(StoredFile(again).size(), StoredFile(first).size());

    // Without the options: stored as fetched, not the WebP of before.
    ASSERT_EQ(Run({"--incremental"}), 0);
    EXPECT_EQ(StoredFile(Rows()["/photo.jpg"]), photo);
}

}  // namespace
}  // namespace zembrat::testing
