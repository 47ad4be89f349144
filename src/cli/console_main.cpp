#include "cli/console_main.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/command_line.h"
#include "cli/console_view.h"
#include "config/config_store.h"
#include "job/article_listing.h"
#include "job/extension_options.h"
#include "job/folders.h"
#include "job/image_refs.h"
#include "job/job_driver.h"
#include "job/ref_decisions.h"
#include "job/run_report.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::cli {
namespace {

using namespace text::literals;
using job::EditBox;

constexpr int kAllDone = 0;
constexpr int kSomethingFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kInterrupted = 130;

// The settings section and its keys, with the values the window starts with.
struct SettingKey {
    const char* utf8Key;
    EditBox box;
};
constexpr SettingKey kSettingKeys[] = {
    {"文章目录", EditBox::ArticleFolder},   {"文章过滤", EditBox::ArticleFilter},
    {"图片存放目录", EditBox::ImageFolder}, {"旧的域名前缀", EditBox::OldPrefix},
    {"新的域名前缀", EditBox::NewPrefix},   {"排除地址范围", EditBox::ExcludedRanges},
};

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return text::GbkFromUtf8(home && *home ? home : "/");
}

std::map<EditBox, std::string> DefaultSettings() {
    return {{EditBox::ArticleFolder, HomeFolder() + "/文章目录"_gbk},
            {EditBox::ArticleFilter, "*.htm"},
            {EditBox::ImageFolder, "files/img"},
            {EditBox::OldPrefix, ""},
            {EditBox::NewPrefix, ""},
            {EditBox::ExcludedRanges, ""}};
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "zembrat: %s\nTry 'zembrat --help'.\n", error.c_str());
    return kBadUsage;
}

// The six settings and the extension options from the file, read only: the store keeps a copy in
// memory, takes no lock and writes nothing back.
bool ReadSettings(const std::string& path, bool mustExist, std::map<EditBox, std::string>& values,
                  job::ExtensionOptions& options, std::string& error) {
    values = DefaultSettings();
    options = {};
    if (!platform::PathExists(path)) {
        if (!mustExist) return true;
        error = "the settings file does not exist: " + text::Utf8FromGbk(path);
        return false;
    }
    text::Bytes bytes;
    if (platform::IsFolder(path) || !platform::ReadWholeFile(path, bytes)) {
        error = "the settings file cannot be read: " + text::Utf8FromGbk(path);
        return false;
    }
    config::ConfigStore store;
    store.Open(path, config::MemoryFile);
    store.SetSection("基本配置"_gbk);
    for (const SettingKey& key : kSettingKeys) {
        std::string& value = values[key.box];
        value = store.ReadText(text::GbkFromUtf8(key.utf8Key), value);
    }
    store.SetSection(job::ExtensionSection());
    job::OptionTexts texts;
    for (const auto& [key, value] : job::ExtensionOptionTexts(job::ExtensionOptions{}))
        texts.emplace_back(key, store.ReadText(key, value));
    options = job::ExtensionOptionsFromTexts(texts);
    return true;
}

std::string AbsoluteFolder(const std::string& typed) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(typed, ec);
    return text::GbkFromUtf8(ec ? typed : absolute.string());
}

bool WriteReport(const std::string& file, const std::vector<ReportRow>& rows) {
    std::string lower = file;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string bytes = lower.ends_with(".json") ? JsonReport(rows) : CsvReport(rows);
    std::ofstream out(std::filesystem::path(file), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "zembrat: the report cannot be written: %s\n", file.c_str());
        return false;
    }
    return true;
}

// Runs the job as the start button does, with the console as its window.
int RunJob(const CommandLine& line, std::map<EditBox, std::string> settings,
           const job::ExtensionOptions& options, std::optional<job::RunPlan> plan) {
    const bool retry = plan.has_value();
    ConsoleWindow window(settings);
    ConsoleEvents events(window);
    web::WebClient web;
    web.CreateRequest();
    web.SetEventPoints(events);

    job::JobDriver driver(window, web, events);
    driver.SetOptions(options);
    events.SetDriver(&driver);
    ConsoleRun::Setup setup;
    setup.quiet = line.quiet;
    setup.terminal = ::isatty(STDERR_FILENO) == 1;
    setup.keepRows = line.reportFile.has_value();
    // Dropped references are told by the described reading; under options that read
    // references otherwise the report lists the kept ones only.
    setup.decideDropped = !retry && !job::ReadsReferencesDifferently(options);
    setup.oldPrefix = settings[EditBox::OldPrefix];
    setup.excludedRanges = settings[EditBox::ExcludedRanges];
    ConsoleRun run(setup, driver, window, events);
    driver.SetObserver(&run);
    driver.SetPlan(std::move(plan));

    InstallInterruptHandler();
    driver.StartOrStop(job::ListingMethod::FolderObject);
    const bool interrupted = InterruptCount() > 0;
    RestoreInterruptHandler();
    run.EndLine();
    run.Complete();

    const std::size_t total = driver.articles().size();
    const job::RunCounts& counts = driver.counts();
    bool reportOk = true;
    if (line.reportFile && total > 0) reportOk = WriteReport(*line.reportFile, run.rows);
    if (total > 0) {
        const std::string result =
            text::Utf8FromGbk(job::ResultFolder(settings[EditBox::ArticleFolder]));
        std::printf(
            "%s: %zu of %zu articles written, %zu images stored, %zu failed, %zu skipped\n"
            "Result folder: %s\n",
            interrupted ? "Stopped" : "Done", counts.articlesWritten, total, counts.imagesStored,
            counts.imagesFailed, run.skipped, result.c_str());
        std::fflush(stdout);
    }
    if (interrupted) return kInterrupted;
    const bool allDone = total > 0 && counts.articlesWritten == total && counts.imagesFailed == 0;
    return allDone && reportOk ? kAllDone : kSomethingFailed;
}

int DryRun(const std::map<EditBox, std::string>& settings) {
    const std::string folder = settings.at(EditBox::ArticleFolder);
    const std::string filter = settings.at(EditBox::ArticleFilter);
    platform::EventPoints quiet;
    const std::vector<std::string> articles =
        job::ListArticles(folder, filter, job::ListingMethod::FolderObject, quiet);
    if (articles.empty()) {
        if (!platform::IsFolder(folder))
            std::fprintf(stderr, "zembrat: %s\n",
                         text::Utf8FromGbk("文章目录不存在："_gbk + folder).c_str());
        else
            std::fprintf(stderr, "zembrat: no '%s' articles in %s\n",
                         text::Utf8FromGbk(filter).c_str(), text::Utf8FromGbk(folder).c_str());
        return kSomethingFailed;
    }
    std::size_t downloads = 0, dropped = 0, unreadable = 0;
    for (const std::string& path : articles) {
        std::printf("%s\n", text::Utf8FromGbk(path).c_str());
        text::Bytes article;
        if (!platform::ReadWholeFile(path, article)) {
            std::printf("  unreadable article\n");
            ++unreadable;
            continue;
        }
        for (const job::RefVerdict& v : job::DecideImageRefs(
                 article, settings.at(EditBox::OldPrefix), settings.at(EditBox::ExcludedRanges))) {
            const std::string source = text::Utf8FromGbk(v.sourceValue);
            if (v.decision == job::RefDecision::Download) {
                ++downloads;
                std::printf("  download  %s\n", text::Utf8FromGbk(v.address).c_str());
            } else {
                ++dropped;
                std::printf("  dropped   %s: %s\n", text::Utf8FromGbk(job::DecisionText(v)).c_str(),
                            source.c_str());
            }
        }
    }
    std::printf("Dry run: %zu articles, %zu images to download, %zu references dropped\n",
                articles.size(), downloads, dropped);
    return unreadable ? kSomethingFailed : kAllDone;
}

int RetryFailed(const CommandLine& line, std::map<EditBox, std::string> settings,
                const job::ExtensionOptions& options) {
    std::ifstream in(std::filesystem::path(*line.retryReport), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    if (!in) return Usage("the report cannot be read: " + *line.retryReport);
    std::vector<ReportRow> rows;
    std::string error;
    if (!ParseCsvReport(content.str(), rows, error)) return Usage(*line.retryReport + ": " + error);

    // The failed references, grouped by article in the report's order.
    job::RunPlan plan;
    std::map<std::string, std::set<std::string>> failed;
    for (const ReportRow& row : rows) {
        if (row.outcome != "failed") continue;
        const std::string article = text::GbkFromUtf8(row.article);
        if (!failed.contains(article)) plan.articles.push_back(article);
        failed[article].insert(text::GbkFromUtf8(row.address));
    }
    if (plan.articles.empty()) {
        std::printf("Nothing to retry: the report lists no failed image\n");
        return kAllDone;
    }
    // The articles' own folder is the run's: its result folder holds their earlier results.
    const std::string folder = text::DirectoryPart(plan.articles[0]);
    for (const std::string& article : plan.articles) {
        if (text::DirectoryPart(article) != folder)
            return Usage("the failed articles of the report are in more than one folder");
    }
    settings[EditBox::ArticleFolder] = folder;
    const std::string resultFolder = job::ResultFolder(folder);
    for (const std::string& article : plan.articles) {
        // The earlier result keeps the images stored then rewritten; without one, the article.
        const std::string earlier = resultFolder + text::FileName(article);
        const bool hasEarlier = platform::PathExists(earlier) && !platform::IsFolder(earlier);
        plan.inputs.push_back(hasEarlier ? earlier : article);
    }
    plan.keep = [failed = std::move(failed)](const std::string& article,
                                             const std::string& address) {
        const auto it = failed.find(article);
        return it != failed.end() && it->second.contains(address);
    };
    return RunJob(line, std::move(settings), options, std::move(plan));
}

}  // namespace

int Main(int argc, char** argv, const std::function<std::string()>& defaultSettingsPath) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.line) return Usage(parsed.error);
    const CommandLine& line = *parsed.line;
    if (line.mode == CommandLine::Mode::Help) {
        std::fputs(HelpText().c_str(), stdout);
        return kAllDone;
    }
    if (line.mode == CommandLine::Mode::Version) {
        std::printf("zembrat %s\n", ZEMBRAT_VERSION);
        return kAllDone;
    }

    std::map<EditBox, std::string> settings;
    job::ExtensionOptions options;
    std::string error;
    const std::string settingsPath =
        line.settingsFile ? text::GbkFromUtf8(*line.settingsFile) : defaultSettingsPath();
    if (!ReadSettings(settingsPath, line.settingsFile.has_value(), settings, options, error))
        return Usage(error);
    ApplySwitches(line.extensions, options);
    auto apply = [&](const std::optional<std::string>& typed, EditBox box) {
        if (typed) settings[box] = text::GbkFromUtf8(*typed);
    };
    apply(line.filter, EditBox::ArticleFilter);
    apply(line.images, EditBox::ImageFolder);
    apply(line.oldPrefix, EditBox::OldPrefix);
    apply(line.newPrefix, EditBox::NewPrefix);
    apply(line.exclude, EditBox::ExcludedRanges);
    if (line.folder) settings[EditBox::ArticleFolder] = AbsoluteFolder(*line.folder);

    if (line.dryRun) {
        // The dry run tells each reference's fate by the described reading.
        if (job::ReadsReferencesDifferently(options))
            return Usage(
                "--dry-run reads references by the described rules only: leave out "
                "--https, --lazy, --html-rules and --markdown (and turn them off in "
                "the settings)");
        return DryRun(settings);
    }
    if (line.retryReport) return RetryFailed(line, std::move(settings), options);
    return RunJob(line, std::move(settings), options, std::nullopt);
}

}  // namespace zembrat::cli
