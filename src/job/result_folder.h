// The result folder and the folders below it: where a run writes, and the rule that keeps an
// image folder beneath it.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "job/extension_options.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job {

// Makes every folder of path that ends before a separator, one level at a time: a path that
// ends with the separator makes its last folder, a file path the folders that hold the file.
// The root (the empty prefix before a leading separator) is skipped. False as soon as a folder that
// did not exist cannot be made.
bool MakeFolders(std::string_view path);

// True when a path meant to stay below a folder has a ".." piece ("/" and "\\" both separate
// pieces), which could lead out of it.
bool LeavesItsBase(std::string_view relative);

// The folder the run writes into: the article folder, one separator, "转存结果" and a
// final separator.
std::string ResultFolder(std::string_view articleFolder);

// The run's result folder, the one every front end and the report name: the output folder
// option's folder with a final separator when one is given, otherwise ResultFolder above.
std::string ResultFolder(std::string_view articleFolder, const ExtensionOptions& options);

// An output folder the run can take: none, or an absolute one (a relative one would depend on
// where the program happens to be started) that is not the article folder itself, whose
// articles the results would replace.
bool OutputFolderUsable(std::string_view articleFolder, const ExtensionOptions& options);

// Whether an article written under the recursive option into an output folder carries its page
// bundle along: its name is index.* or _index.* ("posts/trip/index.md").
bool CarriesPageBundle(std::string_view articlePath, const ExtensionOptions& options);

// Copies the page bundle of the article at articlePath (GBK, below articleFolder) beside its
// result: every file of the article's folder and of its subfolders (none hidden, none reached
// through a link, none of a result folder) that is not one of the run's articles, at its place
// below the article folder. A file is read and stored by the rule a run writes by: no link
// below either folder is followed, and a file already there with other bytes (another run's) is
// left as it is. The number of files that could not be copied so.
std::size_t CopyPageBundle(std::string_view articleFolder, const std::string& articlePath,
                           const std::string& resultFolder, const std::set<std::string>& articles,
                           platform::EventPoints& events);

}  // namespace zembrat::job
