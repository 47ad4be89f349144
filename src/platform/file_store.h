// Storing bytes beneath a base folder under a name they get only once they are whole, unless
// equal bytes are already there: what a run does with each picture it downloads.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::platform {

// What StoreBytesBeneath found and did.
enum class StoreBytesResult {
    Stored,  // a new file was made
    Same,    // a regular file with the same bytes was already there
    Taken,   // something else is there: other bytes, a folder, a link, a device
    Failed,  // could not be written (or the path leaves the base); nothing half-written is left
};
// Stores the bytes at base/relativePath unless equal bytes are already there, making missing
// folders on the way. Nothing beneath base is followed through a link and nothing is written
// through one; a write that fails leaves nothing behind. relativePath is GBK, "/"-separated,
// with no ".." part.
StoreBytesResult StoreBytesBeneath(std::string_view base, std::string_view relativePath,
                                   std::string_view bytes);

// A folder beneath a base folder, held open for storing many files into it: Store(name, bytes)
// does what StoreBytesBeneath(base, relativeFolder + "/" + name, bytes) does, with the folder
// opened (and made where missing) once instead of per file.
class FolderBeneath {
  public:
    // Nothing is opened or made until the first Store.
    FolderBeneath(std::string_view base, std::string_view relativeFolder);
    ~FolderBeneath();
    FolderBeneath(const FolderBeneath&) = delete;
    FolderBeneath& operator=(const FolderBeneath&) = delete;

    // name is one GBK file name (no "/"); the result as StoreBytesBeneath gives it.
    StoreBytesResult Store(std::string_view name, std::string_view bytes);

  private:
    bool Open();
    std::string base_;
    std::string relative_;
    int fd_ = -1;
    bool unnamedFiles_ = true;  // the folder's file system makes files without a name
};

}  // namespace zembrat::platform
