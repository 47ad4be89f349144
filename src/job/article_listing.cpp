#include "job/article_listing.h"

#include <algorithm>
#include <filesystem>

#include "automation/collection_walker.h"
#include "automation/file_system.h"
#include "automation/regex_object.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/gbk.h"

namespace zembrat::job {

std::vector<std::string> FileSearchListing(std::string_view folder, std::string_view filter,
                                           platform::EventPoints& events) {
    const std::string dir = text::WithSeparator(folder);
    const std::string patterns = filter.empty() ? std::string("*.*") : std::string(filter);
    std::vector<std::string> articles;
    for (const std::string& pattern : text::Split(patterns, "|")) {
        for (const std::string& name : platform::SearchFiles(dir, pattern)) {
            articles.push_back(dir + name);
            events.ProcessEvents();
        }
    }
    return articles;
}

std::vector<std::string> FolderObjectListing(std::string_view folder, std::string_view filter,
                                             platform::EventPoints& events) {
    automation::FileSystem fileSystem;
    std::vector<std::string> articles;
    const std::string dir = text::WithSeparator(folder);
    const std::string wildcards = filter.empty() ? std::string("*") : std::string(filter);

    enum class Mode { AllNames, Extension, Pattern } mode = Mode::Pattern;
    std::string extension;
    automation::RegexObjectCp936 pattern;
    if (wildcards == "*.*" || wildcards == "*") {
        mode = Mode::AllNames;
    } else if (wildcards.compare(0, 2, "*.") == 0 && text::FindLast(wildcards, "*") == 0) {
        mode = Mode::Extension;
        extension = text::AsciiLower(wildcards.substr(1));
    } else {
        pattern.Create(automation::RegexObjectCp936::WildcardToPattern(wildcards));
    }

    automation::CollectionWalker walker;
    walker.Start(fileSystem.GetFolder(dir).Items(false));
    automation::VariantValue element;
    while (walker.Next(element)) {
        automation::FileItem file;
        file.Attach(element.AsObject());
        const std::string name = file.Name();
        bool listed = false;
        switch (mode) {
            case Mode::AllNames:
                listed = true;
                break;
            case Mode::Extension:
                listed = text::EndsWithNoCase(name, extension);
                break;
            case Mode::Pattern:
                listed = pattern.Execute(name) >= 1;
                break;
        }
        if (listed) articles.push_back(dir + name);
        events.ProcessEvents();
    }
    return articles;
}

namespace {

std::vector<std::string> ListOneFolder(std::string_view folder, std::string_view filter,
                                       ListingMethod method, platform::EventPoints& events) {
    switch (method) {
        case ListingMethod::FolderObject:
            return FolderObjectListing(folder, filter, events);
        case ListingMethod::FileSearch:
            return FileSearchListing(folder, filter, events);
    }
    return {};
}

// The folder's own articles, then those of its subfolders. above: the folders on the way down
// (the folder itself last), so that a folder mounted inside itself is not walked forever.
void ListTree(const std::string& dir, std::string_view filter, ListingMethod method,
              platform::EventPoints& events, const std::filesystem::path& resultFolder,
              std::vector<std::filesystem::path>& above, std::vector<std::string>& articles) {
    for (std::string& path : ListOneFolder(dir, filter, method, events))
        articles.push_back(std::move(path));
    for (const platform::FolderEntry& entry : platform::ListFolder(dir)) {
        events.ProcessEvents();
        const std::string sub = dir + entry.name;
        if (!entry.isFolder || entry.name.starts_with('.') || !platform::IsRealFolder(sub))
            continue;
        const std::filesystem::path native = platform::NativePath(sub);
        auto same = [&](const std::filesystem::path& other) {
            std::error_code ec;
            return std::filesystem::equivalent(native, other, ec);
        };
        if (same(resultFolder) || std::any_of(above.begin(), above.end(), same)) continue;
        above.push_back(native);
        ListTree(text::WithSeparator(sub), filter, method, events, resultFolder, above, articles);
        above.pop_back();
    }
}

}  // namespace

std::vector<std::string> ListArticles(std::string_view folder, std::string_view filter,
                                      ListingMethod method, platform::EventPoints& events,
                                      const ListingScope& scope) {
    if (!scope.recursive) return ListOneFolder(folder, filter, method, events);
    std::vector<std::string> articles;
    std::vector<std::filesystem::path> above{platform::NativePath(folder)};
    ListTree(text::WithSeparator(folder), filter, method, events,
             platform::NativePath(scope.resultFolder), above, articles);
    return articles;
}

std::string ArticleBelow(std::string_view folder, std::string_view path) {
    const std::string dir = text::WithSeparator(folder);
    if (path.size() > dir.size() && path.starts_with(dir))
        return std::string(path.substr(dir.size()));
    return text::FileName(path);
}

}  // namespace zembrat::job
