// Listing the article files of one folder, and of its subfolders under the recursive option.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job {

// The two ways a run lists its articles, chosen by the mouse action that started it.
enum class ListingMethod {
    FolderObject,  // walk the folder's files and match names against the filter as a pattern
    FileSearch,    // one directory search per "|"-separated wildcard of the filter
};

// How far a listing reaches beyond the folder's own files.
struct ListingScope {
    // Then each subfolder in name order, walked the same way: never a hidden one (its name
    // starts with "."), never a link to a folder, never a folder met again on the way down, and
    // never the result folder.
    bool recursive = false;
    std::string resultFolder;  // GBK
};

// Full paths of the matching files: the folder, a separator when it lacks one, the name (under
// the recursive option the folder's own files first, then those of each subfolder, "sub/name").
// Never fails: a missing or unreadable folder gives an empty list. Events are processed after
// every entry.
std::vector<std::string> ListArticles(std::string_view folder, std::string_view filter,
                                      ListingMethod method, platform::EventPoints& events,
                                      const ListingScope& scope = {});

// The article's path below the folder ("sub/dir/a.htm"); its file name when it lies elsewhere.
std::string ArticleBelow(std::string_view folder, std::string_view path);

// Walks the folder's files through the file-system objects. An empty filter means "*". "*" and
// "*.*" list every file; "*.ext" (no other "*") lists names ending in .ext, letter case ignored;
// any other filter is a wildcard pattern (with "|" between alternatives) that may match
// anywhere in the name, letter case ignored.
std::vector<std::string> FolderObjectListing(std::string_view folder, std::string_view filter,
                                             platform::EventPoints& events);

// An empty filter means "*.*"; an empty piece between two "|" matches nothing; a name matching
// two pieces is listed twice, the names of the first piece first.
std::vector<std::string> FileSearchListing(std::string_view folder, std::string_view filter,
                                           platform::EventPoints& events);

}  // namespace zembrat::job
