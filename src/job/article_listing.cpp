#include "job/article_listing.h"

#include "platform/files.h"
#include "text/gbk.h"

namespace zembrat::job {

std::vector<std::string> FileSearchListing(std::string_view folder, std::string_view filter,
                                           const EventPump& pump) {
    const std::string dir = text::WithSeparator(folder);
    const std::string patterns = filter.empty() ? std::string("*.*") : std::string(filter);
    std::vector<std::string> articles;
    for (const std::string& pattern : text::Split(patterns, "|")) {
        for (const std::string& name : platform::SearchFiles(dir, pattern)) {
            articles.push_back(dir + name);
            if (pump) pump();
        }
    }
    return articles;
}

std::vector<std::string> ListArticles(std::string_view folder, std::string_view filter,
                                      ListingMethod method, const EventPump& pump) {
    switch (method) {
        case ListingMethod::FolderObject:  // served by the directory search until the folder walk lands
        case ListingMethod::FileSearch:
            return FileSearchListing(folder, filter, pump);
    }
    return {};
}

}  // namespace zembrat::job
