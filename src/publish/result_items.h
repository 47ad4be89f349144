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

// The record's manifest, as the runner keeps it.
class RecordManifest : public PublishManifest {
  public:
    explicit RecordManifest(record::RunRecord& record) : record_(record) {}
    std::optional<ManifestEntry> Find(const std::string& place,
                                      const std::string& remotePath) override;
    bool Put(const std::string& place,
             const std::vector<std::pair<std::string, ManifestEntry>>& published) override;

  private:
    record::RunRecord& record_;
};

}  // namespace zembrat::publish
