// Downloads at once over HTTP/2: the real executable against a real nginx that speaks HTTP/2
// over TLS on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "child_process.h"
#include "config/config_store.h"
#include "record/run_record.h"
#include "support/file_tree.h"
#include "support/http2_server.h"
#include "support/https_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;

// A run with downloads at once over https takes one connection for all of them, over HTTP/2, and
// writes byte for byte what one at a time writes (which speaks HTTP/1.1).
TEST(Http2Run, DownloadsAtOnceShareOneConnectionAndWriteWhatOneAtATimeWrites) {
    const ScopedEnv ca("SSL_CERT_FILE", HttpsServer::CaFile().c_str());
    Http2Server server({.http2 = true, .delay = std::chrono::milliseconds(30)});
    ASSERT_TRUE(server.started()) << server.error();
    TempDir dir;
    const std::string articles = dir / "articles";
    const std::string settings = dir / "Zembrat.ini";
    {
        config::ConfigStore store;
        ASSERT_TRUE(store.Open(settings, config::DiskFile));
        store.SetSection("基本配置"_gbk);
        for (const auto& [key, value] :
             std::map<std::string, std::string>{{"文章目录", "/nowhere"},
                                                {"文章过滤", "*.htm"},
                                                {"图片存放目录", "img"},
                                                {"新的域名前缀", "new.site"}})
            ASSERT_EQ(store.WriteText(text::GbkFromUtf8(key), text::GbkFromUtf8(value)),
                      config::WriteResult::kWritten);
    }
    // Three articles of twelve images each, one of them twice and one shared with the next.
    for (int a = 0; a < 3; ++a) {
        std::string html = "<html><body>"_gbk + "文章"_gbk + std::to_string(a) + "\r\n";
        for (int k = 0; k < 12; ++k) {
            const std::string path = "/img/" + std::to_string(a * 11 + k) + ".png";
            server.Put(path, "\x89PNG\r\n\x1a\n" + std::string(1000 + 37 * (a * 11 + k), 'p'));
            html += "<img src=\"" + server.Url(path) + "\">\r\n";
        }
        html += "<img src=\"" + server.Url("/img/" + std::to_string(a * 11) + ".png") + "\">";
        fs::create_directories(articles);
        std::ofstream(fs::path(articles) / (std::to_string(a) + ".htm"), std::ios::binary)
            << html << "</body></html>";
    }

    std::map<std::string, std::string> results[2];
    std::size_t requests = 0;
    for (const int jobs : {1, 16}) {
        fs::remove_all(fs::path(articles) / "转存结果");
        std::string out, err;
        ASSERT_EQ(RunToEnd(kProgram,
                           {"--run", articles, "--settings", settings, "--https", "--quiet",
                            "--jobs", std::to_string(jobs)},
                           dir.path(), &out, &err),
                  0)
            << err;
        results[jobs == 1 ? 0 : 1] =
            FilesBelow(fs::path(articles) / "转存结果", record::RunRecord::FileName());
        const auto seen = server.Requests(requests + 3 * 12);
        std::set<long> connections;
        std::set<std::string> protocols;
        for (std::size_t i = requests; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].status, 200) << seen[i].uri;
            connections.insert(seen[i].connection);
            protocols.insert(seen[i].protocol);
        }
        EXPECT_EQ(seen.size() - requests, 3u * 12) << jobs;
        requests = seen.size();
        EXPECT_EQ(protocols, (std::set<std::string>{jobs == 1 ? "HTTP/1.1" : "HTTP/2.0"}));
        EXPECT_EQ(connections.size(), 1u) << jobs;
    }
    EXPECT_EQ(results[1], results[0]);
    std::size_t images = 0;
    for (const auto& [path, bytes] : results[0]) images += path.starts_with("img/") ? 1 : 0;
    EXPECT_EQ(images, 34u);  // 36 addresses, two of them asked twice
}

}  // namespace
}  // namespace zembrat::testing
