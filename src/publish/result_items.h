// What a result has to publish, as the run record knows it: every image a run stored whose file
// is still there, and (when asked) every article a run wrote, each under its path below the
// result folder, so that the new addresses resolve on the site.
#pragma once

#include <string>
#include <vector>

#include "publish/publish_run.h"

namespace zembrat::record {
class RunRecord;
}

namespace zembrat::publish {

// A path below the result folder (GBK, as the record keeps it) as the server names it: UTF-8,
// "/" between pieces.
std::string RemotePathOf(const std::string& relative);

// resultFolder: GBK, with or without its final separator. Images first (by stored name), then
// the articles (in run order). An image names the articles that use it.
std::vector<PublishItem> ResultItems(const record::RunRecord& record,
                                     const std::string& resultFolder, bool articles);

// What a result folder without a run record has to publish, from its files: each content-named
// file of the image folder (imageFolder: GBK, below the result folder; its CRC-32 from its name
// checked against its bytes), then, when articleFilter (GBK, a pattern such as "*.htm") is given,
// the result folder's files it matches.
std::vector<PublishItem> FolderItems(const std::string& resultFolder,
                                     const std::string& imageFolder,
                                     const std::string& articleFilter);

// The record's manifest, as the runner keeps it.
class RecordManifest : public PublishManifest {
  public:
    explicit RecordManifest(record::RunRecord& record) : record_(record) {}
    std::optional<ManifestEntry> Find(const std::string& place,
                                      const std::string& remotePath) override;
    bool Put(const std::string& place,
             const std::vector<std::pair<std::string, ManifestEntry>>& published) override;
    bool Forget(const std::string& place, const std::vector<std::string>& remotePaths) override;

  private:
    record::RunRecord& record_;
};

}  // namespace zembrat::publish
