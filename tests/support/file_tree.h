// The files of a folder tree with their bytes, for comparing what two runs wrote. No test
// framework here, so a benchmark can use it too.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

namespace zembrat::testing {

// Every regular file below folder with its bytes, by its path below folder; those whose name
// begins with leftOut (when given) are left out. Empty when there is no such folder.
inline std::map<std::string, std::string> FilesBelow(const std::filesystem::path& folder,
                                                     std::string_view leftOut = {}) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file() ||
            (!leftOut.empty() && e.path().filename().string().starts_with(leftOut)))
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        tree[std::filesystem::relative(e.path(), folder).string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return tree;
}

}  // namespace zembrat::testing
