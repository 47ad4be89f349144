#include "platform/folders_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include "platform/files.h"
#include "text/codec.h"

namespace zembrat::platform::files_detail {

std::string WithoutFinalSeparators(std::string_view path) {
    while (path.size() > 1 && path.back() == text::kPathSeparator) path.remove_suffix(1);
    return std::string(path);
}

std::optional<std::vector<std::string>> PathNames(std::string_view relative) {
    if (relative.empty() || relative.front() == text::kPathSeparator) return std::nullopt;
    std::vector<std::string> names;
    for (const std::string& part : text::Split(std::string(relative), "/")) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::nullopt;
        names.push_back(NativePath(part).string());
    }
    if (names.empty()) return std::nullopt;
    return names;
}

namespace {

#ifdef SYS_openat2
// One call for a folder path that is all there, where the kernel has openat2: beneath the base,
// no link followed. ENOSYS (an older kernel) and ENOENT send the caller to the walk.
int OpenBeneath(int base, const std::string& path) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    return Retrying([&] {
        return static_cast<int>(::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how));
    });
}
#endif

}  // namespace

Fd OpenFolders(std::string_view base, const std::vector<std::string>& names, std::size_t count,
               bool make) {
    const std::string top = NativePath(WithoutFinalSeparators(base)).string();
    Fd folder(Retrying(
        [&] { return ::open(top.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    struct stat st {};
    if (folder && (::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode))) return Fd();
    if (!folder || count == 0) return folder;
#ifdef SYS_openat2
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + names[i];
    const int whole = OpenBeneath(folder.get(), path);
    if (whole >= 0) return Fd(whole);
    if (errno != ENOSYS && errno != ENOENT) return Fd();
#endif
    for (std::size_t i = 0; i < count; ++i) {
        const char* name = names[i].c_str();
        auto open = [&] {
            return Retrying([&] {
                return ::openat(folder.get(), name,
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            });
        };
        int next = open();
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(folder.get(), name, 0777) != 0 && errno != EEXIST) return Fd();
            next = open();
        }
        if (next < 0) return Fd();  // ENOTDIR or ELOOP: a file or a link in the way
        folder = Fd(next);
    }
    return folder;
}

}  // namespace zembrat::platform::files_detail
