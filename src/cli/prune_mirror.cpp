#include "cli/prune_mirror.h"

namespace zembrat::cli {

std::unique_ptr<job::TrashMirror> OpenPruneMirror(const publish::ResultPublishRequest& request,
                                                  std::string& error) {
    error = "a prune on a publish target is not available yet (" + request.target + ")";
    return nullptr;
}

}  // namespace zembrat::cli
