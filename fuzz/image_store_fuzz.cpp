// Storing images into a scratch tree that the input fills first: files with the same or other
// bytes at the names a store tries, folders, and links pointing outside the base folder, at the
// names and in place of the image folder or the base itself. Checked: nothing changes outside
// the base folder, nothing is written through a link, a store either adds exactly the one file
// (and the folders it needed) holding the stored bytes or changes nothing, it takes the first
// name that is free or holds the same bytes, and it tells a reuse only for the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"
#include "job/article_images.h"
#include "text/gbk.h"

namespace {
namespace fs = std::filesystem;
using namespace zembrat;

using Snapshot = std::map<std::string, std::string>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every entry below root, links not followed: "d" for a folder, "l" and the target for a link,
// "f" and the bytes for a file.
void Take(const std::string& root, const std::string& rel, Snapshot& out) {
    const std::string path = rel.empty() ? root : root + "/" + rel;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        out[rel] = "l" + fs::read_symlink(path, ec).string();
    } else if (S_ISDIR(st.st_mode)) {
        out[rel] = "d";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            const std::string name = entry.path().filename().string();
            Take(root, rel.empty() ? name : rel + "/" + name, out);
        }
    } else {
        out[rel] = "f" + ReadAll(path);
    }
}

Snapshot Take(const std::string& root) {
    Snapshot s;
    Take(root, {}, s);
    return s;
}

// What stands at path: nullopt when nothing does.
std::optional<std::string> EntryAt(const Snapshot& s, const std::string& rel) {
    const auto it = s.find(rel);
    if (it == s.end()) return std::nullopt;
    return it->second;
}

const std::array<const char*, 3> kImageFolders{"img", "img/sub", "img\\sub"};
const std::array<const char*, 2> kStems{"C0FFEE", "1A2B"};
const std::array<const char*, 2> kExtensions{"jpg", "png"};
constexpr int kVariants = 4;

std::string VariantName(const std::string& stem, int variant, const std::string& ext) {
    return (variant == 1 ? stem : stem + "_" + std::to_string(variant)) + "." + ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    static const std::string tree = fuzzing::ScratchPath("tree");
    std::error_code ec;
    fs::remove_all(tree, ec);
    const std::string base = tree + "/base";
    const std::string outside = tree + "/outside";
    fs::create_directories(outside + "/dir", ec);
    FUZZ_CHECK(!ec);

    FuzzedDataProvider in(data, size);
    const std::string imageFolder = kImageFolders[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
    const std::string folderRel = text::ReplaceAll(imageFolder, "\\", "/");
    const std::string stem = kStems[in.ConsumeBool()];
    const std::string ext = kExtensions[in.ConsumeBool()];
    const std::string same = in.ConsumeRandomLengthString(32);
    const std::string other = same + "x";
    {
        std::ofstream(outside + "/secret." + ext, std::ios::binary) << same;
        std::ofstream(outside + "/dir/" + VariantName(stem, 1, ext), std::ios::binary) << other;
    }
    if (in.ConsumeIntegralInRange<int>(0, 15) == 15) {
        // The base itself a link to a folder outside: nothing may be stored.
        fs::create_directory_symlink(outside + "/dir", base, ec);
    } else {
        fs::create_directory(base, ec);
    }

    // The entries: at a name a store tries, or in place of a folder on the way.
    std::vector<std::string> places;
    for (int v = 1; v <= kVariants; ++v)
        places.push_back(folderRel + "/" + VariantName(stem, v, ext));
    places.push_back("img");
    places.push_back(folderRel);
    const int entries = in.ConsumeIntegralInRange<int>(0, 8);
    for (int e = 0; e < entries; ++e) {
        const std::string rel =
            places[in.ConsumeIntegralInRange<std::size_t>(0, places.size() - 1)];
        const std::string path = base + "/" + rel;
        if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) continue;
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (ec) continue;
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0:
                std::ofstream(path, std::ios::binary) << same;
                break;
            case 1:
                std::ofstream(path, std::ios::binary) << other;
                break;
            case 2:
                fs::create_symlink(outside + "/secret." + ext, path, ec);
                break;
            case 3:
                fs::create_directory_symlink(outside + "/dir", path, ec);
                break;
            case 4:
                fs::create_symlink(outside + "/missing", path, ec);
                break;
            case 5:
                fs::create_directory(path, ec);
                break;
            default:
                fs::create_symlink("../../outside/secret." + ext, path, ec);
                break;
        }
    }

    platform::FolderBeneath folder(base, folderRel);
    const int stores = in.ConsumeIntegralInRange<int>(1, 3);
    for (int s = 0; s < stores; ++s) {
        const int pick = in.ConsumeIntegralInRange<int>(0, 2);
        const std::string bytes = pick == 0   ? same
                                  : pick == 1 ? other
                                              : in.ConsumeRandomLengthString(16);
        const Snapshot outsideBefore = Take(outside);
        const Snapshot before = Take(base);

        // What the store must do: fail when the base or a folder on the way is no folder,
        // else take the first name that is free or holds the same bytes.
        bool blocked = EntryAt(before, "") != "d";
        std::string path;
        for (std::size_t from = 0; !blocked;) {
            const std::size_t slash = folderRel.find('/', from);
            path = folderRel.substr(0, slash);
            const std::optional<std::string> entry = EntryAt(before, path);
            if (entry && *entry != "d") blocked = true;
            if (slash == std::string::npos) break;
            from = slash + 1;
        }
        std::optional<std::string> expected;
        bool expectReuse = false;
        for (int v = 1; !blocked && !expected; ++v) {
            const std::string rel = folderRel + "/" + VariantName(stem, v, ext);
            const std::optional<std::string> entry = EntryAt(before, rel);
            if (!entry || *entry == "f" + bytes) {
                expected = rel;
                expectReuse = entry.has_value();
            }
        }

        bool reused = false;
        const std::optional<std::string> stored =
            job::StoreImage(folder, folderRel, stem, ext, bytes, &reused);
        const Snapshot after = Take(base);
        FUZZ_CHECK(Take(outside) == outsideBefore);
        FUZZ_CHECK(stored == expected);
        if (!stored) {
            FUZZ_CHECK(after == before);
            continue;
        }
        FUZZ_CHECK(reused == expectReuse);
        FUZZ_CHECK(EntryAt(after, *stored) == "f" + bytes);
        // Besides the file, only the folders it needed are new; nothing else changed.
        Snapshot rest = after;
        rest.erase(*stored);
        for (const std::string& f : {std::string("img"), folderRel}) {
            if (!before.count(f) && rest.count(f) && rest[f] == "d") rest.erase(f);
        }
        Snapshot old = before;
        if (expectReuse) old.erase(*stored);
        FUZZ_CHECK(rest == old);
    }
    fs::remove_all(tree, ec);
    return 0;
}
