#include "job/article_listing.h"

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

std::vector<std::string> ListArticles(std::string_view folder, std::string_view filter,
                                      ListingMethod method, platform::EventPoints& events) {
    switch (method) {
        case ListingMethod::FolderObject:
            return FolderObjectListing(folder, filter, events);
        case ListingMethod::FileSearch:
            return FileSearchListing(folder, filter, events);
    }
    return {};
}

}  // namespace zembrat::job
