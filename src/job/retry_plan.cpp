#include "job/retry_plan.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "job/article_listing.h"
#include "job/result_folder.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "record/outcome.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {

// A report's article path the retry may read and write beside: absolute, with no ".", ".." or
// empty piece, and directly inside the run's article folder (anywhere below it for a tree).
bool ArticleOfTheFolder(const std::string& article, const std::string& folder, bool tree) {
    if (folder.empty() || !article.starts_with('/')) return false;
    std::size_t at = 1;
    for (;;) {
        const std::size_t next = article.find('/', at);
        const std::string piece = article.substr(at, next - at);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (next == std::string::npos) break;
        at = next + 1;
    }
    const std::string inFolder = folder == "/" ? std::string() : folder;
    if (tree) return article.starts_with(inFolder + "/");
    return text::DirectoryPart(article) == inFolder;
}

bool IsHttpsAddress(const std::string& address) {
    return text::AsciiLower(address.substr(0, 8)) == "https://";
}

}  // namespace

std::string PlainFolder(const std::string& folder) {
    const std::filesystem::path normal =
        std::filesystem::path(text::Utf8FromGbk(folder)).lexically_normal();
    if (!normal.is_absolute()) return {};
    std::string plain = normal.string();
    while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
    return text::GbkFromUtf8(plain);
}

bool RecordRows(const std::string& folder, const std::string& resultFolder,
                std::vector<ReportRow>& rows, std::string& error) {
    record::RunRecord record;
    if (!platform::PathExists(resultFolder + record::RunRecord::FileName()) ||
        record.Open(resultFolder) != record::OpenResult::Opened) {
        error = "no run record to retry from in " + text::Utf8FromGbk(resultFolder) +
                (record.Message().empty() ? "" : ": " + record.Message()) +
                " (a run keeps one under --incremental or --publish; or retry from the report "
                "a run writes with --report FILE: --retry-failed FILE)";
        return false;
    }
    for (const record::ArticleEntry& article : record.ArticlesToRetry()) {
        const std::string path =
            text::Utf8FromGbk(folder + (folder == "/" ? "" : "/") + article.path);
        // An article a stop came before is one row: it is taken up whole.
        if (article.end == record::ArticleEnd::NotReached) {
            ReportRow& row = rows.emplace_back();
            row.article = path;
            row.articleEnd = record::ArticleEndText(article.end);
            continue;
        }
        for (const record::ReferenceEntry& ref : article.references) {
            ReportRow& row = rows.emplace_back();
            row.article = path;
            row.address = text::Utf8FromGbk(ref.address);
            row.outcome = record::OutcomeText(ref.outcome);
            row.articleEnd = record::ArticleEndText(article.end);
        }
    }
    return true;
}

bool PlanRetry(std::vector<ReportRow> rows, RunInputs& inputs, Retry& retry, std::string& error) {
    // Every article the rows name must be one of the run's article folder, named plainly: a
    // report is a file anyone may have edited, and the retry reads and writes beside it.
    const std::string folder = PlainFolder(inputs.settings.articleFolder);
    const bool tree = inputs.options.recursive;
    std::map<std::string, std::set<std::string>> listings;  // folder -> the articles listed there
    for (ReportRow& row : rows) {
        // A tree's report names its articles below the article folder.
        if (tree && !folder.empty() && !row.article.empty() && !row.article.starts_with('/'))
            row.article = text::Utf8FromGbk(text::WithSeparator(folder)) + row.article;
        const std::string article = text::GbkFromUtf8(row.article);
        if (!ArticleOfTheFolder(article, folder, tree)) {
            error = "line " + std::to_string(row.line) +
                    ": the article is not a plain absolute path in the article folder " +
                    text::Utf8FromGbk(folder) + ": " + row.article;
            return false;
        }
        // The article's own folder listed as the run lists it: a name the filter does not take
        // is no article of the run.
        const std::string within = text::DirectoryPart(article);
        auto [listed, first] = listings.try_emplace(within);
        if (first) {
            platform::EventPoints quiet;
            for (std::string& path : ListArticles(within, inputs.settings.articleFilter,
                                                  ListingMethod::FolderObject, quiet))
                listed->second.insert(std::move(path));
        }
        if (!listed->second.contains(article)) {
            error = "line " + std::to_string(row.line) + ": the article filter " +
                    text::Utf8FromGbk(inputs.settings.articleFilter) + " does not take " +
                    row.article;
            return false;
        }
    }

    // What to download again, grouped by article in the rows' order: the failed and the
    // unreached images, and every image of an article a stop cut short (it was not written).
    RunPlan plan;
    std::map<std::string, std::set<std::string>> retried;
    std::set<std::string> whole;  // articles a stop came before: taken up whole, from themselves
    for (const ReportRow& row : rows) {
        // A retried article's end may carry a note after its word: "written (...)".
        const std::optional<record::ArticleEnd> end = record::ArticleEndFromText(
            std::string_view(row.articleEnd).substr(0, row.articleEnd.find(" (")));
        if (end == record::ArticleEnd::NotReached) {
            const std::string article = text::GbkFromUtf8(row.article);
            if (!retried.contains(article) && whole.insert(article).second)
                plan.articles.push_back(article);
            continue;
        }
        const std::optional<record::Outcome> outcome = record::OutcomeFromText(row.outcome);
        if (!outcome || row.address.empty() ||
            !record::NeedsRetry(end.value_or(record::ArticleEnd::Written), *outcome))
            continue;
        if (!inputs.options.https && IsHttpsAddress(row.address)) {
            ++retry.httpsLeft;
            continue;
        }
        const std::string article = text::GbkFromUtf8(row.article);
        if (whole.contains(article)) continue;
        if (!retried.contains(article)) plan.articles.push_back(article);
        retried[article].insert(text::GbkFromUtf8(row.address));
    }
    if (plan.articles.empty()) return true;

    inputs.settings.articleFolder = folder;
    const std::string resultFolder = ResultFolder(folder, inputs.options);
    const std::string below = ShownBelow(inputs);
    for (const std::string& article : plan.articles) {
        if (whole.contains(article)) {
            plan.inputs.push_back(article);
            continue;
        }
        // The earlier result keeps the images stored then rewritten; without one (or with a
        // link or anything but a file in its place), the article.
        const std::string earlier =
            resultFolder + (tree ? ArticleBelow(folder, article) : text::FileName(article));
        std::error_code ec;
        const bool hasEarlier =
            std::filesystem::symlink_status(platform::NativePath(earlier), ec).type() ==
            std::filesystem::file_type::regular;
        plan.inputs.push_back(hasEarlier ? earlier : article);
        if (!hasEarlier)
            retry.fromOriginal.insert(
                text::Utf8FromGbk(below.empty() ? article : ArticleBelow(below, article)));
    }
    plan.keep = [retried = std::move(retried), whole = std::move(whole)](
                    const std::string& article, const std::string& address) {
        if (whole.contains(article)) return true;
        const auto it = retried.find(article);
        return it != retried.end() && it->second.contains(address);
    };
    retry.plan = std::move(plan);
    return true;
}

}  // namespace zembrat::job
