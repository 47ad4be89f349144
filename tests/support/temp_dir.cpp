#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace zembrat::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zembrat-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = platform::GbkFromNative(fs::path(pattern));
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission first, so that tests may leave read-only folders behind.
    for (auto it = fs::recursive_directory_iterator(platform::NativePath(path_), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(platform::NativePath(path_), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(platform::NativePath(path_), ec);
}

std::string TempDir::operator/(std::string_view relative) const {
    std::string out = path_;
    out += text::kPathSeparator;
    for (char c : relative) out += (c == '/') ? text::kPathSeparator : c;
    return out;
}

std::string TempDir::Write(std::string_view relative, std::string_view bytes) const {
    const std::string full = *this / relative;
    std::error_code ec;
    fs::create_directories(platform::NativePath(full).parent_path(), ec);
    if (!platform::WriteWholeFile(full, bytes)) ADD_FAILURE() << "cannot write " << full;
    return full;
}

std::string ReadFileOrMissing(std::string_view path) {
    text::Bytes bytes;
    if (!platform::ReadWholeFile(path, bytes)) return "<missing>";
    return bytes;
}

}  // namespace zembrat::testing
