// The publish target a prune, a restore or an emptied trash is repeated on (--publish TARGET).
#pragma once

#include <memory>
#include <string>

#include "job/trash_mirror.h"
#include "publish/result_publish.h"

namespace zembrat::cli {

// The mirror of request's target for request's result folder (its record's manifest says what
// was published there); nullptr with error (UTF-8, naming the target) when it cannot be opened.
std::unique_ptr<job::TrashMirror> OpenPruneMirror(const publish::ResultPublishRequest& request,
                                                  std::string& error);

}  // namespace zembrat::cli
