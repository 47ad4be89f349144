// A temporary folder for one test, removed with everything in it when the object goes.
#pragma once

#include <string>
#include <string_view>

#include "text/gbk.h"

namespace zembrat::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder as GBK text, without a final separator.
    const std::string& path() const { return path_; }
    // path() + separator + relative (relative is GBK, "/" separated).
    std::string operator/(std::string_view relative) const;

    // Writes a file below the folder, making its folders; returns its GBK path.
    std::string Write(std::string_view relative, std::string_view bytes) const;

  private:
    std::string path_;
};

// The whole content of a file, or "<missing>" when it cannot be read.
std::string ReadFileOrMissing(std::string_view path);

}  // namespace zembrat::testing
