// The run record at the size of a large run: 1,000 articles with three references each and
// 3,000 addresses. Writing a run (one transaction per article), opening the record again (with
// its check), a second run's lookups of every address and article, and the retry list.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "record/run_record.h"

namespace {

using namespace zembrat::record;
namespace fs = std::filesystem;

constexpr int kArticles = 1000;
constexpr int kReferences = 3;

std::string Address(int article, int reference) {
    return "http://img.example.com/\xCD\xBC\xC6\xAC/" + std::to_string(article) + "/" +
           std::to_string(reference) + ".jpg";
}
std::string ArticlePath(int article) {
    return "\xCE\xC4\xD5\xC2/" + std::to_string(article) + ".htm";
}

// A fresh folder under TMPDIR, removed at the end.
struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "zembrat-record-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~Folder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
};

void WriteRun(RunRecord& record) {
    for (int a = 0; a < kArticles; ++a) {
        record.Begin();
        ArticleEntry article{ArticlePath(a),
                             std::string(64, 'a'),
                             std::string(64, 'b'),
                             ArticlePath(a),
                             std::string(64, 'c'),
                             ArticleEnd::Written,
                             {},
                             1};
        for (int r = 0; r < kReferences; ++r) {
            const Outcome outcome =
                (a * kReferences + r) % 97 == 0 ? Outcome::Failed : Outcome::Stored;
            record.PutImage({Address(a, r), "files/img/" + std::to_string(a) + ".jpg", 40000,
                             0x12345678u, "\"etag\"", "Tue, 01 Dec 2026 10:00:00 GMT", outcome, 1});
            article.references.push_back({Address(a, r), outcome});
        }
        record.PutArticle(article);
        record.Commit();
    }
}

void BM_WriteRun(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const Folder folder;
        RunRecord record;
        record.Open(folder.path.string());
        state.ResumeTiming();
        WriteRun(record);
        record.Close();
    }
    state.counters["articles/s"] =
        benchmark::Counter(kArticles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WriteRun)->Unit(benchmark::kMillisecond);

const Folder& Written() {
    static const Folder folder;
    static const bool written = [] {
        RunRecord record;
        record.Open(folder.path.string());
        WriteRun(record);
        return true;
    }();
    (void)written;
    return folder;
}

void BM_Open(benchmark::State& state) {
    const Folder& folder = Written();
    for (auto _ : state) {
        RunRecord record;
        benchmark::DoNotOptimize(record.Open(folder.path.string()));
    }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);

void BM_SecondRunLookups(benchmark::State& state) {
    RunRecord record;
    record.Open(Written().path.string());
    std::size_t found = 0;
    for (auto _ : state) {
        for (int a = 0; a < kArticles; ++a) {
            found += record.Article(ArticlePath(a)).has_value();
            for (int r = 0; r < kReferences; ++r) found += record.Image(Address(a, r)).has_value();
        }
    }
    if (found != static_cast<std::size_t>(state.iterations()) * kArticles * (kReferences + 1)) {
        state.SkipWithError("entries missing");
    }
    state.counters["lookups/s"] = benchmark::Counter(kArticles * (kReferences + 1),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SecondRunLookups)->Unit(benchmark::kMillisecond);

void BM_ArticlesToRetry(benchmark::State& state) {
    RunRecord record;
    record.Open(Written().path.string());
    for (auto _ : state) benchmark::DoNotOptimize(record.ArticlesToRetry());
}
BENCHMARK(BM_ArticlesToRetry)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
