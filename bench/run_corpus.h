// The whole-run benchmarks' corpus: GBK articles of about 50 KB with image tags spread through
// them, over a pool of distinct 20 KB images served by a loopback server; every fourth reference
// is one shared with other articles. The same seed gives the same corpus to every benchmark.
#pragma once

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "support/http_server.h"
#include "text/codec.h"

namespace zembrat::bench {

struct RunCorpus {
    int distinct = 0;                  // images in the pool
    std::vector<std::string> fetched;  // every address a run downloads, in order
};

// About 50 KB of Chinese filler with the given image tags spread through it.
inline std::string CorpusArticle(std::mt19937& random, const std::vector<std::string>& urls) {
    using namespace text::literals;
    static const std::string filler =
        "这是一段用来测试的中文文章内容，包含标点符号和一些数字12345。"_gbk;
    std::string article =
        "<html><head><meta charset=gbk><title>"_gbk + "测试"_gbk + "</title></head><body>\r\n";
    const std::size_t perTag = 50000 / (urls.size() + 1);
    for (std::size_t k = 0; k < urls.size(); ++k) {
        while (article.size() < perTag * (k + 1)) article += filler;
        article += "<p><img alt=\"图\" src=\""_gbk + urls[k] +
                   "\" width=" + std::to_string(random() % 900) + "></p>\r\n";
    }
    while (article.size() < 50000) article += filler;
    return article + "</body></html>";
}

// Serves the pool through serve(path, body), which gives the image's address, and writes the
// articles into folder (GBK), named 0000.htm on.
template <class Serve>
RunCorpus MakeRunCorpusWith(Serve serve, const std::string& folder, int articleCount,
                            int imagesPerArticle) {
    RunCorpus corpus;
    std::mt19937 random(7);
    corpus.distinct = articleCount * imagesPerArticle * 3 / 4 + 1;
    std::vector<std::string> pool;
    for (int i = 0; i < corpus.distinct; ++i) {
        std::string body(20 * 1024, '\0');
        for (char& c : body) c = static_cast<char>(random());
        pool.push_back(serve("/img/" + std::to_string(i) + (i % 3 ? ".jpg" : ".png"), body));
    }
    int next = 0;
    for (int a = 0; a < articleCount; ++a) {
        std::vector<std::string> urls;
        for (int k = 0; k < imagesPerArticle; ++k) {
            urls.push_back(k % 4 == 3 ? pool[random() % pool.size()]
                                      : pool[static_cast<std::size_t>(next++ % corpus.distinct)]);
        }
        // Duplicates inside one article are fetched once, at their last occurrence.
        for (std::size_t k = 0; k < urls.size(); ++k) {
            bool later = false;
            for (std::size_t j = k + 1; j < urls.size(); ++j) later = later || urls[j] == urls[k];
            if (!later) corpus.fetched.push_back(urls[k]);
        }
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.htm", a);
        platform::WriteWholeFile(folder + name, CorpusArticle(random, urls));
    }
    return corpus;
}

// How late the server's answers come: delay, give or take up to jitter, and every lateEvery-th
// image of the pool (0: none) late more.
struct AnswerDelay {
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds jitter{0};
    int lateEvery = 0;
    std::chrono::milliseconds late{0};
};

// Serves the pool from server, each answer as late as the delay says, and writes the articles
// into folder (GBK), named 0000.htm on.
inline RunCorpus MakeRunCorpus(testing::HttpServer& server, const std::string& folder,
                               int articleCount, int imagesPerArticle, AnswerDelay delay = {}) {
    std::mt19937 random(11);  // apart from the corpus's own, which stays as it is
    int image = 0;
    return MakeRunCorpusWith(
        [&](const std::string& path, std::string body) {
            testing::Reply reply = testing::Reply::Ok(std::move(body), "image/jpeg");
            reply.delay = delay.delay;
            if (delay.jitter.count() > 0)
                reply.delay += std::chrono::milliseconds(
                    static_cast<long>(random() % (2 * delay.jitter.count() + 1)) -
                    delay.jitter.count());
            if (delay.lateEvery > 0 && ++image % delay.lateEvery == 0) reply.delay += delay.late;
            server.Set(path, reply);
            return server.Url(path);
        },
        folder, articleCount, imagesPerArticle);
}

}  // namespace zembrat::bench
