// The readers of the extension options on articles of a few MB that stress them: a Markdown
// article as people write them, one very long line, a run of unclosed "![", and hostile HTML
// (unclosed quotes and comments, tags cut off, many "<"). Each is read under the option that
// reads it and, as the baseline measured in the same run, by the plain rule on the same bytes;
// the summary prints each reading's cost against that baseline.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "job/ref_scanner.h"
#include "throughput_reporter.h"

namespace {

using zembrat::job::ArticleEncoding;
using zembrat::job::ExtensionOptions;

constexpr std::size_t kBytes = 4 * 1024 * 1024;

std::string Repeated(std::string_view shape) {
    std::string out;
    out.reserve(kBytes + shape.size());
    while (out.size() < kBytes) out += shape;
    return out;
}

const std::map<std::string, std::string>& Articles() {
    static const std::map<std::string, std::string> articles{
        {"markdown",
         Repeated("# Title\n\nSome *text* with a [link](http://a.example/x) and "
                  "![a picture](http://img.example/p.png \"t\").\n\n"
                  "> quoted ![q][ref] and `code ![no](x)`\n\n"
                  "- item ![i](</a b.png>)\n  - nested [![t](t.jpg)](full.jpg)\n\n"
                  "```\n![code](http://img.example/c.png)\n```\n\n"
                  "    indented ![x](y)\n\n<div><img src=\"http://img.example/h.jpg\"></div>\n\n"
                  "[ref]: http://img.example/r.png\n\n")},
        {"long line", Repeated("word ![a](http://img.example/a.png) [b] `c` <img src=x> &amp; ")},
        {"many ![", Repeated("![")},
        {"hostile html",
         Repeated("<img src=\"http://a.example/1.jpg\" alt='x <!-- <a href=\"<script>"
                  "<img src=x <textarea><![CDATA[ <img/src=y></ <?x <!DOCTYPE ")},
    };
    return articles;
}

void Read(benchmark::State& state, const std::string& name, const ExtensionOptions& options) {
    const std::string& article = Articles().at(name);
    std::size_t found = 0;
    for (auto _ : state) {
        found += zembrat::job::ScanSources(article, options, ArticleEncoding::Utf8, true).size();
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * article.size()));
}

}  // namespace

int main(int argc, char** argv) {
    ExtensionOptions markdown, html, all;
    markdown.markdown = true;
    html.htmlRules = true;
    all.markdown = all.htmlRules = all.lazyImages = true;
    const std::map<std::string, ExtensionOptions> readings{
        {"plain", {}}, {"markdown", markdown}, {"html rules", html}, {"all", all}};
    for (const auto& [article, text] : Articles()) {
        for (const auto& [reading, options] : readings) {
            benchmark::RegisterBenchmark(
                (article + "/" + reading).c_str(),
                [article, options](benchmark::State& state) { Read(state, article, options); })
                ->Unit(benchmark::kMillisecond);
        }
    }
    const auto rates = zembrat::bench::RunBenchmarks(argc, argv);
    if (!rates) return 1;

    const double mb = 1024.0 * 1024.0;
    std::printf("\n%-28s %12s %14s\n", "article/reading", "MB/s", "cost vs plain");
    for (const auto& [name, rate] : *rates) {
        const std::string article = name.substr(0, name.find('/'));
        const auto plain = rates->find(article + "/plain");
        const double cost = plain != rates->end() && rate > 0 ? plain->second / rate : 0;
        std::printf("%-28s %12.1f %13.2fx\n", name.c_str(), rate / mb, cost);
    }
    return 0;
}
