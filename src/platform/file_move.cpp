#include "platform/file_move.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>

#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/folders_beneath.h"

namespace zembrat::platform {
namespace {

using files_detail::Fd;
using files_detail::OpenFolders;
using files_detail::PathNames;
using files_detail::Retrying;

// The names of one open folder (a readable descriptor of it), "." and ".." left out.
struct Entry {
    std::string name;  // the file system's form
    bool folder = false;
    bool regular = false;
};
std::vector<Entry> Entries(int folder) {
    std::vector<Entry> entries;
    const int readable = Retrying(
        [&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (readable < 0) return entries;
    DIR* dir = ::fdopendir(readable);
    if (!dir) {
        ::close(readable);
        return entries;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries.push_back({name, S_ISDIR(st.st_mode), S_ISREG(st.st_mode)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return NameLess(GbkFromNative(a.name), GbkFromNative(b.name));
    });
    return entries;
}

Fd OpenBelow(std::string_view base, std::string_view relativeFolder) {
    if (relativeFolder.empty()) return OpenFolders(base, {}, 0, false);
    const auto names = PathNames(relativeFolder);
    if (!names) return Fd();
    return OpenFolders(base, *names, names->size(), false);
}

void CollectFiles(int folder, const std::string& below, bool hidden,
                  std::vector<std::string>& out) {
    for (const Entry& e : Entries(folder)) {
        if (!hidden && e.name.starts_with(".")) continue;
        const std::string path = below + (below.empty() ? "" : "/") + GbkFromNative(e.name);
        if (e.regular) {
            out.push_back(path);
        } else if (e.folder) {
            const Fd next(Retrying([&] {
                return ::openat(folder, e.name.c_str(),
                                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }));
            if (next) CollectFiles(next.get(), path, hidden, out);
        }
    }
}

bool RemoveContent(int folder, const std::string& below, std::vector<std::string>* removed) {
    bool ok = true;
    for (const Entry& e : Entries(folder)) {
        const std::string path = below + (below.empty() ? "" : "/") + GbkFromNative(e.name);
        if (e.folder) {
            const Fd next(Retrying([&] {
                return ::openat(folder, e.name.c_str(),
                                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }));
            ok = next && RemoveContent(next.get(), path, removed) && ok;
            ok = ::unlinkat(folder, e.name.c_str(), AT_REMOVEDIR) == 0 && ok;
        } else if (::unlinkat(folder, e.name.c_str(), 0) == 0) {
            if (removed && e.regular) removed->push_back(path);
        } else {
            ok = false;
        }
    }
    return ok;
}

}  // namespace

MoveBeneathResult MoveFileBeneath(std::string_view base, std::string_view from,
                                  std::string_view to) {
    const auto fromNames = PathNames(from);
    const auto toNames = PathNames(to);
    if (!fromNames || !toNames) return MoveBeneathResult::Refused;
    const Fd source = OpenFolders(base, *fromNames, fromNames->size() - 1, false);
    if (!source) return errno == ENOENT ? MoveBeneathResult::Missing : MoveBeneathResult::Refused;
    struct stat st {};
    if (::fstatat(source.get(), fromNames->back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return MoveBeneathResult::Missing;
    if (!S_ISREG(st.st_mode)) return MoveBeneathResult::Refused;
    const Fd target = OpenFolders(base, *toNames, toNames->size() - 1, true);
    if (!target) return MoveBeneathResult::Failed;
    // Never over what is there: the kernel refuses a name that is taken.
    if (::renameat2(source.get(), fromNames->back().c_str(), target.get(), toNames->back().c_str(),
                    RENAME_NOREPLACE) == 0)
        return MoveBeneathResult::Moved;
    return errno == EEXIST ? MoveBeneathResult::Taken : MoveBeneathResult::Failed;
}

std::vector<std::string> FilesBeneath(std::string_view base, std::string_view relativeFolder,
                                      bool hidden) {
    std::vector<std::string> files;
    const Fd folder = OpenBelow(base, relativeFolder);
    if (folder) CollectFiles(folder.get(), "", hidden, files);
    return files;
}

std::vector<std::string> FoldersBeneath(std::string_view base, std::string_view relativeFolder) {
    std::vector<std::string> folders;
    const Fd folder = OpenBelow(base, relativeFolder);
    if (!folder) return folders;
    for (const Entry& e : Entries(folder.get())) {
        if (e.folder) folders.push_back(GbkFromNative(e.name));
    }
    return folders;
}

bool RemoveFolderBeneath(std::string_view base, std::string_view relativeFolder,
                         std::vector<std::string>* removed) {
    const auto names = PathNames(relativeFolder);
    if (!names) return false;
    const Fd parent = OpenFolders(base, *names, names->size() - 1, false);
    if (!parent) return false;
    const Fd folder(Retrying([&] {
        return ::openat(parent.get(), names->back().c_str(),
                        O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }));
    if (!folder) return false;
    const bool emptied = RemoveContent(folder.get(), "", removed);
    return ::unlinkat(parent.get(), names->back().c_str(), AT_REMOVEDIR) == 0 && emptied;
}

bool RemoveFileBeneath(std::string_view base, std::string_view relative) {
    const auto names = PathNames(relative);
    if (!names) return false;
    const Fd parent = OpenFolders(base, *names, names->size() - 1, false);
    struct stat st {};
    return parent &&
           ::fstatat(parent.get(), names->back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && ::unlinkat(parent.get(), names->back().c_str(), 0) == 0;
}

void RemoveEmptyFoldersBeneath(std::string_view base, std::string_view relative, std::size_t keep) {
    const auto names = PathNames(relative);
    if (!names) return;
    for (std::size_t count = names->size() - 1; count > keep; --count) {
        const Fd parent = OpenFolders(base, *names, count - 1, false);
        // A folder that still holds something is not removed, and nor is any above it.
        if (!parent || ::unlinkat(parent.get(), (*names)[count - 1].c_str(), AT_REMOVEDIR) != 0)
            return;
    }
}

}  // namespace zembrat::platform
