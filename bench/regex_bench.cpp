// The job's use of the pattern engine on a large article: the image-tag pattern through
// PatternMatcher (Execute, then every source value), against a plain scan for "<img " over the
// same bytes, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "automation/regex_object.h"
#include "job/ref_scanner.h"
#include "text/codec.h"
#include "throughput_reporter.h"

namespace {

using zembrat::automation::PatternMatcher;

constexpr const char* kImageTag = R"(<img .*?src=("|'|)([^"'<> ]+)("|'|).*?>)";
constexpr int kTags = 20000;
constexpr std::size_t kArticleBytes = 10 * 1024 * 1024;

// A GBK article of about 10 MB: lines of Chinese text with some ASCII, and kTags image tags
// of the kinds articles hold (quoted, apostrophes, bare, other attributes first, Chinese in
// the value and around it).
const std::string& Article() {
    static const std::string article = [] {
        std::uint32_t seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) & 0x7FFF;
        };
        const std::size_t fill = kArticleBytes / kTags;
        std::string out;
        out.reserve(kArticleBytes + 4096);
        for (int t = 0; t < kTags; ++t) {
            while (out.size() + 100 < (t + 1) * fill) {
                const unsigned pick = next() % 16;
                if (pick == 0) {
                    out += "\r\n";
                } else if (pick < 3) {
                    out += " width height <b>bold</b> ";
                } else {
                    // A common Chinese character, rows B0 to D6 of GB2312.
                    out += static_cast<char>(0xB0 + next() % 39);
                    out += static_cast<char>(0xA1 + next() % 94);
                }
            }
            const std::string n = std::to_string(t);
            switch (t % 4) {
                case 0:
                    out += "<img src=\"http://img.example.com/\xCD\xBC\xC6\xAC/" + n +
                           ".jpg\" alt=\"\xCB\xB5\xC3\xF7\">";
                    break;
                case 1:
                    out += "<IMG SRC='http://img.example.com/p/" + n + ".GIF'>";
                    break;
                case 2:
                    out += "<img border=0 src=/upload/" + n + ".png>";
                    break;
                default:
                    out +=
                        "<img alt=\"\xD5\xD5\xC6\xAC\" width=\"300\" src=\"pics/" + n + ".jpg\" />";
                    break;
            }
        }
        return out;
    }();
    return article;
}

void ImageTagsThroughPatternMatcher(benchmark::State& state) {
    const std::string& article = Article();
    PatternMatcher matcher;
    matcher.SetPattern(kImageTag);
    std::size_t sourceBytes = 0;
    for (auto _ : state) {
        const int n = matcher.Execute(article);
        if (n != kTags) state.SkipWithError("wrong number of tags");
        for (int i = 1; i <= n; ++i) sourceBytes += matcher.SubMatchText(i, 2).size();
        benchmark::DoNotOptimize(sourceBytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * article.size()));
}

// The codec's decode of the whole text with its byte map, for comparison.
void CodecDecodeWholeText(benchmark::State& state) {
    const std::string& article = Article();
    for (auto _ : state) {
        zembrat::text::MappedUtf16 decoded = zembrat::text::Utf16FromGbkMapped(article);
        benchmark::DoNotOptimize(decoded.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * article.size()));
}

// The baseline: memchr for "<", then a compare, over the same bytes.
void PlainScanForImgTag(benchmark::State& state) {
    const std::string& article = Article();
    for (auto _ : state) {
        std::size_t found = 0;
        const char* p = article.data();
        const char* end = p + article.size();
        while (p < end) {
            const void* hit = std::memchr(p, '<', static_cast<std::size_t>(end - p));
            if (!hit) break;
            p = static_cast<const char*>(hit);
            if (end - p >= 5 && std::memcmp(p, "<img ", 5) == 0) ++found;
            ++p;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * article.size()));
}

// The reference scanner on the same bytes: the plain rule (the same sources as the pattern),
// then the lazy and responsive rules, alone and under HTML rules.
void ScanSourcesUnder(benchmark::State& state, const zembrat::job::ExtensionOptions& options) {
    const std::string& article = Article();
    std::size_t sourceBytes = 0;
    for (auto _ : state) {
        const auto found =
            zembrat::job::ScanSources(article, options, zembrat::job::ArticleEncoding::Gbk, false);
        if (found.size() != kTags) state.SkipWithError("wrong number of sources");
        for (const auto& f : found) sourceBytes += f.text.size();
        benchmark::DoNotOptimize(sourceBytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * article.size()));
}

void ScannerPlainRule(benchmark::State& state) {
    ScanSourcesUnder(state, {});
}

void ScannerLazyAndResponsive(benchmark::State& state) {
    zembrat::job::ExtensionOptions options;
    options.lazyImages = true;
    ScanSourcesUnder(state, options);
}

void ScannerLazyUnderHtmlRules(benchmark::State& state) {
    zembrat::job::ExtensionOptions options;
    options.lazyImages = options.htmlRules = true;
    ScanSourcesUnder(state, options);
}

BENCHMARK(PlainScanForImgTag)->Unit(benchmark::kMillisecond);
BENCHMARK(ScannerPlainRule)->Unit(benchmark::kMillisecond);
BENCHMARK(ScannerLazyAndResponsive)->Unit(benchmark::kMillisecond);
BENCHMARK(ScannerLazyUnderHtmlRules)->Unit(benchmark::kMillisecond);
BENCHMARK(CodecDecodeWholeText)->Unit(benchmark::kMillisecond);
BENCHMARK(ImageTagsThroughPatternMatcher)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const auto rates = zembrat::bench::RunBenchmarks(argc, argv);
    if (!rates) return 1;

    const double mb = 1024.0 * 1024.0;
    std::printf("\nArticle: %.1f MB, %d image tags\n", Article().size() / mb, kTags);
    for (const auto& [name, rate] : *rates) {
        std::printf("%-34s %10.1f MB/s\n", name.c_str(), rate / mb);
    }
    const auto scan = rates->find("PlainScanForImgTag");
    const auto tags = rates->find("ImageTagsThroughPatternMatcher");
    if (scan != rates->end() && tags != rates->end() && tags->second > 0) {
        std::printf("Plain scan / PatternMatcher: %.1f times as fast\n",
                    scan->second / tags->second);
    }
    // Cost ratios (time of the first over time of the second); the lazy and responsive rules
    // may cost at most twice the image-tag rule.
    auto ratio = [&rates](const char* slower, const char* faster) {
        const auto a = rates->find(slower);
        const auto b = rates->find(faster);
        if (a == rates->end() || b == rates->end() || a->second <= 0) return;
        const double cost = b->second / a->second;
        std::printf("%s / %s: %.2fx the cost%s\n", slower, faster, cost,
                    cost <= 2.0 ? "" : "  (over the 2x budget)");
    };
    ratio("ScannerLazyAndResponsive", "ImageTagsThroughPatternMatcher");
    ratio("ScannerLazyAndResponsive", "ScannerPlainRule");
    ratio("ScannerLazyUnderHtmlRules", "ImageTagsThroughPatternMatcher");
    ratio("ScannerLazyUnderHtmlRules", "ScannerPlainRule");
    return 0;
}
